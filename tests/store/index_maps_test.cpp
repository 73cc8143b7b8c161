#include "store/index_maps.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "cards/card.h"
#include "cards/combo_tables.h"
#include "platform/cpu_features.h"
#include "support/kernel_builds.h"

namespace {

constexpr uint64_t kQuietNanBits = 0x7FF8000000000000ULL;

// ---------------------------------------------------------------------------
// Boards, maps and dealt records built from the rules, independently of the
// tree code.

struct BoardHands {
  std::array<int16_t, kComboCount> map;  // ComboIndex -> hand, -1 on the board
  std::vector<std::pair<int, int>> cards;  // per hand: (low, high) card
};

// Every combination that shares no card with the board, in ComboIndex order.
BoardHands MakeBoard(CardMask board) {
  BoardHands b;
  b.map.fill(-1);
  for (int hi = 1; hi < kCardCount; ++hi)
    for (int lo = 0; lo < hi; ++lo) {
      if (board & (CardBit(hi) | CardBit(lo))) continue;
      b.map[ComboIndexOfCards(hi, lo)] = static_cast<int16_t>(b.cards.size());
      b.cards.push_back({lo, hi});
    }
  return b;
}

int SwapSuits(int card, int suit_a, int suit_b) {
  const int suit = CardSuit(card);
  const int to = suit == suit_a ? suit_b : suit == suit_b ? suit_a : suit;
  return CardNumber(CardRank(card), to);
}

// A dealt record for a monotone club flop and the turn group {5d, 5h, 5s}: the
// record's board is flop + 5d, and card list k maps its hands to the flop hands
// of their image under the suit swap that takes 5d to the k-th card.
struct DealtRecord {
  BoardHands parent;
  BoardHands dealt;
  std::vector<std::vector<int16_t>> card_lists;
  std::vector<int16_t> group_sizes;
};

DealtRecord MakeDealtRecord(int lists) {
  DealtRecord r;
  const CardMask flop = ParseCardText("2c7cKc");
  const int five_d = CardNumber(3, 1);
  r.parent = MakeBoard(flop);
  r.dealt = MakeBoard(flop | CardBit(five_d));
  const int swap_with[3] = {1, 2, 3};  // d<->d (identity), d<->h, d<->s
  for (int k = 0; k < lists; ++k) {
    std::vector<int16_t> list;
    for (auto [lo, hi] : r.dealt.cards) {
      const int a = SwapSuits(lo, 1, swap_with[k]), b = SwapSuits(hi, 1, swap_with[k]);
      list.push_back(r.parent.map[ComboIndexOfCards(a, b)]);
    }
    r.card_lists.push_back(std::move(list));
  }
  // Groups of varied sizes (whole blocks of eight, remainders, singles).
  const int pattern[] = {1, 8, 7, 23, 16, 3, 9, 2, 15, 31, 5, 17, 4, 6};
  int left = static_cast<int>(r.dealt.cards.size());
  for (int i = 0; left > 0; ++i) {
    const int n = std::min(pattern[i % 14], left);
    r.group_sizes.push_back(static_cast<int16_t>(n));
    left -= n;
  }
  return r;
}

HandGroupView ViewOf(const DealtRecord& r, bool grouped) {
  HandGroupView v;
  v.hand_group_flag = grouped ? 1 : 0;
  v.hand_count = static_cast<int32_t>(r.dealt.cards.size());
  v.card_lists = &r.card_lists;
  v.group_sizes = &r.group_sizes;
  return v;
}

// Values over many magnitudes and both signs, so that the order of additions
// shows in the last bits.
void FillRandom(NumArray& a, int32_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  a.Resize(n);
  for (int32_t i = 0; i < n; ++i) a[i] = std::ldexp(mantissa(rng), exponent(rng));
}

bool SameBits(const NumArray& a, const NumArray& b) {
  if (a.count != b.count || a.HasData() != b.HasData()) return false;
  return !a.HasData() ||
         std::memcmp(a.data, b.data, sizeof(double) * static_cast<size_t>(a.count)) == 0;
}

// Scalar reference of the grouped sum, written out in the prescribed order.
double ReferenceGroupSum(const double* src, const int16_t* idx, int n) {
  double partial[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  const int whole = n / 8 * 8;
  for (int k = 0; k < whole; ++k) partial[k % 8] += src[idx[k]];
  double total = partial[0];
  for (int j = 1; j < 8; ++j) total += partial[j];
  for (int k = n - 1; k >= whole; --k) total += src[idx[k]];
  return total;
}

// ---------------------------------------------------------------------------
// The builds under test: the table in use and each build's table.

using Build = BuildUnderTest<IndexMapsKernels>;

std::vector<Build> Builds() {
  std::vector<Build> builds = {{Kernels<IndexMapsKernels>(), "dispatch", false}};
  for (const Build& build :
       BuildsUnderTest(isa_avx::kIndexMapsKernels,
                       isa_avx2::kIndexMapsKernels, isa_avx512::kIndexMapsKernels))
    builds.push_back(build);
  return builds;
}

// ---------------------------------------------------------------------------
// Expand and compact.

TEST(IndexMapsTest, ExpandFillsBoardCombosWithNanOrZero) {
  const BoardHands board = MakeBoard(ParseCardText("AsKd7c"));
  const int32_t hands = static_cast<int32_t>(board.cards.size());
  ASSERT_EQ(hands, 1176);
  NumArray src;
  FillRandom(src, hands, 1);
  // One spare slot so the output can start off a 32-byte boundary too.
  alignas(32) static double buffer[kComboCount + 4];
  for (const Build& b : Builds())
    for (int offset : {0, 1, 3})
      for (bool nan_for_absent : {true, false}) {
        SCOPED_TRACE(b.name);
        double* out = buffer + offset;
        b.ExpandHandsToCombos(out, src, board.map.data(), nan_for_absent);
        for (int c = 0; c < kComboCount; ++c) {
          const uint64_t bits = std::bit_cast<uint64_t>(out[c]);
          if (board.map[c] >= 0)
            ASSERT_EQ(bits, std::bit_cast<uint64_t>(src[board.map[c]])) << c;
          else
            ASSERT_EQ(bits, nan_for_absent ? kQuietNanBits : 0u) << c;
        }
      }
}

TEST(IndexMapsTest, ExpandOfAbsentSourceGivesZerosOnTheBoardHands) {
  const BoardHands board = MakeBoard(ParseCardText("2h3h4h5h"));
  NumArray absent;
  absent.count = static_cast<int32_t>(board.cards.size());
  std::vector<double> out(kComboCount, 9.0);
  for (const Build& b : Builds()) {
    b.ExpandHandsToCombos(out.data(), absent, board.map.data(), true);
    for (int c = 0; c < kComboCount; ++c)
      ASSERT_EQ(std::bit_cast<uint64_t>(out[c]), board.map[c] >= 0 ? 0u : kQuietNanBits);
  }
}

TEST(IndexMapsTest, CompactRoundTripsAndNeverWritesBoardCombos) {
  const BoardHands board = MakeBoard(ParseCardText("Td9d8h2s"));
  const int32_t hands = static_cast<int32_t>(board.cards.size());
  NumArray src;
  FillRandom(src, hands, 2);
  for (const Build& b : Builds()) {
    SCOPED_TRACE(b.name);
    // Hands -> combos (NaN on the board) -> hands gives the same bits back.
    std::vector<double> combos(kComboCount);
    b.ExpandHandsToCombos(combos.data(), src, board.map.data(), true);
    // Three spare entries that no combination maps to keep their value.
    NumArray back;
    back.Resize(hands + 3);
    for (int32_t i = 0; i < hands + 3; ++i) back[i] = -7.0;
    b.CompactCombosToHands(back, combos.data(), board.map.data());
    for (int32_t i = 0; i < hands; ++i)
      ASSERT_EQ(std::bit_cast<uint64_t>(back[i]), std::bit_cast<uint64_t>(src[i]));
    for (int32_t i = hands; i < hands + 3; ++i) EXPECT_EQ(back[i], -7.0);
    for (int32_t i = 0; i < hands; ++i) ASSERT_FALSE(std::isnan(back[i]));

    // Combos -> hands -> combos keeps every combination off the board.
    std::vector<double> full(kComboCount);
    for (int c = 0; c < kComboCount; ++c) full[c] = c * 0.5 - 100.0;
    NumArray compacted;
    compacted.Resize(hands);
    b.CompactCombosToHands(compacted, full.data(), board.map.data());
    std::vector<double> again(kComboCount);
    b.ExpandHandsToCombos(again.data(), compacted, board.map.data(), false);
    for (int c = 0; c < kComboCount; ++c) ASSERT_EQ(again[c], board.map[c] >= 0 ? full[c] : 0.0);
  }
}

TEST(IndexMapsTest, CompactIntoAbsentArrayStartsFromZeros) {
  const BoardHands board = MakeBoard(ParseCardText("AhAdAc"));
  const int32_t hands = static_cast<int32_t>(board.cards.size());
  std::vector<double> full(kComboCount, 1.0);
  for (const Build& b : Builds()) {
    NumArray dest;
    dest.count = hands + 2;
    b.CompactCombosToHands(dest, full.data(), board.map.data());
    ASSERT_TRUE(dest.HasData());
    ASSERT_EQ(dest.count, hands + 2);
    for (int32_t i = 0; i < hands; ++i) ASSERT_EQ(dest[i], 1.0);
    EXPECT_EQ(dest[hands], 0.0);
    EXPECT_EQ(dest[hands + 1], 0.0);
  }
}

// ---------------------------------------------------------------------------
// Gather and scatter-add.

TEST(IndexMapsTest, RecordUnderTestIsARealDealtBoard) {
  const DealtRecord r = MakeDealtRecord(3);
  EXPECT_EQ(r.parent.cards.size(), 1176u);
  EXPECT_EQ(r.dealt.cards.size(), 1128u);
  for (const auto& list : r.card_lists) {
    std::vector<bool> seen(r.parent.cards.size(), false);
    for (int16_t index : list) {
      ASSERT_GE(index, 0);
      ASSERT_FALSE(seen[index]);
      seen[index] = true;
    }
  }
}

TEST(IndexMapsTest, PlainGatherReadsThroughTheFirstListAndReusesOutput) {
  const DealtRecord r = MakeDealtRecord(3);
  const HandGroupView view = ViewOf(r, false);
  NumArray parent;
  FillRandom(parent, static_cast<int32_t>(r.parent.cards.size()), 3);
  for (const Build& b : Builds()) {
    SCOPED_TRACE(b.name);
    NumArray out;
    b.GatherSumHandGroups(view, out, parent);
    ASSERT_EQ(out.count, view.hand_count);
    for (int32_t i = 0; i < out.count; ++i)
      ASSERT_EQ(out[i], parent[r.card_lists[0][i]]);
    // A second gather into the same array allocates nothing.
    double* block = out.data;
    b.GatherSumHandGroups(view, out, parent);
    EXPECT_EQ(out.data, block);
  }
}

TEST(IndexMapsTest, GroupedGatherFollowsThePrescribedSumOrderInEveryBuild) {
  const DealtRecord r = MakeDealtRecord(3);
  const HandGroupView view = ViewOf(r, true);
  NumArray parent;
  FillRandom(parent, static_cast<int32_t>(r.parent.cards.size()), 4);
  // Reference, and a count of groups where a plain left-to-right sum differs
  // (which shows the comparison would catch a different order).
  std::vector<double> expected;
  int order_matters = 0;
  int start = 0;
  for (int16_t n : r.group_sizes) {
    const int16_t* idx = r.card_lists[0].data() + start;
    expected.push_back(ReferenceGroupSum(parent.data, idx, n));
    double naive = 0.0;
    for (int k = 0; k < n; ++k) naive += parent[idx[k]];
    if (naive != expected.back()) ++order_matters;
    start += n;
  }
  EXPECT_GT(order_matters, 0);
  for (const Build& b : Builds()) {
    SCOPED_TRACE(b.name);
    NumArray out;
    b.GatherSumHandGroups(view, out, parent);
    ASSERT_EQ(out.count, static_cast<int32_t>(r.group_sizes.size()));
    for (int32_t g = 0; g < out.count; ++g)
      ASSERT_EQ(std::bit_cast<uint64_t>(out[g]), std::bit_cast<uint64_t>(expected[g])) << g;
  }
}

TEST(IndexMapsTest, ScatterAddsOnceThroughEveryCardList) {
  const DealtRecord r = MakeDealtRecord(3);
  const int32_t parent_hands = static_cast<int32_t>(r.parent.cards.size());
  NumArray start;
  FillRandom(start, parent_hands, 5);
  for (bool grouped : {false, true}) {
    const HandGroupView view = ViewOf(r, grouped);
    NumArray result;
    FillRandom(result, grouped ? static_cast<int32_t>(r.group_sizes.size()) : view.hand_count,
               6);
    // Reference: per list, per dealt hand, the value of its group (or its own).
    std::vector<double> expected(start.data, start.data + parent_hands);
    std::vector<int> group_of;
    for (size_t g = 0; g < r.group_sizes.size(); ++g)
      for (int k = 0; k < r.group_sizes[g]; ++k) group_of.push_back(static_cast<int>(g));
    for (const auto& list : r.card_lists)
      for (int32_t j = 0; j < view.hand_count; ++j)
        expected[list[j]] += result[grouped ? group_of[j] : j];
    for (const Build& b : Builds()) {
      SCOPED_TRACE(b.name);
      NumArray dest;
      dest.Resize(parent_hands);
      std::memcpy(dest.data, start.data, sizeof(double) * parent_hands);
      b.ScatterAddHandGroups(view, dest, result);
      for (int32_t i = 0; i < parent_hands; ++i)
        ASSERT_EQ(std::bit_cast<uint64_t>(dest[i]), std::bit_cast<uint64_t>(expected[i]))
            << (grouped ? "grouped " : "plain ") << i;
    }
  }
}

TEST(IndexMapsTest, GatherOfAbsentSourceStaysAbsentAndScattersNothing) {
  const DealtRecord r = MakeDealtRecord(2);
  const int32_t parent_hands = static_cast<int32_t>(r.parent.cards.size());
  NumArray absent;
  absent.count = parent_hands;
  for (const Build& b : Builds())
    for (bool grouped : {false, true}) {
      SCOPED_TRACE(b.name);
      const HandGroupView view = ViewOf(r, grouped);
      NumArray in;
      in.Resize(3);  // stale data from an earlier use is dropped
      b.GatherSumHandGroups(view, in, absent);
      EXPECT_FALSE(in.HasData());
      EXPECT_EQ(in.count,
                grouped ? static_cast<int32_t>(r.group_sizes.size()) : view.hand_count);

      NumArray dest;
      dest.Resize(parent_hands);
      for (int32_t i = 0; i < parent_hands; ++i) dest[i] = 2.0;
      b.ScatterAddHandGroups(view, dest, in);
      for (int32_t i = 0; i < parent_hands; ++i) ASSERT_EQ(dest[i], 2.0);
      // An absent destination stays absent when nothing is added.
      NumArray absent_dest;
      absent_dest.count = parent_hands;
      b.ScatterAddHandGroups(view, absent_dest, in);
      EXPECT_FALSE(absent_dest.HasData());
    }
}

TEST(IndexMapsTest, ScatterIntoAbsentDestinationStartsFromZeros) {
  const DealtRecord r = MakeDealtRecord(3);
  const int32_t parent_hands = static_cast<int32_t>(r.parent.cards.size());
  for (const Build& b : Builds())
    for (bool grouped : {false, true}) {
      const HandGroupView view = ViewOf(r, grouped);
      NumArray ones;
      ones.Resize(grouped ? static_cast<int32_t>(r.group_sizes.size()) : view.hand_count);
      for (int32_t i = 0; i < ones.count; ++i) ones[i] = 1.0;
      NumArray dest;
      dest.count = parent_hands;
      b.ScatterAddHandGroups(view, dest, ones);
      ASSERT_TRUE(dest.HasData());
      // Each parent hand of the dealt board gets 1 per list that reaches it.
      std::vector<double> expected(parent_hands, 0.0);
      for (const auto& list : r.card_lists)
        for (int16_t index : list) expected[index] += 1.0;
      for (int32_t i = 0; i < parent_hands; ++i) ASSERT_EQ(dest[i], expected[i]);
    }
}

TEST(IndexMapsTest, ScatterAddCombosSkipsAbsentOrEmptySource) {
  std::vector<int16_t> index = {2, 0, 1};
  for (const Build& b : Builds()) {
    NumArray dest;
    dest.Resize(3);
    dest[0] = dest[1] = dest[2] = 1.0;
    NumArray src;
    src.Resize(3);
    src[0] = 10.0;
    src[1] = 20.0;
    src[2] = 30.0;
    b.ScatterAddCombos(dest, src, index.data());
    EXPECT_EQ(dest[0], 21.0);
    EXPECT_EQ(dest[1], 31.0);
    EXPECT_EQ(dest[2], 11.0);

    NumArray absent;
    absent.count = 3;
    b.ScatterAddCombos(dest, absent, index.data());
    NumArray empty;
    empty.Resize(0);
    b.ScatterAddCombos(dest, empty, index.data());
    EXPECT_EQ(dest[0], 21.0);
    EXPECT_EQ(dest[1], 31.0);
    EXPECT_EQ(dest[2], 11.0);
  }
}

TEST(IndexMapsTest, RecordsWithoutGroupsOrListsNeverReadThroughNull) {
  const DealtRecord r = MakeDealtRecord(1);
  NumArray parent;
  FillRandom(parent, static_cast<int32_t>(r.parent.cards.size()), 7);
  const std::vector<int16_t> no_groups;
  for (const Build& b : Builds()) {
    HandGroupView view = ViewOf(r, true);
    view.group_sizes = &no_groups;
    NumArray out;
    b.GatherSumHandGroups(view, out, parent);
    EXPECT_EQ(out.count, 0);

    view.group_sizes = nullptr;
    b.GatherSumHandGroups(view, out, parent);
    EXPECT_EQ(out.count, 0);

    HandGroupView listless = ViewOf(r, false);
    listless.card_lists = nullptr;
    b.GatherSumHandGroups(listless, out, parent);
    EXPECT_FALSE(out.HasData());
    EXPECT_EQ(out.count, listless.hand_count);
    NumArray dest;
    dest.count = static_cast<int32_t>(r.parent.cards.size());
    NumArray values;
    FillRandom(values, listless.hand_count, 8);
    b.ScatterAddHandGroups(listless, dest, values);
    EXPECT_FALSE(dest.HasData());
  }
}

// A wider build against the plain AVX one.
void ExpectBitIdentical(const IndexMapsKernels& avx2, const IndexMapsKernels& avx) {
  const DealtRecord r = MakeDealtRecord(3);
  const int32_t parent_hands = static_cast<int32_t>(r.parent.cards.size());
  for (uint32_t seed = 10; seed < 20; ++seed) {
    NumArray parent;
    FillRandom(parent, parent_hands, seed);
    for (bool grouped : {false, true}) {
      const HandGroupView view = ViewOf(r, grouped);
      NumArray a, b;
      avx2.GatherSumHandGroups(view, a, parent);
      avx.GatherSumHandGroups(view, b, parent);
      ASSERT_TRUE(SameBits(a, b));

      NumArray dest_a, dest_b;
      dest_a.count = dest_b.count = parent_hands;
      avx2.ScatterAddHandGroups(view, dest_a, a);
      avx.ScatterAddHandGroups(view, dest_b, b);
      ASSERT_TRUE(SameBits(dest_a, dest_b));
    }
    std::vector<double> ea(kComboCount), eb(kComboCount);
    avx2.ExpandHandsToCombos(ea.data(), parent, r.parent.map.data(), true);
    avx.ExpandHandsToCombos(eb.data(), parent, r.parent.map.data(), true);
    ASSERT_EQ(std::memcmp(ea.data(), eb.data(), sizeof(double) * kComboCount), 0);
    NumArray ca, cb;
    ca.count = cb.count = parent_hands;
    avx2.CompactCombosToHands(ca, ea.data(), r.parent.map.data());
    avx.CompactCombosToHands(cb, eb.data(), r.parent.map.data());
    ASSERT_TRUE(SameBits(ca, cb));
    ASSERT_TRUE(SameBits(ca, parent));
  }
}

TEST(IndexMapsTest, AllBuildsAreBitIdentical) {
  if (!CpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2/FMA on this processor";
  ExpectBitIdentical(isa_avx2::kIndexMapsKernels, isa_avx::kIndexMapsKernels);
  if (CpuHasAvx512()) ExpectBitIdentical(isa_avx512::kIndexMapsKernels, isa_avx::kIndexMapsKernels);
}

}  // namespace
