#include "store/plain_store.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "store/composite_store.h"
#include "store/lock_record_io.h"
#include "support/byte_buffers.h"
#include "support/num_arrays.h"

namespace {

// The format version the plain stores' reads are checked under.
constexpr int32_t kVersion = 5;

NumArray Constant(int32_t n, double value) { return MakeArray(std::vector<double>(n, value)); }

std::vector<float> Row(const PlainStore& store, int32_t action) {
  const FloatArray& row = store.row(action);
  return std::vector<float>(row.data, row.data + row.count);
}

void SetMask(NodeLockRecord& record, const std::vector<uint8_t>& bytes) {
  record.FreeMask();
  record.flags |= COMBO_LOCKED;
  record.mask = static_cast<uint8_t*>(std::malloc(bytes.size()));
  std::memcpy(record.mask, bytes.data(), bytes.size());
  record.mask_length = static_cast<int32_t>(bytes.size());
}

// Eleven hands: eight in the block form, three in the exact remainder.
constexpr int32_t kWidth = 11;
constexpr int32_t kBlockHands = 8;
// The block form's powers |d|^0.75 come from the processor's reciprocal square
// root estimate, refined once: within about 8 float epsilons of the exact
// power, differently on different processors.
constexpr double kBlockEpsilons = 10.0;

TEST(PlainStoreTest, StrategyDefaultsSingleActionAndGeneralForm) {
  const float defaults[5] = {0.5f, 0.25f, 0.125f, 0.0625f, 0.0625f};
  PlainStore empty(3, kWidth);
  EXPECT_EQ(empty.GetValueCount(-1), 0);
  for (const NumArray& a : empty.GetStrategy(-1, -1, defaults)) EXPECT_EQ(a.count, 0);

  ASSERT_TRUE(empty.Allocate());
  EXPECT_EQ(empty.GetValueCount(-1), 3 * kWidth);
  std::vector<NumArray> zero = empty.GetStrategy(-1, -1, defaults);
  ASSERT_EQ(zero.size(), 3u);
  for (int a = 0; a < 3; ++a)
    for (int k = 0; k < kWidth; ++k) EXPECT_EQ(zero[a][k], defaults[a]);

  // One action: 1 where the value reaches FLT_MIN, the default elsewhere.
  PlainStore single(1, kWidth);
  single.Allocate();
  std::vector<double> v(kWidth, 3.5);
  v[1] = 0.0;
  v[2] = 1e-39;
  v[9] = 0.0;
  v[10] = FLT_MIN;
  single.SetActionValues(-1, -1, 0, MakeArray(v));
  std::vector<NumArray> one = single.GetStrategy(-1, -1, defaults);
  for (int k = 0; k < kWidth; ++k)
    EXPECT_NEAR(one[0][k], (k == 1 || k == 2 || k == 9) ? 0.5 : 1.0, 1e-6) << k;

  // Five actions over more hands than one stack chunk of sums.
  const int32_t wide = 1100;
  PlainStore five(5, wide);
  five.Allocate();
  for (int a = 0; a < 5; ++a) {
    std::vector<double> row(wide);
    for (int k = 0; k < wide; ++k) row[k] = (k % 7 == 0) ? 0.0 : (a + 1) * 0.37 + k % 13;
    five.SetActionValues(-1, -1, a, MakeArray(row));
  }
  std::vector<NumArray> s = five.GetStrategy(-1, -1, defaults);
  for (int k = 0; k < wide; ++k) {
    float sum = 0.0f;
    for (int a = 0; a < 5; ++a) sum += five.row(a).data[k];
    for (int a = 0; a < 5; ++a) {
      const double exact = sum >= FLT_MIN ? five.row(a).data[k] / sum : defaults[a];
      ASSERT_NEAR(s[a][k], exact, 4 * FLT_EPSILON * exact) << a << " " << k;
    }
  }
}

TEST(PlainStoreTest, RegretUpdateEdgeCasesInBothForms) {
  PlainStore store(2, kWidth);
  store.Allocate();
  std::vector<double> start(kWidth, 1.0);
  start[0] = start[9] = 2.0;
  start[1] = start[10] = 0.0;
  store.SetActionValues(-1, -1, 0, MakeArray(start));
  std::vector<double> node(kWidth, 1.0), action(kWidth, 1.0);
  action[0] = action[9] = 1.0 - 5.0;   // d = -5 on 2.0
  action[1] = action[10] = 1.0 + 16;   // d = 16 on 0
  std::vector<NumArray> actions;
  actions.push_back(MakeArray(action));
  actions.push_back(NumArray());  // absent: d = -node value
  actions.back().count = kWidth;
  store.UpdateRegrets(-1, -1, MakeArray(node), actions, nullptr, nullptr, 1.0);
  const std::vector<float> r0 = Row(store, 0);
  EXPECT_EQ(r0[0], 0.0f);
  EXPECT_EQ(r0[9], 0.0f);
  EXPECT_NEAR(r0[1], 8.0f, kBlockEpsilons * FLT_EPSILON * 8.0);
  EXPECT_EQ(r0[10], 8.0f);
  EXPECT_EQ(r0[5], 1.0f);  // d = 0
  // Absent action values: d = -1 on 0 gives 0 everywhere.
  for (float x : Row(store, 1)) EXPECT_EQ(x, 0.0f);
  // Also without a count: d = -node value for every hand.
  store.SetActionValues(-1, -1, 1, Constant(kWidth, 3.0));
  actions.back() = NumArray();
  store.UpdateRegrets(-1, -1, MakeArray(node), actions, nullptr, nullptr, 1.0);
  const std::vector<float> r1 = Row(store, 1);
  for (int k = 0; k < kWidth; ++k) {
    if (k < kBlockHands) {
      EXPECT_NEAR(r1[k], 2.0f, kBlockEpsilons * FLT_EPSILON * 3.0) << k;
    } else {
      EXPECT_EQ(r1[k], 2.0f) << k;
    }
  }
}

TEST(PlainStoreTest, MaskedHandsKeepTheirValues) {
  const std::vector<uint8_t> mask = {1, 0, 0, 1, 1, 1, 1, 1, 0, 1, 0};
  PlainStore plain(2, kWidth), masked(2, kWidth);
  for (PlainStore* s : {&plain, &masked}) {
    s->Allocate();
    for (int a = 0; a < 2; ++a) s->SetActionValues(-1, -1, a, Constant(kWidth, 3.0 + a));
  }
  SetMask(*masked.GetLockRecord(-1, -1), mask);

  std::vector<NumArray> action_values;
  action_values.push_back(Constant(kWidth, 9.0));
  action_values.push_back(Constant(kWidth, -2.0));
  std::vector<NumArray> strategy;
  strategy.push_back(Constant(kWidth, 0.25));
  strategy.push_back(Constant(kWidth, 0.75));
  for (PlainStore* s : {&plain, &masked}) {
    s->UpdateRegrets(-1, -1, Constant(kWidth, 0.5), action_values, nullptr, nullptr, 1.0);
    s->AccumulateStrategy(-1, -1, strategy, Constant(kWidth, 0.5), 2.0);
  }
  for (int a = 0; a < 2; ++a) {
    const std::vector<float> p = Row(plain, a), m = Row(masked, a);
    for (int k = 0; k < kWidth; ++k) EXPECT_EQ(m[k], mask[k] ? 3.0f + a : p[k]) << a << " " << k;
  }
}

TEST(PlainStoreTest, AccumulateNeedsWeightAndReach) {
  PlainStore store(2, kWidth);
  store.Allocate();
  std::vector<NumArray> strategy;
  strategy.push_back(Constant(kWidth, 0.5));
  strategy.push_back(Constant(kWidth, 0.5));
  NumArray absent;
  absent.count = kWidth;
  store.AccumulateStrategy(-1, -1, strategy, Constant(kWidth, 1.0), 0.0);
  store.AccumulateStrategy(-1, -1, strategy, Constant(kWidth, 1.0), -1.0);
  store.AccumulateStrategy(-1, -1, strategy, absent, 1.0);
  for (int a = 0; a < 2; ++a)
    for (float x : Row(store, a)) EXPECT_EQ(x, 0.0f);
  store.AccumulateStrategy(-1, -1, strategy, Constant(kWidth, 0.5), 3.0);
  for (float x : Row(store, 1)) EXPECT_EQ(x, 0.75f);

  CompositeStore composite(2, {kWidth});
  composite.Allocate();
  composite.AccumulateStrategy(0, -1, strategy, Constant(kWidth, 1.0), 0.0);
  composite.AccumulateStrategy(0, -1, strategy, Constant(kWidth, 1.0), -1.0);
  for (float x : Row(composite.slot(0), 0)) EXPECT_EQ(x, 0.0f);
}

// Arrays longer than the board never reach past the row; shorter ones change
// only the hands they cover.
TEST(PlainStoreTest, LoopsAreBoundedByTheWidth) {
  PlainStore store(2, kWidth), reference(2, kWidth);
  store.Allocate();
  reference.Allocate();
  std::vector<NumArray> long_actions, actions;
  for (int a = 0; a < 2; ++a) {
    long_actions.push_back(Constant(4 * kWidth, 4.0 + a));
    actions.push_back(Constant(kWidth, 4.0 + a));
  }
  store.SetActionValues(-1, -1, 0, Constant(4 * kWidth, 2.0));
  reference.SetActionValues(-1, -1, 0, Constant(kWidth, 2.0));
  store.UpdateRegrets(-1, -1, Constant(4 * kWidth, 1.0), long_actions, nullptr, nullptr, 1.0);
  reference.UpdateRegrets(-1, -1, Constant(kWidth, 1.0), actions, nullptr, nullptr, 1.0);
  store.AccumulateStrategy(-1, -1, long_actions, Constant(4 * kWidth, 1.0), 1.0);
  reference.AccumulateStrategy(-1, -1, actions, Constant(kWidth, 1.0), 1.0);
  EXPECT_EQ(store.GetValueCount(-1), 2 * kWidth);
  for (int a = 0; a < 2; ++a) EXPECT_EQ(Row(store, a), Row(reference, a));

  const std::vector<float> before = Row(store, 0);
  store.UpdateRegrets(-1, -1, Constant(4, 0.0), long_actions, nullptr, nullptr, 1.0);
  store.SetActionValues(-1, -1, 1, Constant(3, 7.0));
  const std::vector<float> after = Row(store, 0);
  for (int k = 0; k < kWidth; ++k)
    EXPECT_EQ(after[k] != before[k], k < 4) << k;
  for (int k = 0; k < kWidth; ++k) EXPECT_EQ(Row(store, 1)[k] == 7.0f, k < 3) << k;
}

TEST(CompositeStoreTest, ForwardsToTheTurnSlot) {
  CompositeStore store(3, {40, 41});
  EXPECT_EQ(store.GetValueCount(-1), 0);
  ASSERT_TRUE(store.Allocate());
  for (int i : {-1, 0, 1}) EXPECT_EQ(store.GetValueCount(i), 243);
  EXPECT_EQ(store.GetHandCount(0, -1), 40);
  EXPECT_EQ(store.GetHandCount(1, -1), 41);
  EXPECT_NE(store.GetLockRecord(0, -1), store.GetLockRecord(1, -1));
  store.SetActionValues(1, -1, 2, Constant(41, 1.0));
  const float defaults[3] = {0.25f, 0.25f, 0.5f};
  std::vector<NumArray> s0 = store.GetStrategy(0, -1, defaults);
  std::vector<NumArray> s1 = store.GetStrategy(1, -1, defaults);
  ASSERT_EQ(s0[2].count, 40);
  ASSERT_EQ(s1[2].count, 41);
  EXPECT_EQ(s0[2][39], 0.5);
  EXPECT_EQ(s1[2][40], 1.0);
  EXPECT_EQ(s1[0][40], 0.0);
}

std::vector<uint8_t> WriteMaskRecord(const std::vector<uint8_t>& mask) {
  NodeLockRecord record;
  SetMask(record, mask);
  BufferWriter out;
  WriteLockRecord(out, record);
  return out.bytes;
}

TEST(StoreSerialisationTest, MaskRunEncodings) {
  std::vector<uint8_t> expected;
  Append<uint32_t>(expected, COMBO_LOCKED);
  for (int16_t v : {6, 3, 2, 3, 1}) Append(expected, v);
  EXPECT_EQ(WriteMaskRecord({0, 0, 1, 1, 1, 0}), expected);

  expected.clear();
  Append<uint32_t>(expected, COMBO_LOCKED);
  for (int16_t v : {3, 3, 0, 2, 1}) Append(expected, v);
  EXPECT_EQ(WriteMaskRecord({1, 1, 0}), expected);

  for (const std::vector<uint8_t>& mask :
       {std::vector<uint8_t>{0, 0, 1, 1, 1, 0}, std::vector<uint8_t>{1, 1, 0}}) {
    const std::vector<uint8_t> bytes = WriteMaskRecord(mask);
    BufferReader in(bytes, kVersion);
    NodeLockRecord record;
    ReadLockRecord(in, record, static_cast<int32_t>(mask.size()));
    EXPECT_EQ(record.flags, COMBO_LOCKED);
    ASSERT_EQ(record.mask_length, static_cast<int32_t>(mask.size()));
    EXPECT_EQ(std::vector<uint8_t>(record.mask, record.mask + record.mask_length), mask);
  }
}

TEST(StoreSerialisationTest, PlainAndCompositeRoundTrips) {
  CompositeStore composite(2, {kWidth, 5});
  composite.Allocate();
  for (int i = 0; i < 2; ++i)
    for (int a = 0; a < 2; ++a) {
      std::vector<double> v(composite.GetHandCount(i, -1));
      for (size_t k = 0; k < v.size(); ++k) v[k] = 0.1 * (k + 1) + a - i;
      composite.SetActionValues(i, -1, a, MakeArray(v));
    }
  // Slot 0 locked with a mask, slot 1 locked without one.
  SetMask(*composite.GetLockRecord(0, -1), {1, 0, 0, 1, 1, 1, 1, 1, 0, 1, 1});
  composite.GetLockRecord(1, -1)->flags = LOCKED;

  BufferWriter out;
  composite.Write(out);
  BufferWriter slot0, slot1;
  composite.slot(0).Write(slot0);
  composite.slot(1).Write(slot1);
  std::vector<uint8_t> joined = slot0.bytes;
  joined.insert(joined.end(), slot1.bytes.begin(), slot1.bytes.end());
  EXPECT_EQ(out.bytes, joined);
  EXPECT_EQ(slot1.bytes.size(), 4u + 2 * 5 * 4);

  CompositeStore copy(2, {kWidth, 5});
  copy.Allocate();
  BufferReader in(out.bytes, kVersion);
  copy.Read(in);
  EXPECT_EQ(in.position(), out.bytes.size());
  BufferWriter again;
  copy.Write(again);
  EXPECT_EQ(again.bytes, out.bytes);
  for (int i = 0; i < 2; ++i)
    for (int a = 0; a < 2; ++a) EXPECT_EQ(Row(copy.slot(i), a), Row(composite.slot(i), a));
  EXPECT_EQ(copy.GetLockRecord(1, -1)->flags, LOCKED);
  EXPECT_EQ(copy.GetLockRecord(1, -1)->mask, nullptr);
}

// A plain store of six hands and one action, read from a hand-made mask
// section followed by the six floats.
std::vector<uint8_t> MaskSection(int16_t length, int16_t run_count,
                                 const std::vector<int16_t>& runs) {
  std::vector<uint8_t> bytes;
  Append<uint32_t>(bytes, COMBO_LOCKED | LOCKED);
  Append(bytes, length);
  Append(bytes, run_count);
  for (int16_t run : runs) Append(bytes, run);
  for (int k = 0; k < 6; ++k) Append<float>(bytes, 1.5f);
  return bytes;
}

TEST(StoreSerialisationTest, BadMaskSectionsAreRefused) {
  const std::vector<std::vector<uint8_t>> bad = {
      MaskSection(5, 2, {2, 3}),        // length is not the hand count
      MaskSection(-6, 0, {}),           // negative length
      MaskSection(6, -1, {}),           // negative run count
      MaskSection(6, 8, {0, 0, 0, 0, 0, 0, 0, 0}),  // more runs than a mask can have
      MaskSection(6, 2, {-2, 8}),       // negative run
      MaskSection(6, 3, {2, 3, 4}),     // runs beyond the length
      MaskSection(6, 3, {2}),           // input ends inside the runs
  };
  for (size_t c = 0; c < bad.size(); ++c) {
    PlainStore store(1, 6);
    store.Allocate();
    BufferReader in(bad[c], kVersion);
    EXPECT_THROW(store.Read(in), std::runtime_error) << c;
    const NodeLockRecord* record = store.GetLockRecord(-1, -1);
    EXPECT_EQ(record->flags, 0u) << c;
    EXPECT_EQ(record->mask, nullptr) << c;
    for (float x : Row(store, 0)) EXPECT_EQ(x, 0.0f) << c;
  }

  // Runs that stop short of the length leave the rest unlocked; L = 0 gives no mask.
  for (auto [bytes, locked] :
       {std::pair{MaskSection(6, 2, {1, 2}), std::vector<uint8_t>{0, 1, 1, 0, 0, 0}},
        std::pair{MaskSection(0, 0, {}), std::vector<uint8_t>{}}}) {
    PlainStore store(1, 6);
    store.Allocate();
    BufferReader in(bytes, kVersion);
    store.Read(in);
    const NodeLockRecord* record = store.GetLockRecord(-1, -1);
    EXPECT_EQ(record->flags, COMBO_LOCKED | LOCKED);
    ASSERT_EQ(record->mask_length, static_cast<int32_t>(locked.size()));
    if (!locked.empty()) {
      EXPECT_EQ(std::vector<uint8_t>(record->mask, record->mask + 6), locked);
    }
    EXPECT_EQ(Row(store, 0), std::vector<float>(6, 1.5f));
  }
}

}  // namespace
