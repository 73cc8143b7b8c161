// Trees that do not fit. go, calc_results and the rebuild of forgotten streets
// weigh the values a tree still needs against the free memory, and with the
// river blocks' reservations against the address-space limit, before they take
// any; memory that a command cannot get becomes that command's "out of memory"
// reply, and memory that a pass cannot get ends the pass (and a run) but not
// the process. In each case the tree stays usable.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/memory_status.h"
#include "platform/threads.h"
#include "platform/virtual_memory.h"
#include "solver/accuracy_settings.h"
#include "solver/solver_run.h"
#include "solver/solver_settings.h"
#include "solver/solver_state.h"
#include "solver/solver_status.h"
#include "store/composite_store.h"
#include "store/plain_store.h"
#include "support/engine_harness.h"
#include "support/process_runner.h"
#include "support/reference_game.h"
#include "tree/build_fixture.h"
#include "tree/deal_tree.h"
#include "tree/node_stores.h"
#include "tree/tree_records.h"

namespace {

using reference_game::MakeClassSpot;
using reference_game::Spot;

// Every combination in both ranges, the board Qs 8h 4d, a pot of 100 and no
// lines yet: the start of the engine sessions run under an address-space limit.
std::string FullRangesOnQs8h4d() {
  std::string ones;
  for (int c = 0; c < 1326; ++c) ones += " 1";
  return "set_range OOP" + ones + "\nset_range IP" + ones +
         "\nset_board Qs 8h 4d\nset_pot 0 0 100\nclear_lines\n";
}

// The engine run on `script` under an address-space limit of `mib` MiB with
// `threads` OpenMP threads (few, so the limit leaves the same room on any
// machine), in `dir` when one is given.
ProcessResult RunUnderLimit(const std::string& script, uint64_t mib, int threads,
                            const std::string& dir = "") {
  ProcessOptions options;
  options.address_space_bytes = mib << 20;
  options.environment = {"OMP_NUM_THREADS=" + std::to_string(threads)};
  return RunProcess(TDX_ENGINE_PATH, {}, script, dir, 120, options);
}

// The end of a long output, for failure messages.
std::string Tail(const std::string& out, size_t bytes) {
  return out.substr(out.size() > bytes ? out.size() - bytes : 0);
}

// Flop, turn and river decision nodes: a flop bet that IP may raise, a turn
// bet after the flop checks through, a river bet after the turn checks
// through, and the check-down.
Spot FlopSpot() {
  return MakeClassSpot("Kh9h4s", {"AA", "KK", "QQ:0.5", "AKs", "T9s", "65s:0.75"},
                       {"JJ", "TT", "99:0.6", "AQs", "KJs", "87s"}, 60,
                       {{20, 60}, {0, 20}, {0, 0, 30}, {0, 0, 0, 0, 40}, {0, 0, 0, 0, 0, 0}});
}

// A store that cannot get the memory for a strategy: every other operation
// goes to the real store it stands in for.
class StarvedStore final : public NodeStore {
 public:
  explicit StarvedStore(std::unique_ptr<NodeStore> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<NodeStore> Release() { return std::move(inner_); }

  bool Allocate() override { return inner_->Allocate(); }
  int32_t GetHandCount(int32_t i, int32_t j) override { return inner_->GetHandCount(i, j); }
  std::vector<NumArray> GetStrategy(int32_t, int32_t, const float*) override {
    throw std::bad_alloc();
  }
  void SetActionValues(int32_t i, int32_t j, int32_t a, const NumArray& v) override {
    inner_->SetActionValues(i, j, a, v);
  }
  void UpdateRegrets(int32_t i, int32_t j, const NumArray& node,
                     const std::vector<NumArray>& action, CompressedBlock* handle,
                     const std::vector<int16_t>* groups, double scale) override {
    inner_->UpdateRegrets(i, j, node, action, handle, groups, scale);
  }
  void AccumulateStrategy(int32_t i, int32_t j, const std::vector<NumArray>& strategy,
                          const NumArray& reach, double weight) override {
    inner_->AccumulateStrategy(i, j, strategy, reach, weight);
  }
  int64_t GetValueCount(int32_t i) override { return inner_->GetValueCount(i); }
  void Write(ByteWriter& out) override { inner_->Write(out); }
  void Read(ByteReader& in) override { inner_->Read(in); }
  CompressedBlock* OpenValues(CompressedBlock* h, int32_t i, int32_t count) override {
    return inner_->OpenValues(h, i, count);
  }
  CompressedBlock* CloseValues(CompressedBlock* h, int32_t i, bool write_back) override {
    return inner_->CloseValues(h, i, write_back);
  }
  NodeLockRecord* GetLockRecord(int32_t i, int32_t j) override {
    return inner_->GetLockRecord(i, j);
  }

 private:
  std::unique_ptr<NodeStore> inner_;
};

class OutOfMemoryTest : public TreeBuildTest {
 protected:
  void SetUp() override {
    Reset();
    TreeBuildTest::SetUp();
  }
  void TearDown() override {
    Reset();
    TreeBuildTest::TearDown();
    SetAccuracyTarget(0.0);
  }
  static void Reset() {
    StopSolverAndWait();
    SetMemoryStatusOverride(0, 0);
    g_scheduler = 0;
    // Runs end by their limits only.
    SetAccuracyTarget(-1.0);
  }

  static void SetAvailableBytes(uint64_t bytes) {
    SetMemoryStatusOverride(0, bytes);
  }

  static int MaterialisedNodes() {
    int count = 0;
    for (const TreeNode& node : State().nodes) count += node.materialised;
    return count;
  }

  static TreeNode& FirstDecision(int street) {
    for (TreeNode& node : State().nodes)
      if (node.kind == DECISION_NODE && node.street == street) return node;
    ADD_FAILURE() << "no decision node on street " << street;
    return State().nodes[0];
  }

  // A go line run to its end: the reply, and the console lines in `console`.
  static std::string RunToEnd(const std::string& go_line, std::string* console) {
    testing::internal::CaptureStdout();
    const std::string reply = RunLine(go_line);
    WaitForSolver();
    *console = testing::internal::GetCapturedStdout();
    return reply;
  }
};

// Bytes of heap values the store holds: its rows' floats.
uint64_t HeapValueBytes(NodeStore* store) {
  uint64_t bytes = 0;
  if (auto* plain = dynamic_cast<PlainStore*>(store)) {
    for (int32_t a = 0; a < plain->actions(); ++a)
      if (plain->row(a).HasData())
        bytes += sizeof(float) * static_cast<uint64_t>(plain->row(a).count);
  } else if (auto* composite = dynamic_cast<CompositeStore*>(store)) {
    for (int32_t t = 0; t < composite->turn_slots(); ++t)
      bytes += HeapValueBytes(&composite->slot(t));
  }
  return bytes;
}

TEST_F(OutOfMemoryTest, TheNeedIsWhatAllocatingTheStoresTakes) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(FlopSpot()));
  SolverState& state = State();
  ASSERT_NE(state.storage_kind, 0);  // every decision node has both stores

  // A flop node: one row of floats per action and hand, in each store.
  TreeNode& flop = FirstDecision(1);
  const uint64_t flop_row = sizeof(float) * state.deal_tree->hands.size();
  EXPECT_EQ(NodeAllocationBytes(flop), 2 * flop.children.size() * flop_row);

  // The whole tree: heap rows on the flop and turn, one block per river store.
  const uint64_t need = StoreValueNeed(state);
  const uint64_t blocks_before = ReservedBlockBytes();
  ASSERT_TRUE(AllocateStoreValues(state));
  const uint64_t block_bytes = ReservedBlockBytes() - blocks_before;
  uint64_t heap_bytes = 0;
  for (TreeNode& node : state.nodes) {
    if (!node.regret_store) continue;
    heap_bytes +=
        HeapValueBytes(node.regret_store.get()) + HeapValueBytes(node.strategy_store.get());
  }
  EXPECT_GT(block_bytes, 0u);
  EXPECT_GT(heap_bytes, 0u);
  EXPECT_EQ(need, heap_bytes + block_bytes);

  // Held values need nothing more, also when the node is to be made again.
  EXPECT_EQ(StoreValueNeed(state), 0u);
  flop.materialised = 0;
  EXPECT_EQ(StoreValueNeed(state), 0u);
}

TEST_F(OutOfMemoryTest, GoRefusesATreeBeyondTheFreeMemoryAndKeepsIt) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(FlopSpot()));
  const uint64_t need = StoreValueNeed(State());
  SetAvailableBytes(need - 1);

  EXPECT_EQ(RunLine("go"), "ERROR: go out of memory\n");
  EXPECT_FALSE(IsSolverRunning());
  EXPECT_EQ(MaterialisedNodes(), 0);  // nothing taken, not even part of it
  EXPECT_FALSE(State().stores_allocated);
  EXPECT_EQ(RunLine("calc_results"), "ERROR: calc_results out of memory\n");
  EXPECT_EQ(RunLine("is_tree_present"), "true\n");

  // With the memory back, the same tree solves.
  SetMemoryStatusOverride(0, 0);
  std::string console;
  EXPECT_EQ(RunToEnd("go 0 steps", &console), "go ok!\n");
  EXPECT_NE(console.find("SOLVER: stopped (required number of steps done)"), std::string::npos);
  EXPECT_EQ(State().iterations, 1);
  EXPECT_TRUE(State().stores_allocated);
}

TEST_F(OutOfMemoryTest, ARebuildThatCannotFitLeavesTheStreetsForgotten) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(FlopSpot()));
  std::string console;
  ASSERT_EQ(RunToEnd("go 2 steps", &console), "go ok!\n");
  ASSERT_EQ(RunLine("forget rivers"), "forget ok!\n");

  SetAvailableBytes(1);
  EXPECT_EQ(RunLine("rebuild_forgotten_streets"),
            "ERROR: rebuild_forgotten_streets out of memory\n");
  EXPECT_EQ(RunLine("solve_all_splits rivers"), "ERROR: solve_all_splits out of memory\n");
  EXPECT_EQ(RunLine("go"), "ERROR: go incomplete tree\n");
  EXPECT_EQ(State().first_forgotten_street, 3);
  for (const TreeNode& node : State().nodes) {
    if (node.street == STREET_RIVER) {
      EXPECT_FALSE(node.regret_store || node.strategy_store || node.materialised);
    }
  }

  SetMemoryStatusOverride(0, 0);
  EXPECT_EQ(RunLine("rebuild_all"), "rebuild_all ok!\n");
  EXPECT_EQ(RunToEnd("go 0 steps", &console), "go ok!\n");
  EXPECT_EQ(State().iterations, 3);
}

// A pass that cannot get its memory gives up, wherever that happens: in a
// subgame task on a team or pool thread (a turn node) or in the walks on the
// pass's own thread (the flop root). calc_results answers out of memory, a run
// stops with that reason, and nothing else changes.
TEST_F(OutOfMemoryTest, APassWithoutMemoryEndsTheLineOrTheRunNotTheProcess) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(FlopSpot()));
  const std::string results = RunLine("calc_results");
  ASSERT_NE(results.find("EV OOP: "), std::string::npos) << results;

  for (const int street : {2, 1}) {
    TreeNode& node = FirstDecision(street);
    auto starved = std::make_unique<StarvedStore>(std::move(node.regret_store));
    StarvedStore* handle = starved.get();
    node.regret_store = std::move(starved);
    for (const uint32_t scheduler : {0u, 2u}) {
      SCOPED_TRACE("street " + std::to_string(street) + ", scheduler " + std::to_string(scheduler));
      g_scheduler = scheduler;
      EXPECT_EQ(RunLine("calc_results"), "ERROR: calc_results out of memory\n");
      std::string console;
      EXPECT_EQ(RunToEnd("go 5 steps", &console), "go ok!\n");
      EXPECT_NE(console.find("SOLVER: stopped (out of memory)\n"), std::string::npos) << console;
      EXPECT_FALSE(IsSolverRunning());
      EXPECT_EQ(State().iterations, 0);
    }
    node.regret_store = handle->Release();
  }
  g_scheduler = 0;
  EXPECT_EQ(RunLine("calc_results"), results);
  std::string console;
  EXPECT_EQ(RunToEnd("go 0 steps", &console), "go ok!\n");
  EXPECT_EQ(State().iterations, 1);
}

// The address space the process has mapped (/proc/self/statm).
uint64_t MappedBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// Under an address-space limit a run whose passes must still reserve river
// blocks (here: the river stores made anew, without their blocks) and cannot:
// the run ends out of memory, not the process, the pass giving its writes up
// whole; with the limit lifted the same tree measures and solves on.
TEST_F(OutOfMemoryTest, AReservationFailingInARunEndsTheRunNotTheProcess) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  EXPECT_EXIT(
      {
        FullRanges();
        Situation("Kh 9h 4s", {"0 0 0 0 0 0", "0 0 0 0 40", "0 0 0 0 0 40", "0 0 0 0 40 120",
                               "0 0 0 0 0 40 120"});
        if (Run("set_compression 4") != "set_compression ok!\n" || Run("set_threads 1") != "set_threads ok!\n" ||
            Run("build_tree") != "build_tree ok!\n")
          std::_Exit(2);
        std::string console;
        RunToEnd("go 1 steps", &console);
        for (TreeNode& node : State().nodes)
          if (node.kind == DECISION_NODE && node.street == STREET_RIVER) CreateNodeStoresOfState(State(), node);
        rlimit limit;
        getrlimit(RLIMIT_AS, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        // Room for the run's thread (StartSolver weighs it) and 48 MiB more.
        limit.rlim_cur = MappedBytes() + NewThreadAddressSpace(DefaultThreadStackBytes()) +
                         (uint64_t{48} << 20);
        setrlimit(RLIMIT_AS, &limit);
        if (RunToEnd("go 1 steps", &console) != "go ok!\n" ||
            console.find("SOLVER: stopped (out of memory)\n") == std::string::npos || State().iterations != 1)
          std::_Exit(3);
        limit.rlim_cur = unlimited;
        setrlimit(RLIMIT_AS, &limit);
        if (Run("calc_results").find("EV OOP: ") == std::string::npos) std::_Exit(4);
        RunToEnd("go 1 steps", &console);
        if (console.find("SOLVER: stopped (required number of steps done)\n") == std::string::npos ||
            State().iterations != 2)
          std::_Exit(5);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A river node with so many actions that its boards' values pass the 32-bit
// offsets of a layout: refused like any tree too large to hold, and the tree
// built before stays.
TEST_F(OutOfMemoryTest, ARiverNodeBeyondTheLayoutOffsetsIsRefused) {
  ASSERT_NO_FATAL_FAILURE(BuildSpot(FlopSpot()));
  const size_t nodes = State().nodes.size();
  FullRanges();
  std::string lines = "clear_lines\n";
  // 850 actions on 2352 river boards of 1081 hands (1084 places) each.
  for (int bet = 1; bet < 850; ++bet) lines += "add_line 0 0 0 0 " + std::to_string(bet) + "\n";
  RunLines(lines);
  EXPECT_EQ(RunLine("build_tree"), "ERROR: build_tree out of memory\n");
  EXPECT_EQ(RunLine("is_tree_present"), "true\n");
  EXPECT_EQ(State().nodes.size(), nodes);
}

// The engine under an address-space limit, as a process run with little
// memory: a flop tree whose turn stores need more than the limit allows is
// built, go cannot get its values and says so, and the session goes on to
// free the tree and solve a small one. The free memory of the machine does not
// enter: under the limit the allocations themselves fail.
TEST(OutOfMemoryProcess, GoWithoutMemoryAnswersAndTheSessionGoesOn) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  std::string script = FullRangesOnQs8h4d();
  // 24 flop bets, each called, then 24 turn bets, each called: 600 turn nodes
  // with 1728 actions over 49 turn cards of 1128 hands, about 760 MB of values.
  for (int flop = 1; flop <= 24; ++flop)
    for (int turn = 1; turn <= 24; ++turn) {
      const std::string f = std::to_string(10 * flop), t = std::to_string(10 * (flop + turn));
      script += "add_line " + f + " " + f + " " + t + " " + t + "\n";
    }
  script +=
      "build_tree\ngo\nis_tree_present\nfree_tree\n"
      "set_board 2c 7d 8h Js 3s\nclear_lines\nadd_line 100\nadd_line 0 0\nbuild_tree\n"
      "go 30 steps\nwait_for_solver\ncalc_results\n";

  const ProcessResult run = RunUnderLimit(script, 512, 2);
  ASSERT_EQ(run.exit_code, 0) << Tail(run.out, 2000) << run.err;
  EXPECT_EQ(run.out.find("fail"), std::string::npos) << run.out;
  const std::string refusal = "build_tree ok!\nERROR: go out of memory\ntrue\nfree_tree ok!\n";
  const size_t refused = run.out.find(refusal);
  ASSERT_NE(refused, std::string::npos) << run.out;
  // The small tree: built, solved and measured, in this order.
  const std::string rest = run.out.substr(refused + refusal.size());
  size_t at = 0;
  for (const char* line :
       {"build_tree ok!\n", "go ok!\n", "SOLVER: stopped (required number of steps done)\n",
        "EV OOP: ", "Exploitable for: "}) {
    at = rest.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << rest;
  }
  EXPECT_EQ(rest.find("ERROR"), std::string::npos) << rest;
}

// The repro of a compressed tree under the limit: its river blocks take
// address space only, far more of it than memory, and the first pass could
// not reserve them and ended the process. go now weighs them with the values:
// it refuses the tree (or, where they fit, solves it), and the session goes
// on.
TEST(OutOfMemoryProcess, CompressedRiverBlocksCountAgainstTheAddressSpace) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  const std::string script =
      FullRangesOnQs8h4d() + "add_line 0 0 0 0 0 0\n"
      "add_line 0 0 0 0 50\nadd_line 0 0 0 0 0 50\nset_compression max\nbuild_tree\n"
      "go 1 steps\nwait_for_solver\nis_tree_present\n";
  const ProcessResult run = RunUnderLimit(script, 256, 2);
  ASSERT_EQ(run.exit_code, 0) << Tail(run.out, 2000) << run.err;
  const size_t built = run.out.find("build_tree ok!\n");
  ASSERT_NE(built, std::string::npos) << run.out;
  const std::string rest = run.out.substr(built);
  EXPECT_TRUE(rest == "build_tree ok!\nERROR: go out of memory\ntrue\n" ||
              rest == "build_tree ok!\ngo ok!\nSOLVER: started\n"
                      "SOLVER: stopped (required number of steps done)\ntrue\n")
      << rest;
}

// Every command that works in parallel, after a run that left the process
// near its address-space limit (the flop example's lines, full ranges, level
// 2): the runtime ended the process where it could not start a team thread,
// and the run's own team hung it on its way out. Now each command runs, on as
// many threads as fit, or answers its error; the session goes on to its end.
// Eight threads, so the team is larger than the room on any machine.
TEST(OutOfMemoryProcess, ParallelCommandsNearTheLimitRunOnFewerThreadsOrAnswer) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  std::ifstream example(std::string(TDX_TESTDATA_DIR) + "/../../examples/flop_solve.txt");
  ASSERT_TRUE(example.good());
  std::string script = FullRangesOnQs8h4d();
  for (std::string line; std::getline(example, line);)
    if (line.rfind("add_line ", 0) == 0) script += line + "\n";
  script +=
      "set_compression 2\nbuild_tree\ngo 1 steps\nwait_for_solver\ncalc_results\n"
      "calc_ev OOP r:0\ncalc_eq_node OOP r:0\ncalc_line_freq r:0:c\nforget rivers\n"
      "solve_all_splits rivers\nrebuild_forgotten_streets\ndump_tree saved.tree\n"
      "load_tree saved.tree\ncalc_results\nis_ready\n";
  int runs = 0;
  for (const uint64_t mib : {4864, 5120, 5376}) {
    const std::string dir = MakeTempDir();
    const ProcessResult run = RunUnderLimit(script, mib, 8, dir);
    std::filesystem::remove_all(dir);
    const std::string tail = Tail(run.out, 1500);
    ASSERT_EQ(run.exit_code, 0) << mib << " MiB\n" << tail << run.err;
    EXPECT_EQ(run.err, "") << mib << " MiB";
    runs += run.out.find("SOLVER: stopped (") != std::string::npos;
    EXPECT_TRUE(tail.size() >= 13 && tail.substr(tail.size() - 13) == "is_ready ok!\n")
        << mib << " MiB\n" << tail;
  }
  // Near the limit, not beyond it: some run went ahead.
  EXPECT_GT(runs, 0);
}

// The shipped engine reads no memory figure of the environment (the tests set
// theirs in-process): show_memory answers the machine's.
TEST(OutOfMemoryProcess, TheEngineTakesNoMemoryFigureFromTheEnvironment) {
  ProcessOptions options;
  options.environment = {"TDX_TEST_TOTAL_BYTES=1048576000", "TDX_TEST_AVAILABLE_BYTES=10485760"};
  const ProcessResult run = RunProcess(TDX_ENGINE_PATH, {}, "show_memory\n", "", 60, options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.find(" 1000 MB"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(" 10 MB"), std::string::npos) << run.out;
}

}  // namespace
