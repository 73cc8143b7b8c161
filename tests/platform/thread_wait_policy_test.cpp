// The engine's passive waiting reaches the OpenMP runtime, which reads its
// settings when the program loads: the runtime's own report of them
// (OMP_DISPLAY_ENV) shows no spinning unless the user asked for a policy.
#include <gtest/gtest.h>

#include <string>

#include "support/process_runner.h"

namespace {

// The runtime's report of its spin count, or empty when it gives none.
std::string SpinCountLine(const std::vector<std::string>& environment) {
  ProcessOptions options;
  options.environment = environment;
  options.environment.push_back("OMP_DISPLAY_ENV=verbose");
  const ProcessResult run = RunProcess(TDX_ENGINE_PATH, {}, "is_ready\n", "", 120, options);
  EXPECT_EQ(run.exit_code, 0);
  const size_t at = run.err.find("GOMP_SPINCOUNT = '");
  if (at == std::string::npos) return "";
  return run.err.substr(at, run.err.find('\n', at) - at);
}

TEST(ThreadWaitPolicy, IdleTeamThreadsSleepUnlessTheUserChoseOtherwise) {
  // Empty variables count as unset (the test runner sets a policy of its own).
  const std::string defaulted = SpinCountLine({"OMP_WAIT_POLICY=", "GOMP_SPINCOUNT="});
  if (defaulted.empty()) GTEST_SKIP() << "the OpenMP runtime does not report its spin count";
  EXPECT_EQ(defaulted, "GOMP_SPINCOUNT = '0'");
  // The user's choice holds.
  EXPECT_NE(SpinCountLine({"OMP_WAIT_POLICY=active", "GOMP_SPINCOUNT="}), "GOMP_SPINCOUNT = '0'");
  EXPECT_EQ(SpinCountLine({"OMP_WAIT_POLICY=", "GOMP_SPINCOUNT=777"}), "GOMP_SPINCOUNT = '777'");
}

}  // namespace
