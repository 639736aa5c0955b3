// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "ServicesTestSupport.hpp"
#include "ports/SystemNotifications.hpp"
#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"

namespace {
constexpr std::int64_t kOverhead = 22;  // time stamp, space, line feed

class DiagnosticCaptureTest : public ::testing::Test {
 protected:
  DiagnosticCaptureTest() {
    DiagnosticCapture::resetForTesting();
    DiagnosticCapture::usePorts(&loop, &notifications);
  }
  ~DiagnosticCaptureTest() override {
    DiagnosticCapture::usePorts(nullptr, nullptr);
    DiagnosticCapture::resetForTesting();
  }

  DiagnosticCapture& capture() { return DiagnosticCapture::shared(); }
  std::string contents() { return readFile(*capture().logURL.get()); }
  std::int64_t size() { return static_cast<std::int64_t>(std::filesystem::file_size(*capture().logURL.get())); }
  static void trace(const std::string& text) {
    DDCDebug::log([&] { return text; });
  }

  VirtualMainLoop loop;  // starts at 2027-01-15T08:00:00Z
  SystemNotifications notifications;
  TemporaryFolder folder;
};
}  // namespace

TEST(DDCDebugTrace, BuildsMessagesOnlyForAListener) {
  ScopedLogRecorder recorder;
  int evaluations = 0;
  const auto line = [&] { return ++evaluations, DDCDebug::displayLine(7, "write ok"); };
  DDCDebug::log(line);
  EXPECT_EQ(evaluations, 0);
  std::vector<std::string> captured;
  DDCDebug::setEnabled(true);
  DDCDebug::setCapture([&](const std::string& text) { captured.push_back(text); });
  DDCDebug::log(line);
  DDCDebug::setEnabled(false);
  DDCDebug::setCapture(nullptr);
  EXPECT_EQ(evaluations, 1);
  EXPECT_EQ(recorder->messages(LogCategory::ddc), std::vector<std::string>{"display 7: write ok"});
  EXPECT_EQ(captured, std::vector<std::string>{"display 7: write ok"});
}

TEST_F(DiagnosticCaptureTest, FileStartsWithStampedBannerAndSummaryAndIgnoresASecondStart) {
  EXPECT_EQ(iso8601UTC(WallClock::time_point(std::chrono::milliseconds(951'868'799'900))), "2000-02-29T23:59:59Z");
  capture().start(folder.path() / "config", "Displays: 2\nLevel: 70", 300);
  ASSERT_TRUE(capture().active);
  const auto file = *capture().logURL.get();
  EXPECT_EQ(file.parent_path(), folder.path() / "config");
  EXPECT_TRUE(std::regex_match(file.filename().string(),
                               std::regex(R"(Dimmora-Log-2027-01-15T08-00-00Z-[0-9A-F]{8}\.log)")));
  loop.advance(2);
  capture().start(folder.path() / "config", "second", 300);
  trace("display 1: set 0x10 = 40");
  EXPECT_EQ(capture().logURL.get(), file);
  EXPECT_EQ(contents(),
            "2027-01-15T08:00:00Z Diagnostic capture started (maximum 5 minutes / 5 MB).\nDisplays: 2\nLevel: 70\n"
            "2027-01-15T08:00:02Z display 1: set 0x10 = 40\n");
}

TEST_F(DiagnosticCaptureTest, StopsAtTheTimeLimit) {
  capture().start(folder.path(), "s", 300);
  loop.advance(299.9);
  EXPECT_TRUE(capture().active);
  loop.advance(0.1);
  EXPECT_FALSE(capture().active);
  EXPECT_FALSE(DDCDebug::isListening());
  EXPECT_TRUE(capture().logURL.get().has_value());  // kept for "show"

  // A line after the deadline, before the timer had its turn, ends the capture unwritten.
  capture().start(folder.path(), "s", 300);
  const std::string before = contents();
  loop.shiftWallClock(std::chrono::seconds(300));
  trace("late line");
  EXPECT_FALSE(capture().active);
  EXPECT_EQ(contents(), before);

  capture().start(folder.path(), "s", 1e300);  // beyond the clock's range: still a far deadline
  loop.advance(86400);
  trace("a day later");
  EXPECT_TRUE(capture().active);
  EXPECT_NE(contents().find("a day later"), std::string::npos);
}

TEST_F(DiagnosticCaptureTest, NeverGrowsPastTheSizeLimit) {
  // Lines go through the trace, so the capture stops itself from inside its own delivery.
  const auto fillTo = [&](std::int64_t target) {
    while (target - size() >= 4096 + kOverhead) trace(std::string(4096 - kOverhead, 'x'));
    trace(std::string(static_cast<std::size_t>(target - size() - kOverhead), 'y'));
  };
  capture().start(folder.path(), "s", 300);
  fillTo(5'242'800);
  trace(std::string(200 - kOverhead, 'z'));
  EXPECT_FALSE(capture().active);
  EXPECT_EQ(size(), 5'242'800);
  EXPECT_FALSE(capture().error.get().has_value());  // a silent stop

  capture().start(folder.path(), "s", 300);
  fillTo(DiagnosticCapture::sizeLimit);  // landing exactly on the limit is allowed
  EXPECT_TRUE(capture().active);
  EXPECT_EQ(size(), DiagnosticCapture::sizeLimit);
}

TEST_F(DiagnosticCaptureTest, QuittingClosesTheFile) {
  capture().start(folder.path(), "s", 300);
  notifications.willTerminate.emit();
  EXPECT_FALSE(capture().active);
  const std::string closed = contents();
  trace("after quit");
  EXPECT_EQ(contents(), closed);

  // Ports given anew end the capture running on the old loop; quitting is heard from the new notifications only.
  SystemNotifications later;
  capture().start(folder.path(), "s", 300);
  DiagnosticCapture::usePorts(&loop, &later);
  EXPECT_FALSE(capture().active);
  capture().start(folder.path(), "s", 300);
  notifications.willTerminate.emit();
  EXPECT_TRUE(capture().active);
  later.willTerminate.emit();
  EXPECT_FALSE(capture().active);
}

TEST_F(DiagnosticCaptureTest, AFolderThatCannotBeCreatedReportsAnErrorAndWorkersLinesComeThroughTheLoop) {
  writeFile(folder.path() / "blocker", "a file, not a folder");
  capture().start(folder.path() / "blocker" / "config", "s", 300);
  EXPECT_FALSE(capture().active);
  EXPECT_TRUE(capture().error.get().has_value());
  EXPECT_FALSE(capture().logURL.get().has_value());
  EXPECT_FALSE(DDCDebug::isListening());
  capture().start(folder.path(), "s", 300);
  EXPECT_TRUE(capture().active);
  EXPECT_FALSE(capture().error.get().has_value());  // cleared by the next start

  // Lines from another thread arrive through the main loop.
  std::thread([] { trace("from a worker"); }).join();
  EXPECT_EQ(contents().find("from a worker"), std::string::npos);
  loop.runPending();
  EXPECT_NE(contents().find("2027-01-15T08:00:00Z from a worker\n"), std::string::npos);
}
