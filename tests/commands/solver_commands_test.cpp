// What the settings commands store (the replies are in settings.tdx).
#include "commands/solver_commands.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>

#include "cards/situation.h"
#include "solver/accuracy_settings.h"
#include "solver/solver_settings.h"
#include "support/engine_harness.h"

namespace {

class SettingsCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { Save(); }
  void TearDown() override {
    g_thread_count = saved_threads_;
    g_scheduler = 0;
    g_accuracy_value = 0.0;
    g_accuracy_relative = 0;
    SetAccuracyTarget(0.0);
    SetRecalcAccuracy(0.0, 0.0, 0.0);
    SetRake(0.0, 0.0);
    g_isomorphism_by_street[1] = 1;
    g_isomorphism_by_street[2] = 0;
    g_pot[2] = saved_pot_;
  }
  void Save() {
    saved_threads_ = g_thread_count;
    saved_pot_ = g_pot[2];
  }
  uint32_t saved_threads_ = 0;
  double saved_pot_ = 0.0;
};

TEST_F(SettingsCommandsTest, ThreadCountFallsBackToTheMaximumAndIsCapped) {
  EXPECT_EQ(RunLine("set_threads 3"), "set_threads ok!\n");
  EXPECT_EQ(g_thread_count, 3u);
  EXPECT_EQ(RunLine("zk4_set_threads 0"), "zk4_set_threads ok!\n");
  EXPECT_EQ(g_thread_count, static_cast<uint32_t>(omp_get_max_threads()));
  EXPECT_EQ(RunLine("set_threads 5"), "set_threads ok!\n");
  EXPECT_EQ(RunLine("set_threads -4"), "set_threads ok!\n");
  EXPECT_EQ(g_thread_count, static_cast<uint32_t>(omp_get_max_threads()));
  EXPECT_EQ(RunLine("set_threads 1024"), "set_threads ok!\n");
  EXPECT_EQ(g_thread_count, 1024u);
  // A million threads would not start; the count stays.
  EXPECT_EQ(RunLine("set_threads 1000000"), "ERROR: set_threads incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_threads x"), "Invalid value\n");
  EXPECT_EQ(g_thread_count, 1024u);
}

TEST_F(SettingsCommandsTest, SchedulerKeepsItsValueOnARefusal) {
  EXPECT_EQ(RunLine("set_scheduler 2"), "set_scheduler ok!\n");
  EXPECT_EQ(g_scheduler, 2u);
  EXPECT_EQ(RunLine("set_scheduler 3"), "ERROR: set_scheduler incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_scheduler -1"), "ERROR: set_scheduler incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_scheduler 99999999999"), "Invalid value\n");
  EXPECT_EQ(g_scheduler, 2u);
  EXPECT_EQ(RunLine("set_scheduler 1x"), "set_scheduler ok!\n");
  EXPECT_EQ(g_scheduler, 1u);
}

TEST_F(SettingsCommandsTest, RelativeAccuracyFollowsThePotAbsoluteDoesNot) {
  g_pot[2] = 100.0;
  EXPECT_EQ(RunLine("set_accuracy 0.02 fraction"), "set_accuracy ok!\n");
  EXPECT_DOUBLE_EQ(g_accuracy_target.load(), 2.0);
  EXPECT_EQ(RunLine("set_pot 0 0 300"), "set_pot ok!\n");
  EXPECT_DOUBLE_EQ(g_accuracy_target.load(), 6.0);
  // Any other third word is an absolute target.
  EXPECT_EQ(RunLine("set_accuracy 1.5 chips"), "set_accuracy ok!\n");
  EXPECT_EQ(g_accuracy_relative, 0);
  EXPECT_DOUBLE_EQ(g_accuracy_target.load(), 1.5);
  EXPECT_EQ(RunLine("set_pot 0 0 50"), "set_pot ok!\n");
  EXPECT_DOUBLE_EQ(g_accuracy_target.load(), 1.5);
  // Refusals leave everything as it was.
  EXPECT_EQ(RunLine("set_accuracy -1 fraction"), "ERROR: set_accuracy incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_accuracy nan"), "Invalid value\n");
  EXPECT_EQ(RunLine("set_accuracy -inf fraction"),
            "ERROR: set_accuracy incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_accuracy"), "ERROR: set_accuracy incorrect or missing argument\n");
  EXPECT_DOUBLE_EQ(g_accuracy_value, 1.5);
  EXPECT_EQ(g_accuracy_relative, 0);
  EXPECT_DOUBLE_EQ(g_accuracy_target.load(), 1.5);
  // An infinite target is a target: any exploitability reaches it.
  EXPECT_EQ(RunLine("set_accuracy inf fraction"), "set_accuracy ok!\n");
  EXPECT_EQ(g_accuracy_target.load(), HUGE_VAL);
}

TEST_F(SettingsCommandsTest, RecalcAccuracyIsScaledByThePotOfTheMoment) {
  g_pot[2] = 200.0;
  EXPECT_EQ(RunLine("set_recalc_accuracy 0.01 0.02 -0.5"), "set_recalc_accuracy ok!\n");
  EXPECT_DOUBLE_EQ(g_recalc_accuracy[1], 2.0);
  EXPECT_DOUBLE_EQ(g_recalc_accuracy[2], 4.0);
  EXPECT_DOUBLE_EQ(g_recalc_accuracy[3], -100.0);
  EXPECT_EQ(RunLine("set_pot 0 0 10"), "set_pot ok!\n");
  EXPECT_DOUBLE_EQ(g_recalc_accuracy[2], 4.0);
  // The first bad word stops the command before anything is stored.
  EXPECT_EQ(RunLine("set_recalc_accuracy 1 x 1"), "Invalid value\n");
  EXPECT_DOUBLE_EQ(g_recalc_accuracy[1], 2.0);
}

TEST_F(SettingsCommandsTest, OnlyTheWordZeroTurnsIsomorphismOff) {
  EXPECT_EQ(RunLine("set_isomorphism 0 0"), "set_isomorphism ok!\n");
  EXPECT_EQ(g_isomorphism_by_street[1], 0);
  EXPECT_EQ(g_isomorphism_by_street[2], 0);
  EXPECT_EQ(RunLine("set_isomorphism 00 off"), "set_isomorphism ok!\n");
  EXPECT_EQ(g_isomorphism_by_street[1], 1);
  EXPECT_EQ(g_isomorphism_by_street[2], 1);
  EXPECT_EQ(RunLine("set_isomorphism 1 0"), "set_isomorphism ok!\n");
  EXPECT_EQ(g_isomorphism_by_street[1], 1);
  EXPECT_EQ(g_isomorphism_by_street[2], 0);
}

TEST_F(SettingsCommandsTest, RakeIsCheckedThenStored) {
  EXPECT_EQ(RunLine("set_rake 1.0 0"), "set_rake ok!\n");
  EXPECT_DOUBLE_EQ(g_rake[0], 1.0);
  EXPECT_DOUBLE_EQ(g_rake[1], 0.0);
  EXPECT_EQ(RunLine("set_rake 0.05 3"), "set_rake ok!\n");
  // The fraction is tested before the cap is read.
  EXPECT_EQ(RunLine("set_rake 1.5 x"), "ERROR: set_rake incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_rake -0.1 3"), "ERROR: set_rake incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_rake nan 3"), "ERROR: set_rake incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_rake 0.1 -1"), "ERROR: set_rake incorrect or missing argument\n");
  EXPECT_EQ(RunLine("set_rake 0.1 x"), "Invalid value\n");
  EXPECT_DOUBLE_EQ(g_rake[0], 0.05);
  EXPECT_DOUBLE_EQ(g_rake[1], 3.0);
}

}  // namespace
