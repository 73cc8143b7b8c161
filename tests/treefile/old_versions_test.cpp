// Files of the format versions 0 to 5, written here from the layouts of each
// version (the engine writes only version 6): they load, their card records
// and stores come back in each version's form, and the trees answer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cards/situation.h"
#include "compress/combo_codec.h"
#include "compress/compression_level.h"
#include "platform/byte_io.h"
#include "solver/solver_preparation.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "solver/street_values.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "tree/build_fixture.h"
#include "tree/schematic_tree.h"
#include "tree/stored_strategy.h"
#include "treefile/block_converter.h"
#include "treefile/tree_file.h"
#include "treefile/tree_file_fixture.h"

namespace {

using reference_game::MakeClassSpot;
using reference_game::Spot;

NumArray& RecordArray(CardRecord& record, int k) {
  NumArray* arrays[6] = {&record.reach_sums[0], &record.values[0], &record.best_response_values[0],
                         &record.reach_sums[1], &record.values[1], &record.best_response_values[1]};
  // File order: reach OOP, reach IP, values OOP, values IP, best OOP, best IP.
  static const int kFileOrder[6] = {0, 3, 1, 4, 2, 5};
  return *arrays[kFileOrder[k]];
}

int RecordCount(const TreeNode& node) {
  if (!node.card_records) return 0;
  return node.street == STREET_TURN ? 1 : 49;
}

bool Late(const SolverState& state, const TreeNode& node) {
  return state.first_forgotten_street != STREET_NONE && node.street > state.first_forgotten_street;
}

// A section's streams as versions 4 and 5 hold them: no converter byte.
void WriteStreams(BlockEmitter& emitter, ByteWriter& out, int version) {
  MemoryWriter section;
  emitter.Finish(section);
  const size_t skip = version >= 6 ? 0 : 1;
  out.Write(section.Bytes().data() + skip, section.Bytes().size() - skip);
}

// The current tree as a file of `version`, from that version's layouts.
std::vector<uint8_t> OldFile(int version, bool without_values) {
  SolverState& state = *g_solver_state;
  MemoryWriter out;
  out.Write("ZK4:", 4);
  WriteField<int32_t>(out, version);
  if (version >= 4) WriteField<uint8_t>(out, without_values ? 1 : 0);
  WriteField<uint64_t>(out, g_board_flop);
  WriteField<uint64_t>(out, g_board_turn);
  WriteField<uint64_t>(out, g_board_river);
  out.Write(g_pot, sizeof g_pot);
  out.Write(state.ranges[0].data(), 1326 * sizeof(double));
  out.Write(state.ranges[1].data(), 1326 * sizeof(double));
  WriteSchematicNode(*g_schematic_root, out);
  WriteStateHeader(StateHeader(state), out);
  WriteField<int32_t>(out, g_compression_level);

  WriteField<int32_t>(out, state.iterations);
  const bool forgotten = state.first_forgotten_street != STREET_NONE;
  for (TreeNode& node : state.nodes) {
    if (!(version >= 3 && Late(state, node))) {
      for (int r = 0; r < RecordCount(node); ++r) {
        CardRecord& record = node.card_records[r];
        if (version < 4) {
          for (int k = 0; k < 6; ++k) {
            const NumArray& a = RecordArray(record, k);
            WriteField<int32_t>(out, a.count);
            for (int h = 0; h < a.count; ++h) {
              if (version < 2)
                WriteField<double>(out, a.data[h]);
              else
                WriteField<float>(out, static_cast<float>(a.data[h]));
            }
          }
        } else {
          WriteField<uint8_t>(out, record.reach_filled[0]);
          WriteField<uint8_t>(out, record.reach_filled[1]);
          for (int k = 0; k < 2; ++k) {
            if (record.reach_filled[k]) continue;
            const NumArray& a = RecordArray(record, k);
            WriteField<int32_t>(out, a.count);
            for (int h = 0; h < a.count; ++h)
              WriteField<int16_t>(out, static_cast<int16_t>(std::lround(a.data[h] * 150.0)));
          }
        }
        WriteField<uint8_t>(out, record.frozen);
        WriteField<uint64_t>(out, record.solved_mask);
      }
    }
    if ((!forgotten || version < 4) && node.regret_store) {
      node.regret_store->Write(out);
      if (node.strategy_store) node.strategy_store->Write(out);
    }
  }
  if (version < 4) return out.Bytes();

  for (TreeNode& node : state.nodes)
    if (!Late(state, node))
      for (int r = 0; r < RecordCount(node); ++r)
        for (int k = 2; k < 6; ++k) WriteField<int32_t>(out, RecordArray(node.card_records[r], k).count);
  if (!without_values) {
    BlockEmitter emitter;
    for (TreeNode& node : state.nodes)
      if (!Late(state, node))
        for (int r = 0; r < RecordCount(node); ++r)
          for (int k = 2; k < 6; ++k) {
            const NumArray& a = RecordArray(node.card_records[r], k);
            std::vector<uint32_t> coded(static_cast<size_t>(a.count));
            for (int h = 0; h < a.count; ++h)
              coded[h] = Zigzag(static_cast<uint32_t>(static_cast<int32_t>(std::lround(a.data[h] * 100.0))));
            emitter.WriteValues32(coded.data(), a.count);
          }
    WriteStreams(emitter, out, version);
  }
  if (!forgotten) return out.Bytes();

  BlockEmitter emitter;
  for (TreeNode& node : state.nodes) {
    if (node.kind != DECISION_NODE || node.street >= state.first_forgotten_street || !node.regret_store)
      continue;
    const int boards = node.street == STREET_FLOP ? 1 : static_cast<int>(state.deal_tree->turn_records.size());
    for (int b = 0; b < boards; ++b) {
      const int board = node.street == STREET_FLOP ? -1 : b;
      std::vector<NumArray> s;
      GetAverageStrategy(node, s, board, -1);
      const int n = node.regret_store->GetHandCount(board, -1);
      for (size_t a = 0; a + 1 < node.children.size(); ++a) {
        std::vector<uint16_t> thousandths(static_cast<size_t>(n));
        for (int h = 0; h < n; ++h) thousandths[h] = static_cast<uint16_t>(std::lround(s[a].data[h] * 1000.0));
        emitter.WriteValues16(thousandths.data(), n);
      }
    }
  }
  WriteStreams(emitter, out, version);
  return out.Bytes();
}

// Card records with content of their own: sizes and values that every
// version's form holds exactly (halves, within the 16-bit range).
void FillCardRecords() {
  for (TreeNode& node : g_solver_state->nodes)
    for (int r = 0; r < RecordCount(node); ++r) {
      CardRecord& record = node.card_records[r];
      for (int k = 0; k < 6; ++k) {
        NumArray& a = RecordArray(record, k);
        a.Resize(1 + (r + k) % 7);
        for (int h = 0; h < a.count; ++h) a.data[h] = 0.5 * (h + 1) + k - (r % 3);
      }
      record.frozen = static_cast<uint8_t>(r & 1);
      record.solved_mask = 0x0123456789ull * static_cast<uint64_t>(r + 1);
    }
}

struct RecordCopy {
  std::vector<std::vector<double>> arrays;
  uint8_t frozen;
  uint64_t solved_mask;
};

std::vector<RecordCopy> Records() {
  std::vector<RecordCopy> out;
  for (TreeNode& node : g_solver_state->nodes)
    for (int r = 0; r < RecordCount(node); ++r) {
      RecordCopy copy{{}, node.card_records[r].frozen, node.card_records[r].solved_mask};
      for (int k = 0; k < 6; ++k) {
        const NumArray& a = RecordArray(node.card_records[r], k);
        copy.arrays.emplace_back(a.data ? a.data : nullptr, a.data ? a.data + a.count : nullptr);
        copy.arrays.back().resize(static_cast<size_t>(a.count), 0.0);
      }
      out.push_back(copy);
    }
  return out;
}

class OldVersionsTest : public TreeFileFixture {
 protected:
  std::string Load(const std::vector<uint8_t>& bytes) {
    WriteFileBytes(Path("old.tree"), bytes);
    return RunLine("load_tree " + Path("old.tree"));
  }
};

// A river spot: its root keeps the 49 card records of a river's first node.
TEST_F(OldVersionsTest, EveryVersionLoadsItsOwnCardRecordForms) {
  ASSERT_NO_FATAL_FAILURE(Build(solver_spots::RiverSpot()));
  Solve(20);
  const std::string results = RunLine("calc_results");
  FillCardRecords();
  const auto stores = StoreBytes();
  const auto records = Records();
  const int32_t iterations = g_solver_state->iterations;

  for (int version : {-1, 0, 1, 2, 3, 4, 5}) {
    for (bool without_values : {false, true}) {
      if (without_values && version < 4) continue;
      ASSERT_NO_FATAL_FAILURE(Build(solver_spots::RiverSpot()));
      // The same tree again, solved alike, with the same records.
      Solve(20);
      RunLine("calc_results");
      FillCardRecords();
      const std::vector<uint8_t> bytes = OldFile(version, without_values);
      const std::string what = "version " + std::to_string(version) + (without_values ? " without values" : "");
      ASSERT_EQ(Load(bytes), "load_tree ok!\n") << what;
      EXPECT_EQ(g_solver_state->iterations, iterations) << what;
      EXPECT_EQ(g_solver_state->format_version, static_cast<uint32_t>(std::max(version, 0)));
      EXPECT_EQ(g_tree_without_values, without_values ? 1 : 0);
      EXPECT_TRUE(StoreBytes() == stores) << what;
      EXPECT_EQ(RunLine("calc_results"), results) << what;
      const auto loaded = Records();
      ASSERT_EQ(loaded.size(), records.size());
      for (size_t r = 0; r < records.size(); ++r) {
        EXPECT_EQ(loaded[r].frozen, records[r].frozen);
        EXPECT_EQ(loaded[r].solved_mask, records[r].solved_mask);
        for (int k = 0; k < 6; ++k) {
          const auto& want = records[r].arrays[k];
          const auto& got = loaded[r].arrays[k];
          ASSERT_EQ(got.size(), want.size()) << what << " record " << r << " array " << k;
          for (size_t h = 0; h < want.size(); ++h) {
            // Sized but not carried: arrays 2 to 5 of a file without values.
            const double expected = (without_values && k >= 2) ? 0.0 : want[h];
            EXPECT_NEAR(got[h], expected, 1e-12) << what << " record " << r << " array " << k;
          }
        }
      }
      // Saved again, the tree is a version 6 file.
      ASSERT_EQ(RunLine("dump_tree " + Path("again.tree")), "dump_tree ok!\n");
      ASSERT_EQ(RunLine("load_tree " + Path("again.tree")), "load_tree ok!\n");
      EXPECT_TRUE(StoreBytes() == stores) << what;
      Solve(2);
      EXPECT_EQ(g_solver_state->iterations, iterations + 2);
    }
  }
}

// A flop tree with its rivers forgotten: from version 4 the strategies before
// them travel in thousandths (with or without a converter byte); version 3
// still carries every store that exists, and no river record.
TEST_F(OldVersionsTest, ForgottenRiversInVersionsThreeToSix) {
  const Spot spot = solver_spots::FlopSpot();
  ASSERT_NO_FATAL_FAILURE(Build(spot));
  Solve(70);
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  const std::string results = RunLine("calc_results");
  const auto stores = StoreBytes();
  std::vector<std::vector<uint8_t>> files;
  for (int version : {3, 4, 5, 6}) files.push_back(OldFile(version, false));

  std::vector<std::vector<uint8_t>> regrets_v6;
  for (int version : {6, 5, 4, 3}) {
    const std::string what = "version " + std::to_string(version);
    ASSERT_EQ(Load(files[static_cast<size_t>(version - 3)]), "load_tree ok!\n") << what;
    EXPECT_EQ(g_solver_state->first_forgotten_street, STREET_RIVER);
    EXPECT_TRUE(g_solver_state->flags & INCOMPLETE_TREE);
    EXPECT_EQ(RunLine("calc_results"), results) << what;
    if (version == 3) {
      EXPECT_TRUE(StoreBytes() == stores) << what;
      continue;
    }
    // The regret stores hold the strategies; every version reads the same.
    std::vector<std::vector<uint8_t>> regrets;
    for (TreeNode& node : g_solver_state->nodes) {
      MemoryWriter w;
      if (node.regret_store) node.regret_store->Write(w);
      regrets.push_back(w.Bytes());
    }
    if (version == 6)
      regrets_v6 = regrets;
    else
      EXPECT_TRUE(regrets == regrets_v6) << what;
    // The reach the file left out came back from the walk.
    size_t filled = 0;
    for (TreeNode& node : g_solver_state->nodes)
      if (node.kind == DECISION_NODE && node.street == STREET_RIVER && node.card_records)
        for (int r = 0; r < 49; ++r)
          for (int p = 0; p < 2; ++p)
            if (node.card_records[r].reach_filled[p]) {
              ++filled;
              EXPECT_TRUE(node.card_records[r].reach_sums[p].HasData());
            }
    EXPECT_GT(filled, 0u) << what;
  }
}

// Turn-rooted trees of files before version 5 keep 16-bit river regrets: they
// load and solve on, but a version 6 file would have read those rows as
// 32-bit ones, so they are not written.
TEST_F(OldVersionsTest, TurnTreesOfVersionFourKeepSixteenBitRivers) {
  ASSERT_NO_FATAL_FAILURE(Build(MakeClassSpot("Kh9h4h2c", {"AA", "QQ", "AKs", "T9s:0.5", "65s"},
                                              {"KQs", "JJ", "TT:0.8", "99", "87s"}, 60,
                                              {{30, 90}, {0, 30}, {0, 0, 40}, {0, 0, 0, 0}})));
  g_solver_state->format_version = 4;
  PrepareSolver(LevelToCompressionKinds(g_compression_level));
  Solve(20);
  const auto stores = StoreBytes();
  const std::string results = RunLine("calc_results");
  ASSERT_EQ(Load(OldFile(4, false)), "load_tree ok!\n");
  EXPECT_TRUE(StoreBytes() == stores);
  size_t narrow = 0;
  for (TreeNode& node : g_solver_state->nodes)
    if (node.street == STREET_RIVER && node.regret_store) narrow += node.regret_store->AsArenaStore16() != nullptr;
  EXPECT_GT(narrow, 0u);
  EXPECT_EQ(RunLine("calc_results"), results);
  EXPECT_EQ(RunLine("dump_tree " + Path("new.tree")),
            "ERROR: dump_tree tree of an older file format, can't write it\n");
  Solve(2);
  EXPECT_EQ(g_solver_state->iterations, 22);
}

}  // namespace
