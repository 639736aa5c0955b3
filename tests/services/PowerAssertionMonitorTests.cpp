// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ports/SystemPorts.hpp"
#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/SimPowerAssertions.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/PowerAssertionMonitor.hpp"

namespace {
class PowerAssertionMonitorTest : public ::testing::Test {
 protected:
  ~PowerAssertionMonitorTest() override { DDCDebug::setEnabled(false); }
  std::vector<std::string> powerLog() { return recorder->messages(LogCategory::power); }

  VirtualMainLoop loop;
  SimPowerAssertions assertions;
  ScopedSystemPorts ports_{SystemPorts{.mainLoop = &loop, .powerAssertions = &assertions}};
  ScopedLogRecorder recorder;
  PowerAssertionMonitor monitor;
  int flagChanges = 0;
  Subscription flagSubscription_ = monitor.isMediaPlaybackAssertionActive.changed.connect([this](bool) { ++flagChanges; });
};
}  // namespace

TEST_F(PowerAssertionMonitorTest, PollsAtStartThenEveryFiveSecondsLoggingChangesOnly) {
  assertions.setCount("PreventUserIdleDisplaySleep", 1);
  assertions.setCount("PreventSystemSleep", 1);
  monitor.start();
  monitor.start();
  EXPECT_TRUE(monitor.isMediaPlaybackAssertionActive);
  ASSERT_EQ(loop.activeRepeatingTimers().size(), 1u);
  EXPECT_EQ(loop.activeRepeatingTimers()[0].interval, 5.0);
  EXPECT_EQ(loop.activeRepeatingTimers()[0].tolerance, 1.0);
  loop.advance(10);
  EXPECT_EQ(assertions.statusQueries, 3);
  assertions.setCount("PreventUserIdleDisplaySleep", 0);
  assertions.setCount("PreventSystemSleep", 0);
  loop.advance(10);
  EXPECT_FALSE(monitor.isMediaPlaybackAssertionActive);
  EXPECT_EQ(powerLog(), (std::vector<std::string>{
                            "Assertion status: PreventSystemSleep=1, PreventUserIdleDisplaySleep=1",
                            "Assertion status: none"}));
  EXPECT_EQ(flagChanges, 2);  // observers hear changes, not polls
}

TEST_F(PowerAssertionMonitorTest, OnlyTheDisplaySleepAssertionCountsAsMediaPlayback) {
  auto& types = *assertions.summary.assertionsByType;
  types = {{"PreventSystemSleep", 2.0}, {"PreventUserIdleDisplaySleep", 0.0}, {"NoIdleSleepAssertion", false},
           {"UserIsActive", true},      {"Fractional", 0.5},                  {"Label", "3"}};
  monitor.start();
  EXPECT_FALSE(monitor.isMediaPlaybackAssertionActive);
  EXPECT_EQ(powerLog(), std::vector<std::string>{"Assertion status: PreventSystemSleep=2, UserIsActive=1"});
}

TEST_F(PowerAssertionMonitorTest, FailingQueryKeepsFlagAndDigest) {
  assertions.setCount("PreventUserIdleDisplaySleep", 1);
  monitor.start();
  assertions.summary = {static_cast<std::int32_t>(0xE00002C7u), std::nullopt};
  loop.advance(5);
  EXPECT_TRUE(monitor.isMediaPlaybackAssertionActive);
  EXPECT_EQ(powerLog().back(), "IOPMCopyAssertionsStatus failed: -536870201");
  EXPECT_EQ(recorder->entries.back().level, LogLevel::error);
  assertions.summary = {0, PropertyDictionary{{"PreventUserIdleDisplaySleep", 1.0}}};
  loop.advance(5);
  EXPECT_EQ(powerLog().size(), 2u);  // recovering to the same set says nothing new
}

TEST_F(PowerAssertionMonitorTest, ProcessesAreListedOnlyWhileTracing) {
  assertions.byProcess.assertionsByProcess = PropertyDictionary{
      {"912 player", PropertyDictionary{{"AssertType", "PreventUserIdleDisplaySleep"}, {"AssertName", "Video"}}},
      {"40 backupd", PropertyDictionary{{"AssertType", "PreventSystemSleep"}}},
      {"77 indexer", PropertyDictionary{{"AssertType", "BackgroundTask"}}},
      {"5 coreaudiod", "Audio output"}};
  monitor.start();
  EXPECT_EQ(assertions.processQueries, 0);
  DDCDebug::setEnabled(true);
  loop.advance(10);
  EXPECT_EQ(assertions.processQueries, 2);
  // An empty status at start matches the empty digest, so the processes are the only line.
  EXPECT_EQ(powerLog(), std::vector<std::string>{
                            "Assertion processes: 40 backupd: {AssertType = PreventSystemSleep} | 5 coreaudiod: "
                            "Audio output | 912 player: {AssertName = Video; AssertType = PreventUserIdleDisplaySleep}"});
  assertions.byProcess.assertionsByProcess = PropertyDictionary{};
  loop.advance(5);
  EXPECT_EQ(powerLog().back(), "Assertion processes: none");
  assertions.byProcess.result = -1;
  loop.advance(5);
  EXPECT_EQ(powerLog().back(), "IOPMCopyAssertionsByProcess failed: -1");
}

TEST_F(PowerAssertionMonitorTest, PollingEndsWithTheMonitor) {
  auto shortLived = std::make_unique<PowerAssertionMonitor>();
  shortLived->start();
  EXPECT_EQ(loop.pendingCount(), 1u);
  shortLived.reset();
  EXPECT_EQ(loop.pendingCount(), 0u);
}
