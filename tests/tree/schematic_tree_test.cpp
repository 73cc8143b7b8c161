#include "tree/schematic_tree.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/engine_harness.h"

namespace {

// The node reached from the root by the keys, or null.
const SchematicNode* At(std::initializer_list<double> keys) {
  const SchematicNode* node = g_schematic_root;
  for (double key : keys) {
    if (!node) return nullptr;
    node = FindSchematicChild(node, key);
  }
  return node;
}

std::vector<double> Keys(const SchematicNode* node) {
  std::vector<double> keys;
  for (const auto& entry : node->children) keys.push_back(entry.first);
  return keys;
}

// player, street, bets, amount, OOP and IP commitment.
std::string Fields(const SchematicNode* node) {
  if (!node) return "missing";
  char text[160];
  std::snprintf(text, sizeof text, "p%u s%u b%u a%g %g/%g", node->player, node->street,
                node->bets, node->amount, node->commitment[0], node->commitment[1]);
  return text;
}

// Every child points back at its parent.
bool ParentsConsistent(const SchematicNode* node) {
  for (const auto& entry : node->children)
    if (entry.second->parent != node || !ParentsConsistent(entry.second.get())) return false;
  return true;
}

class SchematicTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RunLine("clear_lines"), "clear_lines ok!\n"); }
  void TearDown() override { RunLine("clear_lines"); }
};

TEST_F(SchematicTreeTest, BareAddLineOnlyResetsTheRoot) {
  g_schematic_root->player = PLAYER_IP;
  g_schematic_root->street = 2;
  g_schematic_root->bets = 3;
  g_schematic_root->amount = 7;
  g_schematic_root->commitment[1] = 7;
  EXPECT_EQ(RunLine("add_line"), "add_line ok!\n");
  EXPECT_TRUE(g_schematic_root->children.empty());
  EXPECT_EQ(Fields(g_schematic_root), "p0 s0 b0 a0 0/0");
  EXPECT_EQ(g_schematic_root->parent, nullptr);
}

TEST_F(SchematicTreeTest, ChecksGetTheirCheckBack) {
  EXPECT_EQ(RunLine("add_line 0"), "add_line ok!\n");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{0}));
  EXPECT_EQ(Fields(At({0})), "p1 s0 b0 a0 0/0");
  // The automatic check-back stays on the street of the check until a line
  // goes through it.
  EXPECT_EQ(Keys(At({0})), (std::vector<double>{0}));
  EXPECT_EQ(Fields(At({0, 0})), "p0 s0 b0 a0 0/0");
  EXPECT_TRUE(At({0, 0})->children.empty());

  EXPECT_EQ(RunLine("add_line 0 0"), "add_line ok!\n");
  EXPECT_EQ(Fields(At({0, 0})), "p0 s1 b0 a0 0/0");
  EXPECT_TRUE(At({0, 0})->children.empty());
}

TEST_F(SchematicTreeTest, BetGetsCallAndFoldInDescendingOrder) {
  EXPECT_EQ(RunLine("add_line 10"), "add_line ok!\n");
  const SchematicNode* bet = At({10});
  EXPECT_EQ(Fields(bet), "p1 s0 b1 a10 10/0");
  EXPECT_EQ(Keys(bet), (std::vector<double>{10, -1}));
  EXPECT_EQ(Fields(At({10, 10})), "p0 s0 b0 a10 10/10");
  EXPECT_EQ(Fields(At({10, -1})), "p0 s0 b0 a0 10/0");

  EXPECT_EQ(RunLine("add_line 10 30"), "add_line ok!\n");
  EXPECT_EQ(Keys(bet), (std::vector<double>{30, 10, -1}));
  EXPECT_EQ(Fields(At({10, 30})), "p0 s0 b2 a30 10/30");
  EXPECT_EQ(Keys(At({10, 30})), (std::vector<double>{30, -1}));
  EXPECT_EQ(Fields(At({10, 30, 30})), "p0 s0 b0 a30 30/30");
  EXPECT_EQ(Fields(At({10, 30, -1})), "p0 s0 b0 a10 10/30");
  EXPECT_TRUE(ParentsConsistent(g_schematic_root));
}

TEST_F(SchematicTreeTest, LineContinuesThroughAnAutomaticCall) {
  RunLine("add_line 10");
  EXPECT_EQ(RunLine("add_line 10 10 25"), "add_line ok!\n");
  // The call now ends the street: OOP opens the next one.
  EXPECT_EQ(Fields(At({10, 10})), "p0 s1 b0 a10 10/10");
  EXPECT_EQ(Fields(At({10, 10, 25})), "p1 s1 b1 a25 25/10");
  EXPECT_EQ(Fields(At({10, 10, 25, 25})), "p0 s1 b0 a25 25/25");
  EXPECT_EQ(Fields(At({10, 10, 25, -1})), "p0 s1 b0 a10 25/10");
  // A check on a later street is keyed by the amount already committed.
  EXPECT_EQ(RunLine("add_line 10 10 10 10"), "add_line ok!\n");
  EXPECT_EQ(Fields(At({10, 10, 10})), "p1 s1 b0 a10 10/10");
  EXPECT_EQ(Fields(At({10, 10, 10, 10})), "p0 s2 b0 a10 10/10");
  EXPECT_EQ(Keys(At({10, 10})), (std::vector<double>{25, 10}));
}

TEST_F(SchematicTreeTest, ChildrenComeByDescendingKey) {
  RunLine("add_line 20");
  RunLine("add_line 0");
  RunLine("add_line 50");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{50, 20, 0}));
}

TEST_F(SchematicTreeTest, KeysCompareExactly) {
  RunLine("add_line 10");
  RunLine("add_line 10.0");
  RunLine("add_line 10.0000001");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{10.0000001, 10}));
}

TEST_F(SchematicTreeTest, FallingAmountKeepsTheWordsBefore) {
  EXPECT_EQ(RunLine("add_line 10 5"), "ERROR: add_line incorrect or missing argument\n");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{10}));
  EXPECT_EQ(Keys(At({10})), (std::vector<double>{10, -1}));
  EXPECT_EQ(RunLine("force_line 10 5"), "ERROR: force_line incorrect or missing argument\n");
}

TEST_F(SchematicTreeTest, NonFiniteAndBadNumbersAreRefused) {
  for (const char* word : {"nan", "inf", "-inf", "NaN", "x", "1e999"})
    EXPECT_EQ(RunLine(std::string("add_line 10 ") + word), "Invalid value\n") << word;
  // remove_line only looks amounts up, and no line has a NaN or infinite one.
  for (const char* word : {"nan", "inf", "-inf", "NaN"})
    EXPECT_EQ(RunLine(std::string("remove_line 10 ") + word),
              "ERROR: remove_line Specified line doesn't exists.\n")
        << word;
  for (const char* word : {"x", "1e999"})
    EXPECT_EQ(RunLine(std::string("remove_line 10 ") + word), "Invalid value\n") << word;
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{10}));
  EXPECT_EQ(Keys(At({10})), (std::vector<double>{10, -1}));
}

TEST_F(SchematicTreeTest, ForceLineKeepsOnlyItsOwnActions) {
  RunLine("add_line 20");
  RunLine("add_line 0 30");
  RunLine("add_line 0 5");
  EXPECT_EQ(RunLine("force_line 0 10"), "force_line ok!\n");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{0}));
  // The automatic check-back under the check is gone too.
  EXPECT_EQ(Keys(At({0})), (std::vector<double>{10}));
  EXPECT_EQ(Fields(At({0, 10})), "p0 s0 b1 a10 0/10");
  EXPECT_EQ(Keys(At({0, 10})), (std::vector<double>{10, -1}));
  // An existing node keeps what hangs below it where the line ends.
  RunLine("add_line 0 10 40");
  EXPECT_EQ(RunLine("force_line 0 10"), "force_line ok!\n");
  EXPECT_EQ(Keys(At({0, 10})), (std::vector<double>{40, 10, -1}));
}

TEST_F(SchematicTreeTest, RemoveLineErasesSubtrees) {
  RunLine("add_line 10 30");
  RunLine("add_line 0");
  EXPECT_EQ(RunLine("remove_line 10 0"), "remove_line ok!\n");
  EXPECT_EQ(Keys(At({10})), (std::vector<double>{30, 10}));
  EXPECT_EQ(RunLine("remove_line 10 30 0"), "remove_line ok!\n");
  EXPECT_EQ(Keys(At({10, 30})), (std::vector<double>{30}));
  // A 0 at the root (no bet before it) is the check.
  EXPECT_EQ(RunLine("remove_line 0 0"), "remove_line ok!\n");
  EXPECT_TRUE(At({0})->children.empty());

  EXPECT_EQ(RunLine("remove_line 7"), "ERROR: remove_line Specified line doesn't exists.\n");
  EXPECT_EQ(RunLine("remove_line 10 30 0"),
            "ERROR: remove_line Specified line doesn't exists.\n");
  EXPECT_EQ(RunLine("remove_line"), "remove_line ok!\n");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{10, 0}));

  EXPECT_EQ(RunLine("remove_line 10"), "remove_line ok!\n");
  EXPECT_EQ(Keys(g_schematic_root), (std::vector<double>{0}));
}

TEST_F(SchematicTreeTest, ClearingInstallsAnEmptyRoot) {
  RunLine("add_line 10 30 90");
  EXPECT_EQ(RunLine("clear_lines"), "clear_lines ok!\n");
  EXPECT_TRUE(g_schematic_root->children.empty());
  RunLine("add_line 10 30 90");
  EXPECT_EQ(RunLine("free_schematic_tree"), "free_schematic_tree ok!\n");
  EXPECT_TRUE(g_schematic_root->children.empty());
  EXPECT_EQ(Fields(g_schematic_root), "p0 s0 b0 a0 0/0");
}

TEST_F(SchematicTreeTest, MaxLineAmountSpansTheSubtree) {
  RunLine("add_line 10 30");
  RunLine("add_line 0 150.7");
  RunLine("add_line 20 20 90");
  EXPECT_DOUBLE_EQ(FindMaxLineAmount(g_schematic_root, 0.0), 150.7);
  EXPECT_DOUBLE_EQ(FindMaxLineAmount(At({10}), 10.0), 30.0);
  EXPECT_DOUBLE_EQ(FindMaxLineAmount(At({10}), 500.0), 500.0);
  EXPECT_DOUBLE_EQ(FindMaxLineAmount(At({10, -1}), -1.0), -1.0);
}

TEST_F(SchematicTreeTest, EntryIndexOfNewNodesIsZeroAndKeptByWalks) {
  RunLine("add_line 10");
  const_cast<SchematicNode*>(At({10}))->entry_index = 4;
  RunLine("add_line 10 30");
  EXPECT_EQ(At({10})->entry_index, 4u);
  EXPECT_EQ(At({10, 30})->entry_index, 0u);
}

TEST_F(SchematicTreeTest, EraseSubtreeDetachesFromTheParent) {
  RunLine("add_line 10 30");
  EXPECT_FALSE(EraseSchematicSubtree(g_schematic_root));
  EXPECT_TRUE(EraseSchematicSubtree(const_cast<SchematicNode*>(At({10, 30}))));
  EXPECT_EQ(Keys(At({10})), (std::vector<double>{10, -1}));
}

// A line is as deep as the command line is long; freeing it must not recurse.
TEST_F(SchematicTreeTest, VeryDeepLinesAreFreedWithoutRecursion) {
  std::string line = "add_line";
  for (int i = 0; i < 300000; ++i) line += " 0";
  EXPECT_EQ(RunLine(line), "add_line ok!\n");
  EXPECT_DOUBLE_EQ(FindMaxLineAmount(g_schematic_root, 0.0), 0.0);
  EXPECT_EQ(RunLine("add_line 5"), "add_line ok!\n");
  EXPECT_EQ(RunLine("force_line 5"), "force_line ok!\n");  // erases the deep check line
  EXPECT_EQ(RunLine(line), "add_line ok!\n");
  EXPECT_EQ(RunLine("remove_line 0"), "remove_line ok!\n");
  EXPECT_EQ(RunLine(line), "add_line ok!\n");
  EXPECT_EQ(RunLine("clear_lines"), "clear_lines ok!\n");
  EXPECT_TRUE(g_schematic_root->children.empty());
}

}  // namespace
