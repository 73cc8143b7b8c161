// The bet-line records of a tree file: what the writer writes reads back, a
// key met twice keeps the later child, and records no build could have made
// are refused before they are used.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/byte_io.h"
#include "tree/schematic_tree.h"
#include "tree/tree_builder.h"
#include "treefile/tree_file.h"
#include "treefile/tree_file_error.h"

namespace {

void WriteRecord(MemoryWriter& out, uint32_t player, uint32_t street, double amount, int32_t children) {
  WriteField<uint32_t>(out, player);
  WriteField<uint32_t>(out, street);
  WriteField<uint32_t>(out, 0);
  WriteField<uint32_t>(out, 77);
  WriteField<double>(out, amount);
  WriteField<double>(out, amount);
  WriteField<double>(out, 0.0);
  WriteField<int32_t>(out, children);
}

TEST(SchematicRecord, RoundTripAndTheLaterOfTwoEqualKeys) {
  SchematicNode root;
  auto& bet = root.children[50.0];
  bet = std::make_unique<SchematicNode>(&root);
  bet->player = PLAYER_IP;
  bet->amount = 50.0;
  bet->commitment[PLAYER_OOP] = 50.0;
  bet->children[-1.0] = std::make_unique<SchematicNode>(bet.get());
  auto& call = bet->children[50.0];
  call = std::make_unique<SchematicNode>(bet.get());
  call->amount = call->commitment[PLAYER_OOP] = call->commitment[PLAYER_IP] = 50.0;
  root.children[0.0] = std::make_unique<SchematicNode>(&root);
  MemoryWriter out;
  WriteSchematicNode(root, out);

  SchematicNode read;
  MemoryReader in(out.Bytes());
  ReadSchematicNode(read, in, 0);
  EXPECT_EQ(in.Position(), out.Bytes().size());
  MemoryWriter again;
  WriteSchematicNode(read, again);
  EXPECT_EQ(again.Bytes(), out.Bytes());
  ASSERT_EQ(read.children.size(), 2u);
  EXPECT_EQ(read.children.begin()->first, 50.0);  // descending keys
  EXPECT_EQ(read.children.begin()->second->parent, &read);

  // Two children under 10: the second, with one child of its own, stays.
  MemoryWriter twice;
  WriteRecord(twice, 0, 0, 0.0, 2);
  WriteField<double>(twice, 10.0);
  WriteRecord(twice, 1, 0, 10.0, 0);
  WriteField<double>(twice, 10.0);
  WriteRecord(twice, 1, 0, 10.0, 1);
  WriteField<double>(twice, -1.0);
  WriteRecord(twice, 0, 0, 10.0, 0);
  SchematicNode replaced;
  MemoryReader twice_in(twice.Bytes());
  ReadSchematicNode(replaced, twice_in, 0);
  ASSERT_EQ(replaced.children.size(), 1u);
  EXPECT_EQ(replaced.children.at(10.0)->children.size(), 1u);
}

TEST(SchematicRecord, RecordsNoBuildCouldMakeAreRefused) {
  auto refused = [](const MemoryWriter& out) {
    SchematicNode node;
    MemoryReader in(out.Bytes());
    EXPECT_THROW(ReadSchematicNode(node, in, 0), TreeFileError);
  };
  {
    MemoryWriter out;  // a decision of player 2
    WriteRecord(out, 2, 0, 0.0, 1);
    refused(out);
  }
  {
    MemoryWriter out;  // a decision beyond the river
    WriteRecord(out, 0, 3, 0.0, 1);
    refused(out);
  }
  {
    MemoryWriter out;  // an amount that is no number
    WriteRecord(out, 0, 0, std::numeric_limits<double>::quiet_NaN(), 0);
    refused(out);
  }
  {
    MemoryWriter out;  // a key that is no number
    WriteRecord(out, 0, 0, 0.0, 1);
    WriteField<double>(out, std::numeric_limits<double>::infinity());
    refused(out);
  }
  {
    // One line deeper than any build accepts: refused before the stack is.
    MemoryWriter out;
    for (int depth = 0; depth <= kMaxLineActions + 1; ++depth) {
      WriteRecord(out, depth % 2, 0, 0.0, 1);
      WriteField<double>(out, 0.0);
    }
    refused(out);
  }
  {
    // An end node's player and street are not used, but no line makes these.
    MemoryWriter out;
    WriteRecord(out, 9, 9, 0.0, 0);
    refused(out);
  }
  {
    // A child count beyond the file: the file's end comes first.
    MemoryWriter out;
    WriteRecord(out, 0, 0, 0.0, 1 << 30);
    SchematicNode node;
    MemoryReader in(out.Bytes());
    EXPECT_THROW(ReadSchematicNode(node, in, 0), IOException);
  }
}

}  // namespace
