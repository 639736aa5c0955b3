// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ServicesTestSupport.hpp"
#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/SimInhibitors.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/PowerAssertionMonitor.hpp"

namespace {
using What = Inhibitors::What;

class PowerAssertionMonitorTest : public ::testing::Test {
 protected:
  PowerAssertionMonitorTest() {
    DiagnosticCapture::resetForTesting();
    DiagnosticCapture::usePorts(&loop, nullptr);
  }
  ~PowerAssertionMonitorTest() override {
    DDCDebug::setEnabled(false);
    DiagnosticCapture::usePorts(nullptr, nullptr);
    DiagnosticCapture::resetForTesting();
  }
  std::vector<std::string> powerLog() { return recorder->messages(LogCategory::power); }

  const Inhibitors::Holder player{"912 mpv", What::idle, "Playing video"};
  const Inhibitors::Holder backup{"40 borg", What::sleep, "Backup"};
  VirtualMainLoop loop;
  SimInhibitors inhibitors;
  ScopedLogRecorder recorder;
  PowerAssertionMonitor monitor{&inhibitors};
  int flagChanges = 0;
  Subscription flagSubscription_ = monitor.isMediaPlaybackAssertionActive.changed.connect([this](bool) { ++flagChanges; });
};
}  // namespace

TEST_F(PowerAssertionMonitorTest, AsksAtStartThenOnlyWhenTheInhibitorsChange) {
  inhibitors.holders = std::vector{player, backup};
  monitor.start();
  monitor.start();
  EXPECT_TRUE(monitor.isMediaPlaybackAssertionActive);
  EXPECT_EQ(inhibitors.queries, 1);
  EXPECT_EQ(loop.pendingCount(), 0u);  // nothing polls
  loop.advance(60);
  EXPECT_EQ(inhibitors.queries, 1);

  inhibitors.set(std::vector{backup, backup});
  EXPECT_FALSE(monitor.isMediaPlaybackAssertionActive);  // a sleep inhibitor is no media playback
  inhibitors.set(std::vector{backup, backup});           // the same set again says nothing
  inhibitors.set(std::vector<Inhibitors::Holder>{});
  EXPECT_EQ(inhibitors.queries, 4);
  EXPECT_EQ(powerLog(), (std::vector<std::string>{"Inhibitors held: idle=1, sleep=1", "Inhibitors held: sleep=2",
                                                  "Inhibitors held: none"}));
  EXPECT_EQ(flagChanges, 2);  // observers hear changes of the flag, not every answer
}

TEST_F(PowerAssertionMonitorTest, ASourceThatDoesNotAnswerKeepsFlagAndDigestAndAMonitorThatIsGoneHearsNothing) {
  inhibitors.holders = std::vector{player};
  monitor.start();
  inhibitors.set(std::nullopt);
  EXPECT_TRUE(monitor.isMediaPlaybackAssertionActive);
  EXPECT_EQ(powerLog().back(), "Cannot read the inhibitors: no source answers");
  EXPECT_EQ(recorder->entries.back().level, LogLevel::error);
  inhibitors.set(std::vector{player});
  EXPECT_EQ(powerLog().size(), 2u);  // recovering to the same set says nothing new

  // Changes no longer reach a monitor that is gone.
  auto shortLived = std::make_unique<PowerAssertionMonitor>(&inhibitors);
  shortLived->start();
  const int queries = inhibitors.queries;
  shortLived.reset();
  inhibitors.set(std::vector{player});
  EXPECT_EQ(inhibitors.queries, queries + 1);  // the live monitor's only
}

TEST_F(PowerAssertionMonitorTest, HoldersAreListedWhileTracingAndInEachCapture) {
  inhibitors.holders = std::vector<Inhibitors::Holder>{player, backup, {"compositor", What::idle, ""}};
  monitor.start();
  EXPECT_EQ(powerLog().size(), 1u);
  DDCDebug::setEnabled(true);
  inhibitors.set(inhibitors.holders);
  EXPECT_EQ(powerLog().back(),
            "Inhibitor holders: 40 borg: sleep (Backup) | 912 mpv: idle (Playing video) | compositor: idle");
  DDCDebug::setEnabled(false);

  // A capture started later names them again, although nothing changed.
  TemporaryFolder folder;
  DiagnosticCapture::shared().start(folder.path(), "Displays: 1", 300);
  ASSERT_TRUE(DiagnosticCapture::shared().active);
  EXPECT_EQ(powerLog().size(), 3u);
  EXPECT_EQ(powerLog().back().rfind("Inhibitor holders: 40 borg: sleep (Backup)", 0), 0u);
  inhibitors.set(std::vector<Inhibitors::Holder>{});
  EXPECT_EQ(powerLog().back(), "Inhibitor holders: none");
}

TEST_F(PowerAssertionMonitorTest, WithoutInhibitorsMediaPlaybackGoesUnseenAndSaysSoOnce) {
  PowerAssertionMonitor unseeing{nullptr};
  unseeing.start();
  unseeing.start();
  EXPECT_EQ(powerLog(), std::vector<std::string>{"Inhibitors cannot be read; media playback is not detected"});
}
