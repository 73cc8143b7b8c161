// Every coder on the value arrays the engine keeps: regret and strategy-sum
// rows of the river stores of a solved flop tree, coded in the order and with
// the references a block store uses, and adversarial arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "compress/coded_channels.h"
#include "compress/combo_codec.h"
#include "platform/cpu_features.h"
#include "solver/solver_settings.h"
#include "solver/solver_status.h"
#include "store/arena_store.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"

namespace {

struct Rows {
  std::vector<CodedArray<uint16_t>> regrets;
  std::vector<CodedArray<uint32_t>> sums;
};

// Per river decision node, per turn slot, per action, board by board: the
// previous board's row of the action is the reference when the board has no
// more hands (the order and rule of the block store).
template <typename Row, typename T, typename Store, typename Convert>
void CollectRows(Store* store, std::vector<CodedArray<T>>& out, Convert convert) {
  const BoardLayout* layout = store->layout();
  for (int32_t i = 0; i < layout->turn_slots; ++i) {
    const int32_t boards = layout->turn_index[i].board_count;
    for (int32_t a = 0; a < layout->actions; ++a) {
      std::vector<T> previous;
      for (int32_t j = 0; j < boards; ++j) {
        std::vector<Row*> rows(layout->actions);
        int32_t hands = 0;
        const NodeLockRecord* lock = nullptr;
        ASSERT_TRUE(store->BoardRows(i, j, rows.data(), &hands, &lock));
        CodedArray<T> array;
        for (int32_t h = 0; h < hands; ++h) array.values.push_back(convert(rows[a][h]));
        if (j > 0 && static_cast<size_t>(hands) <= previous.size())
          array.reference.assign(previous.begin(), previous.begin() + hands);
        previous = array.values;
        out.push_back(std::move(array));
      }
    }
  }
}

class CoderRoundTrip : public TreeBuildTest {
 protected:
  // Solved once for the suite: a flop tree with river bets and raises, past
  // the iteration at which the strategy sums begin.
  static const Rows& SolvedRows() {
    static const Rows rows = [] {
      Rows r;
      ResetSituation();
      reference_game::Spot spot;
      spot.board = reference_game::BoardFromText("Qs8h4d");
      spot.ranges[0] = reference_game::ClassRange({"AA", "QQ", "AQs", "T9s", "65s:0.75"});
      spot.ranges[1] = reference_game::ClassRange({"JJ", "99:0.6", "AJs", "87s"});
      spot.pot = 60;
      spot.lines = {{0, 0, 0, 0, 40}, {0, 0, 0, 0, 0, 0}};
      BuildSpot(spot);
      // One thread: a tree this small gains nothing from more.
      const uint32_t threads = g_thread_count;
      EXPECT_EQ(RunLine("set_threads 1"), "set_threads ok!\n");
      testing::internal::CaptureStdout();
      EXPECT_EQ(RunLine("go 64 steps"), "go ok!\n");
      WaitForSolver();
      testing::internal::GetCapturedStdout();
      g_thread_count = threads;
      for (TreeNode& node : State().nodes) {
        if (node.kind != DECISION_NODE || node.street != 3) continue;
        ArenaStore16* regrets = node.regret_store->AsArenaStore16();
        ArenaStore32* sums = node.strategy_store->AsArenaStore32();
        if (!regrets || !sums) continue;
        CollectRows<uint16_t>(regrets, r.regrets, [](uint16_t v) { return v; });
        // Block stores keep the sums as rounded non-negative integers.
        CollectRows<float>(sums, r.sums, [](float v) {
          return static_cast<uint32_t>(std::min(std::lround(v), long{INT32_MAX}));
        });
      }
      ResetSituation();
      return r;
    }();
    return rows;
  }
};

template <typename T>
void ExpectRoundTrip(int32_t coder, const std::vector<CodedArray<T>>& arrays, size_t* bytes = nullptr) {
  CodedChannels channels;
  CoderStats stats;
  EncodeArrays(coder, arrays, channels, stats);
  const auto decoded = DecodeArrays(arrays, channels);
  ASSERT_EQ(decoded.size(), arrays.size());
  for (size_t i = 0; i < arrays.size(); ++i)
    ASSERT_EQ(decoded[i], arrays[i].values) << "coder " << coder << " array " << i;
  size_t values = 0;
  for (const auto& a : arrays) values += a.values.size();
  EXPECT_EQ(stats.raw_bytes, 4 * values);
  EXPECT_EQ(stats.arrays, arrays.size());
  if (bytes) *bytes = channels.TotalBytes();
}

TEST_F(CoderRoundTrip, SolvedRiverRowsComeBackExactlyFromEveryCoder) {
  const Rows& rows = SolvedRows();
  ASSERT_GT(rows.regrets.size(), 100u);
  ASSERT_EQ(rows.sums.size(), rows.regrets.size());
  size_t nonzero = 0, referenced = 0;
  for (const auto& a : rows.sums) {
    for (uint32_t v : a.values) nonzero += v != 0;
    referenced += !a.reference.empty();
  }
  ASSERT_GT(nonzero, 1000u) << "the strategy sums have not begun";
  ASSERT_GT(referenced, 10u);

  size_t fse16 = 0, fse32 = 0;
  ExpectRoundTrip(CODER_FSE_STREAMS, rows.regrets, &fse16);
  ExpectRoundTrip(CODER_FSE_STREAMS, rows.sums, &fse32);
  size_t sums = 0;
  for (const auto& a : rows.sums) sums += a.values.size();
  EXPECT_LT(fse32, 4 * sums);
  for (int32_t coder : {CODER_RANGE, CODER_PACKER}) {
    ExpectRoundTrip(coder, rows.regrets);
    ExpectRoundTrip(coder, rows.sums);
  }
  // The entropy-coded rows take less room than the values.
  size_t values = 0;
  for (const auto& a : rows.regrets) values += a.values.size();
  EXPECT_LT(fse16, 2 * values);
}

// The same with the plain AVX build of the codec's kernels.
TEST_F(CoderRoundTrip, ThePlainAvxBuildWritesTheSameBytes) {
  const Rows& rows = SolvedRows();
  CodedChannels avx2, avx;
  CoderStats stats;
  EncodeArrays(CODER_FSE_STREAMS, rows.regrets, avx2, stats);
  {
    struct PlainAvx {
      uint32_t saved = g_cpu_features;
      PlainAvx() { g_cpu_features &= ~(CPU_AVX2 | CPU_FMA); }
      ~PlainAvx() { g_cpu_features = saved; }
    } plain_avx;
    EncodeArrays(CODER_FSE_STREAMS, rows.regrets, avx, stats);
  }
  for (int s = 0; s < kCoderChannelCount; ++s) EXPECT_EQ(avx.bytes[s], avx2.bytes[s]) << s;
}

template <typename T>
std::vector<CodedArray<T>> AdversarialArrays() {
  const T top = static_cast<T>(~T(0));
  std::vector<CodedArray<T>> arrays;
  arrays.push_back({{}, {}});
  arrays.push_back({{top}, {}});
  arrays.push_back({{7}, {0}});
  arrays.push_back({std::vector<T>(kMaxComboArray, 1234), {}});
  arrays.push_back({std::vector<T>(kMaxComboArray, top), std::vector<T>(kMaxComboArray, 0)});
  std::vector<T> alternating(kMaxComboArray), ramp(kMaxComboArray);
  for (int32_t i = 0; i < kMaxComboArray; ++i) {
    alternating[i] = i % 2 ? top : 0;
    ramp[i] = static_cast<T>(i * 97);
  }
  arrays.push_back({alternating, {}});
  arrays.push_back({alternating, alternating});
  arrays.push_back({ramp, alternating});
  arrays.push_back({alternating, ramp});
  std::vector<T> odd(alternating.begin(), alternating.begin() + 13);
  arrays.push_back({odd, {}});
  arrays.push_back({std::vector<T>(1, top), std::vector<T>(1, top)});
  return arrays;
}

TEST(CoderRoundTripAdversarial, ExtremeArraysComeBackFromEveryCoder) {
  for (int32_t coder : {CODER_FSE_STREAMS, CODER_RANGE, CODER_PACKER}) {
    ExpectRoundTrip(coder, AdversarialArrays<uint16_t>());
    ExpectRoundTrip(coder, AdversarialArrays<uint32_t>());
  }
}

}  // namespace
