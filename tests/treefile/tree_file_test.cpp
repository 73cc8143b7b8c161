// Tree files through the commands: dump, load and dump again give the same
// bytes; a loaded tree answers as the dumped one did and solves on from the
// stored iteration count with the same store values as a run that never
// stopped; failed loads and refused dumps leave nothing half done.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "cards/combo_tables.h"
#include "compress/compression_level.h"
#include "platform/byte_io.h"
#include "solver/solver_constants.h"
#include "solver/solver_settings.h"
#include "solver/street_values.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "support/strategy_replies.h"
#include "tree/build_fixture.h"
#include "tree/stored_strategy.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "treefile/tree_file.h"
#include "treefile/tree_file_fixture.h"

namespace {

using reference_game::Spot;
using solver_spots::FlopSpot;
using solver_spots::TurnSpot;

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class TreeFileTest : public TreeFileFixture {
 protected:
  void Dump(const std::string& name) {
    ASSERT_EQ(RunLine("dump_tree " + Path(name)), "dump_tree ok!\n");
  }
  void Load(const std::string& name) {
    ASSERT_EQ(RunLine("load_tree " + Path(name)), "load_tree ok!\n");
  }
  // Dump, load, dump again: the same bytes.
  void ExpectRoundTrip(const std::string& name) {
    Dump(name + ".1");
    Load(name + ".1");
    Dump(name + ".2");
    const std::vector<uint8_t> first = ReadFileBytes(Path(name + ".1"));
    EXPECT_GT(first.size(), 100u);
    EXPECT_TRUE(first == ReadFileBytes(Path(name + ".2"))) << name;
  }
};

// The queries a controlling program asks of a solved flop tree, on every
// street.
const char* const kQueries[] = {
    "calc_results",          "show_strategy r:0",         "show_strategy r:0:b20",
    "show_strategy r:0:c",   "show_strategy r:0:c:c:2c",  "show_strategy r:0:c:c:2c:c:c:7d",
    "show_range OOP r:0:c",  "show_range IP r:0:c:c:As",  "show_probs r:0:c:c:2c:c",
    "calc_eq OOP",           "calc_eq_pp IP",
};

std::string AskQueries() {
  std::string replies;
  for (const char* query : kQueries) replies += RunLine(query);
  return replies;
}

class LevelTest : public TreeFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(LevelTest, FlopTreeSolvesOnAsOneThatNeverStopped) {
  ASSERT_NO_FATAL_FAILURE(Build(FlopSpot(), GetParam()));
  Solve(30);
  const std::string results = AskQueries();
  EXPECT_EQ(results.find("ERROR"), std::string::npos) << results;
  Dump("half.tree");
  Solve(40);
  const auto kept = StoreBytes();
  const std::string kept_results = AskQueries();

  Load("half.tree");
  EXPECT_EQ(RunLine("is_tree_present"), "true\n");
  EXPECT_EQ(g_solver_state->iterations, 30);
  EXPECT_EQ(g_compression_level, GetParam());
  EXPECT_EQ(AskQueries(), results);
  // Across the strategy sums' start at iteration 61.
  Solve(40);
  EXPECT_EQ(g_solver_state->iterations, 70);
  const auto loaded = StoreBytes();
  ASSERT_EQ(kept.size(), loaded.size());
  // Block stores code their rows against what a block held before: only the
  // uncompressed stores compare as bytes, every level as values.
  if (GetParam() == 0) {
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_TRUE(kept[i] == loaded[i]) << "node " << i;
  }
  EXPECT_EQ(AskQueries(), kept_results);
}

INSTANTIATE_TEST_SUITE_P(Levels, LevelTest, ::testing::Values(0, 3, 4));

// Every file the engine writes loads and answers as the tree it was written
// from: at every level, whole and with its rivers, then its turns, forgotten.
TEST_F(TreeFileTest, RoundTripsGiveTheSameBytes) {
  // A tree never solved: its stores get their zeros.
  ASSERT_NO_FATAL_FAILURE(Build(TurnSpot()));
  ExpectRoundTrip("fresh");
  Solve(30);
  ExpectRoundTrip("turn");
  for (int level : {0, 1, 2, 3, 4}) {
    const std::string name = "flop" + std::to_string(level);
    ASSERT_NO_FATAL_FAILURE(Build(FlopSpot(), level));
    Solve(64);
    const std::string queries = AskQueries();
    ExpectRoundTrip(name);
    EXPECT_EQ(g_compression_level, level);
    EXPECT_EQ(AskQueries(), queries) << name;
    for (const char* street : {"rivers", "turns"}) {
      ASSERT_EQ(RunLine(std::string("forget ") + street), "forget ok!\n");
      const std::string results = RunLine("calc_results");
      ExpectRoundTrip(name + street);
      EXPECT_EQ(RunLine("calc_results"), results) << name << " " << street;
    }
  }
}

TEST_F(TreeFileTest, ForgottenStreetsTravelAsStrategies) {
  ASSERT_NO_FATAL_FAILURE(Build(FlopSpot()));
  Solve(70);
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  const std::string results = RunLine("calc_results");
  // The strategies the walks follow, per flop and turn node and board.
  struct Row {
    size_t node;
    int32_t board;
    std::vector<double> values;
  };
  auto strategies = [] {
    std::vector<Row> rows;
    SolverState& state = *g_solver_state;
    for (size_t i = 0; i < state.nodes.size(); ++i) {
      TreeNode& node = state.nodes[i];
      if (node.kind != DECISION_NODE || node.street == STREET_RIVER) continue;
      const int32_t boards = node.street == STREET_FLOP ? 1 : static_cast<int32_t>(state.deal_tree->turn_records.size());
      for (int32_t b = 0; b < boards; ++b) {
        const int32_t board = node.street == STREET_FLOP ? -1 : b;
        std::vector<float> defaults(node.children.size(), 1.0f / node.children.size());
        std::vector<NumArray> s;
        if (node.strategy_store && StrategySumsInUse(*g_solver_state)) {
          GetAverageStrategy(node, s, board, -1);
        } else {
          s = node.regret_store->GetStrategy(board, -1, defaults.data());
        }
        Row row{i, board, {}};
        for (const NumArray& a : s)
          for (int32_t h = 0; h < a.count; ++h) row.values.push_back(a.data ? a.data[h] : 0.0);
        rows.push_back(std::move(row));
      }
    }
    return rows;
  };
  const std::vector<Row> before = strategies();
  const std::string queries = AskQueries();
  EXPECT_EQ(queries.find("ERROR"), std::string::npos) << queries;
  ExpectRoundTrip("forgotten");
  // The strategies come back in thousandths (below), so the answers differ in
  // their last digits; the rivers are re-solved from the reach of the walk.
  const std::string loaded_queries = AskQueries();
  EXPECT_EQ(loaded_queries.find("ERROR"), std::string::npos) << loaded_queries;
  EXPECT_EQ(g_solver_state->first_forgotten_street, STREET_RIVER);
  EXPECT_TRUE(g_solver_state->flags & INCOMPLETE_TREE);
  EXPECT_EQ(RunLine("calc_results"), results);
  // Loaded, the strategies live in the regret stores in thousandths.
  SolverState& state = *g_solver_state;
  size_t compared = 0;
  for (const Row& row : before) {
    TreeNode& node = state.nodes[row.node];
    std::vector<float> defaults(node.children.size(), 1.0f / node.children.size());
    const std::vector<NumArray> s = node.regret_store->GetStrategy(row.board, -1, defaults.data());
    size_t k = 0;
    for (const NumArray& a : s)
      for (int32_t h = 0; h < a.count; ++h, ++k) {
        ASSERT_LT(k, row.values.size());
        EXPECT_NEAR(a.data[h], row.values[k], 0.0011) << "node " << row.node << " board " << row.board;
        ++compared;
      }
  }
  EXPECT_GT(compared, 100u);
  // The rivers' reach came back from the walk with the loaded strategies.
  size_t filled = 0;
  for (TreeNode& node : state.nodes)
    if (node.street == STREET_RIVER && node.card_records && node.kind == DECISION_NODE)
      for (int32_t r = 0; r < 49; ++r)
        for (int p = 0; p < 2; ++p)
          if (node.card_records[r].reach_filled[p]) {
            EXPECT_TRUE(node.card_records[r].reach_sums[p].HasData());
            ++filled;
          }
  EXPECT_GT(filled, 0u);
  // Nothing can be solved, but the forgotten streets rebuild.
  EXPECT_EQ(RunLine("rebuild_forgotten_streets"), "rebuild_forgotten_streets ok!\n");
  Solve(5);
  EXPECT_EQ(g_solver_state->iterations, 75);
  // Rebuilt, the tree is whole again and written whole.
  ExpectRoundTrip("rebuilt");
  EXPECT_EQ(g_solver_state->first_forgotten_street, STREET_NONE);
  Solve(5);
  EXPECT_EQ(g_solver_state->iterations, 80);
}

// Forgotten turns: only the flop's strategies travel, and the one card record
// of each turn's first node comes back from the walk.
TEST_F(TreeFileTest, ForgottenTurnsTravelAsFlopStrategies) {
  ASSERT_NO_FATAL_FAILURE(Build(FlopSpot(), 3));
  Solve(40);
  ASSERT_EQ(RunLine("forget turns"), "forget ok!\n");
  const std::string results = RunLine("calc_results");
  ExpectRoundTrip("turns");
  EXPECT_EQ(g_solver_state->first_forgotten_street, STREET_TURN);
  EXPECT_EQ(RunLine("calc_results"), results);
  size_t filled = 0;
  for (TreeNode& node : g_solver_state->nodes) {
    if (node.kind == DECISION_NODE && node.street == STREET_FLOP) {
      EXPECT_TRUE(node.regret_store != nullptr);
    }
    if (node.street > STREET_FLOP) {
      EXPECT_TRUE(node.regret_store == nullptr || node.materialised);
    }
    if (node.kind == DECISION_NODE && node.street == STREET_TURN && node.card_records)
      for (int p = 0; p < 2; ++p)
        if (node.card_records[0].reach_filled[p]) {
          EXPECT_TRUE(node.card_records[0].reach_sums[p].HasData());
          ++filled;
        }
  }
  EXPECT_GT(filled, 0u);
  const std::string queries = AskQueries();
  EXPECT_EQ(queries.find("ERROR"), std::string::npos) << queries;
}

// Locked nodes and combinations on every street travel with their stores and
// hold while the loaded tree solves on.
TEST_F(TreeFileTest, LocksTravelWithTheirStores) {
  for (int level : {0, 3}) {
    ASSERT_NO_FATAL_FAILURE(Build(FlopSpot(), level));
    std::vector<double> half(kComboCount, 0.5), mask(kComboCount, 0.0);
    for (const char* hand : {"AsAd", "KsKd", "7s6s", "JcJd"}) mask[Combo(hand)] = 1.0;
    const char* const kPaths[] = {"r:0", "r:0:c:c:2c", "r:0:c:c:2c:c:c:7d"};
    for (const char* path : kPaths) {
      ASSERT_EQ(RunLine(ComboLine(std::string("set_strategy ") + path + " 0", half)), "set_strategy ok!\n");
      ASSERT_EQ(RunLine(ComboLine(std::string("combo_lock_node ") + path, mask)), "combo_lock_node ok!\n");
    }
    ASSERT_EQ(RunLine("lock_node r:0:c"), "lock_node ok!\n");
    Solve(10);
    std::string before;
    for (const char* path : kPaths)
      before += RunLine(std::string("show_locked_combos ") + path) + RunLine(std::string("show_strategy ") + path);
    const std::string locked_strategy = RunLine("show_strategy r:0:c");
    before += RunLine("show_node r:0:c") + locked_strategy;
    ExpectRoundTrip("locks" + std::to_string(level));
    std::string after;
    for (const char* path : kPaths)
      after += RunLine(std::string("show_locked_combos ") + path) + RunLine(std::string("show_strategy ") + path);
    after += RunLine("show_node r:0:c") + RunLine("show_strategy r:0:c");
    EXPECT_EQ(after, before) << "level " << level;
    EXPECT_NE(after.find("flags: LOCKED"), std::string::npos);
    Solve(5);
    EXPECT_EQ(RunLine("show_strategy r:0:c"), locked_strategy) << "a locked node keeps its strategy";
  }
}

TEST_F(TreeFileTest, FailedLoadsLeaveNoTree) {
  ASSERT_NO_FATAL_FAILURE(Build(TurnSpot()));
  Solve(10);
  Dump("good.tree");
  const std::vector<uint8_t> good = ReadFileBytes(Path("good.tree"));
  auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) { WriteFileBytes(Path(name), bytes); };
  auto refused = [&](const std::string& name) {
    const std::string reply = RunLine("load_tree " + Path(name));
    EXPECT_EQ(RunLine("is_tree_present"), "false\n") << name;
    EXPECT_EQ(g_solver_state, nullptr);
    // The engine goes on: the good file loads after any bad one.
    Load("good.tree");
    return reply;
  };
  EXPECT_EQ(refused("missing"), "ERROR: load_tree can't open file (No such file or directory)\n");
  EXPECT_EQ(refused(""), "ERROR: load_tree can't open file (Is a directory)\n");
  std::vector<uint8_t> bytes = good;
  bytes[3] = 'X';
  write("tag", bytes);
  EXPECT_EQ(refused("tag"), "ERROR: load_tree invalid file\n");
  bytes = good;
  bytes[4] = 7;
  write("version", bytes);
  EXPECT_EQ(refused("version"), "ERROR: load_tree unsupported data format, update to latest version\n");
  // Cut anywhere: the end comes early.
  for (size_t cut : {size_t{2}, size_t{40}, size_t{21300}, good.size() / 2, good.size() - 1}) {
    write("cut", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut)));
    EXPECT_EQ(refused("cut"), "ERROR: load_tree can't read from file ()\n") << cut;
  }
}

// Real dumps, damaged so that their parts no longer agree: each is refused
// whole, and the undamaged files still load.
TEST_F(TreeFileTest, InconsistentFilesAreRefused) {
  ASSERT_NO_FATAL_FAILURE(Build(TurnSpot()));
  Solve(10);
  Dump("whole.tree");
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");
  Dump("forgotten.tree");
  const std::vector<uint8_t> whole = ReadFileBytes(Path("whole.tree"));
  const std::vector<uint8_t> forgotten = ReadFileBytes(Path("forgotten.tree"));
  MemoryWriter lines;
  WriteSchematicNode(*g_schematic_root, lines);
  // Tag, version, without-values byte, masks, pot, ranges, lines: the flags.
  const size_t flags = 33 + 24 + 2 * kComboCount * 8 + lines.Bytes().size();
  ASSERT_EQ(whole[flags] & 1, 0);
  ASSERT_EQ(forgotten[flags] & 1, 1);
  auto refused = [&](const char* what, std::vector<uint8_t> bytes, const std::string& reason) {
    WriteFileBytes(Path("bad.tree"), bytes);
    EXPECT_EQ(RunLine("load_tree " + Path("bad.tree")), "ERROR: load_tree invalid file (" + reason + ")\n")
        << what;
    EXPECT_EQ(RunLine("is_tree_present"), "false\n") << what;
  };
  std::vector<uint8_t> bytes = whole;
  bytes[flags] |= 1;
  refused("incomplete flag on a whole tree", bytes, "flags and forgotten street disagree");
  bytes = forgotten;
  bytes[flags] &= 0xFE;
  refused("no incomplete flag on a forgotten tree", bytes, "flags and forgotten street disagree");
  bytes = whole;
  bytes[8] = 1;
  refused("without-values byte on a file with values", bytes, "bytes after the last section");
  for (const auto* file : {&whole, &forgotten}) {
    bytes = *file;
    bytes.push_back(0);
    refused("a byte after the node data", bytes, "bytes after the last section");
  }
  Load("whole.tree");
  Load("forgotten.tree");
}

// Values no set-up command, build or pass could have left refuse the file
// whole; a pot figure set_pot takes, however odd, loads.
TEST_F(TreeFileTest, ValuesNoCommandCouldMakeAreRefused) {
  ASSERT_NO_FATAL_FAILURE(Build(TurnSpot()));
  Solve(10);
  Dump("good.tree");
  const std::vector<uint8_t> good = ReadFileBytes(Path("good.tree"));
  MemoryWriter lines, regrets;
  WriteSchematicNode(*g_schematic_root, lines);
  g_solver_state->nodes[0].regret_store->Write(regrets);
  // Tag, version and flag byte, masks, then pot, ranges, lines and header.
  constexpr size_t kPot = 33, kRanges = kPot + 24, kLines = kRanges + 2 * kComboCount * 8;
  const size_t header = kLines + lines.Bytes().size();
  // The root's regret rows end its store (floats in every form of it).
  const size_t regret_end = static_cast<size_t>(
      std::search(good.begin(), good.end(), regrets.Bytes().begin(), regrets.Bytes().end()) - good.begin() +
      static_cast<long>(regrets.Bytes().size()));
  ASSERT_LE(regret_end, good.size());
  auto load = [&](size_t at, auto value) {
    std::vector<uint8_t> bytes = good;
    std::memcpy(bytes.data() + at, &value, sizeof value);
    WriteFileBytes(Path("bad.tree"), bytes);
    return RunLine("load_tree " + Path("bad.tree"));
  };
  auto refused = [&](const char* what, size_t at, auto value) {
    const std::string reply = load(at, value);
    EXPECT_EQ(reply.rfind("ERROR: load_tree invalid file (", 0), 0u) << what << ": " << reply;
    EXPECT_EQ(RunLine("is_tree_present"), "false\n") << what;
  };
  refused("pot", kPot + 16, 1e300);
  refused("pot", kPot, 2.5);
  refused("range", kRanges, -1.0);
  refused("range", kRanges + kComboCount * 8 + 8 * 40, 5e-324);
  refused("root amount", kLines + 16, 1e300);
  refused("first key", kLines + 44, 1e300);
  refused("first amount", kLines + 52 + 16, -1.0);
  refused("flags", header, 0xFFFFFFFFu);
  refused("last results", header + 8, int32_t{-2});
  refused("exploitability", header + 52, std::numeric_limits<double>::quiet_NaN());
  refused("iterations", header + 64, int32_t{kIterationCap + 1});
  refused("regret", regret_end - 4, std::numeric_limits<float>::infinity());
  EXPECT_EQ(load(kPot, -1.0), "load_tree ok!\n");
}

TEST_F(TreeFileTest, DumpsThatCannotBeWrittenLeaveNoFile) {
  EXPECT_EQ(RunLine("dump_tree"), "ERROR: dump_tree incorrect or missing argument\n");
  EXPECT_EQ(RunLine("dump_tree " + Path("none.tree")), "ERROR: dump_tree missing/incorrect tree\n");
  ASSERT_NO_FATAL_FAILURE(Build(TurnSpot()));
  Solve(5);
  const std::string reply = RunLine("dump_tree " + Path("no/such/dir.tree"));
  EXPECT_EQ(reply.rfind("ERROR: dump_tree can't open file (", 0), 0u) << reply;
  EXPECT_EQ(RunLine("dump_tree " + dir_), "ERROR: dump_tree can't open file (Is a directory)\n");
  // A file already there stays as it was until the new one is complete.
  Dump("kept.tree");
  const std::vector<uint8_t> kept = ReadFileBytes(Path("kept.tree"));
  Solve(5);
  Dump("kept.tree");
  EXPECT_FALSE(kept == ReadFileBytes(Path("kept.tree")));
  // Only the finished file is left in the directory.
  const std::string listing = Path("listing");
  const std::string command = "ls -A " + dir_ + " > " + listing;
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(listing);
  std::string names((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(names, "kept.tree\nlisting\n");
}

TEST_F(TreeFileTest, DumpRefusesATreeTheSituationNoLongerDescribes) {
  ASSERT_NO_FATAL_FAILURE(Build(TurnSpot()));
  const std::string refusal =
      "ERROR: dump_tree lines, board, pot or ranges changed since the tree was built\n";
  ASSERT_EQ(RunLine("add_line 10"), "add_line ok!\n");
  EXPECT_EQ(RunLine("dump_tree " + Path("a.tree")), refusal);
  ASSERT_EQ(RunLine("remove_line 10"), "remove_line ok!\n");
  Dump("a.tree");
  const double pot = g_pot[2];
  g_pot[2] = pot + 1;
  EXPECT_EQ(RunLine("dump_tree " + Path("b.tree")), refusal);
  g_pot[2] = pot;
  g_ranges[PLAYER_IP][Combo("AhAd")] += 0.5;
  EXPECT_EQ(RunLine("dump_tree " + Path("b.tree")), refusal);
  EXPECT_FALSE(FileExists(Path("b.tree")));
}

// A tree built with isomorphism loads with it, whatever the setting now.
TEST_F(TreeFileTest, LoadRebuildsWithTheFilesIsomorphism) {
  ASSERT_NO_FATAL_FAILURE(Build(FlopSpot()));
  ASSERT_TRUE(g_solver_state->flags & ISOMORPHISM_ON);
  Solve(10);
  const std::string results = RunLine("calc_results");
  const size_t turns = g_solver_state->deal_tree->turn_records.size();
  ASSERT_EQ(RunLine("set_isomorphism 0 0"), "set_isomorphism ok!\n");
  ExpectRoundTrip("iso");
  EXPECT_TRUE(g_solver_state->flags & ISOMORPHISM_ON);
  EXPECT_EQ(g_solver_state->deal_tree->turn_records.size(), turns);
  EXPECT_EQ(RunLine("calc_results"), results);
  ASSERT_EQ(RunLine("set_isomorphism 1 0"), "set_isomorphism ok!\n");
}

}  // namespace
