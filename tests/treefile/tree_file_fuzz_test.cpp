// Damaged tree files: real dumps cut short, with bits flipped, with stretches
// overwritten, and random bytes after a real head. Every load must end in the
// tree or in an error reply that leaves no tree, never in a crash, a hang or
// a sanitizer report; a tree that does load must answer and solve.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "support/engine_harness.h"
#include "support/reference_game.h"
#include "support/solver_spots.h"
#include "tree/build_fixture.h"
#include "tree/tree_builder.h"
#include "treefile/tree_file_fixture.h"

namespace {

using reference_game::MakeClassSpot;

class TreeFileFuzzTest : public TreeFileFixture {
 protected:
  // A dump of the spot solved a little, at the level, optionally forgotten.
  std::vector<uint8_t> RealDump(const reference_game::Spot& spot, int level, const char* forget) {
    Build(spot, level);
    Solve(30);
    if (forget) {
      EXPECT_EQ(RunLine(std::string("forget ") + forget), "forget ok!\n");
    }
    EXPECT_EQ(RunLine("dump_tree " + Path("real.tree")), "dump_tree ok!\n");
    return ReadFileBytes(Path("real.tree"));
  }

  // Loads the bytes; a tree that loads is asked for its results.
  void Try(const std::vector<uint8_t>& bytes) {
    WriteFileBytes(Path("fuzz.tree"), bytes);
    const std::string reply = RunLine("load_tree " + Path("fuzz.tree"));
    ++inputs_;
    if (reply == "load_tree ok!\n") {
      ++loaded_;
      EXPECT_EQ(RunLine("is_tree_present"), "true\n");
      RunLine("calc_results");
      return;
    }
    ASSERT_EQ(reply.rfind("ERROR: load_tree ", 0), 0u) << reply;
    ASSERT_EQ(reply.back(), '\n');
    ASSERT_EQ(reply.find('\n'), reply.size() - 1) << reply;
    EXPECT_EQ(RunLine("is_tree_present"), "false\n") << reply;
    EXPECT_EQ(g_solver_state, nullptr);
  }

  void Mutate(const std::vector<uint8_t>& real, uint32_t seed, int rounds) {
    std::mt19937 random(seed);
    const size_t size = real.size();
    auto position = [&] {
      // Half of the damage lands in the head, the lines and the header, where
      // a wrong byte changes the most.
      return random() % 2 ? random() % std::min<size_t>(size, 22600) : random() % size;
    };
    for (int round = 0; round < rounds && !HasFatalFailure(); ++round) {
      std::vector<uint8_t> bytes = real;
      switch (round % 4) {
        case 0:  // cut short
          bytes.resize(position());
          break;
        case 1:  // a few bits flipped
          for (int k = 1 + random() % 4; k > 0; --k) bytes[position()] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
        case 2: {  // a stretch overwritten
          const size_t at = position();
          for (size_t k = at; k < std::min(size, at + 1 + random() % 16); ++k) bytes[k] = static_cast<uint8_t>(random());
          break;
        }
        default: {  // the real head, then noise
          bytes.resize(std::min<size_t>(size, 9 + random() % 64));
          const size_t extra = random() % 4096;
          for (size_t k = 0; k < extra; ++k) bytes.push_back(static_cast<uint8_t>(random()));
          break;
        }
      }
      Try(bytes);
    }
  }

  size_t inputs_ = 0;
  size_t loaded_ = 0;
};

TEST_F(TreeFileFuzzTest, DamagedDumpsNeverCrash) {
  const auto river = solver_spots::RiverSpot();
  const auto flop = MakeClassSpot("Kh9h4s", {"AA", "KK", "AKs", "T9s"}, {"JJ", "AQs", "KJs", "87s"}, 60,
                                  {{20, 60}, {0, 20}, {0, 0, 30}, {0, 0, 0, 0}});
  Mutate(RealDump(river, 0, nullptr), 1, 1200);
  Mutate(RealDump(flop, 0, nullptr), 2, 300);
  Mutate(RealDump(flop, 3, nullptr), 3, 300);
  Mutate(RealDump(flop, 4, "rivers"), 4, 300);
  // Random files: most are no tree file at all.
  std::mt19937 random(5);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes(random() % 512);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    if (round % 2 && bytes.size() >= 8) {
      bytes[0] = 'Z', bytes[1] = 'K', bytes[2] = '4', bytes[3] = ':';
      bytes[4] = static_cast<uint8_t>(random() % 7), bytes[5] = bytes[6] = bytes[7] = 0;
    }
    Try(bytes);
  }
  std::printf("tree-file fuzz: %zu inputs, %zu loaded\n", inputs_, loaded_);
  EXPECT_GT(inputs_, 2000u);
}

}  // namespace
