// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "SettingsTestSupport.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "ports/SystemNotifications.hpp"
#include "settings/SettingsWriter.hpp"

namespace {
using Failure = std::optional<std::string>;

// Writes through the real atomic write, in the order the writer asks; the
// first write waits until the test lets it go.
class GatedWrites {
 public:
  SettingsWriter::Write write() {
    return [this](const std::filesystem::path& path, std::string_view bytes) {
      std::unique_lock lock(mutex_);
      written_.emplace_back(bytes);
      changed_.notify_all();
      changed_.wait(lock, [&] { return open_; });
      return writeFileAtomically(path, bytes);
    };
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits until the writer has begun `count` writes.
  bool begun(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return written_.size() >= count; });
  }
  std::vector<std::string> written() {
    std::lock_guard lock(mutex_);
    return written_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> written_;
  bool open_ = false;
};

class SettingsWriterTest : public SettingsTest {
 protected:
  SettingsWriter::Report record() {
    return [this](const std::string& bytes, const Failure& failure) {
      reports.emplace_back(bytes, failure);
      reportThreads.push_back(std::this_thread::get_id());
    };
  }
  std::filesystem::path file() const { return folder.path() / "config.json"; }

  VirtualMainLoop loop;
  GatedWrites gate;
  std::vector<std::pair<std::string, Failure>> reports;
  std::vector<std::thread::id> reportThreads;
};
}  // namespace

TEST_F(SettingsWriterTest, SavesWaitingBehindASlowWriteCollapseIntoTheLatest) {
  SettingsWriter writer(&loop, record(), gate.write());
  writer.save(file(), "first");
  ASSERT_TRUE(gate.begun(1));
  writer.save(file(), "second");
  writer.save(file(), "third");
  EXPECT_TRUE(reports.empty());  // the main thread went on at once
  gate.open();
  writer.flush();
  EXPECT_EQ(readFile(file()), "third");
  EXPECT_EQ(gate.written(), (std::vector<std::string>{"first", "third"}));
  EXPECT_EQ(reports, (std::vector<std::pair<std::string, Failure>>{{"first", std::nullopt}, {"third", std::nullopt}}));
  loop.runPending();  // the posted reports find nothing left to say
  EXPECT_EQ(reports.size(), 2u);
}

TEST_F(SettingsWriterTest, TheLastSaveReachesTheDiskBeforeTheWriterIsGone) {
  {
    SettingsWriter writer(&loop, record(), gate.write());
    writer.save(file(), "first");
    ASSERT_TRUE(gate.begun(1));
    writer.save(file(), "last");
    gate.open();
  }
  EXPECT_EQ(readFile(file()), "last");
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().first, "last");
  loop.runPending();  // reports posted for a writer that is gone are dropped
}

TEST_F(SettingsWriterTest, AFailureIsReportedOnTheMainLoop) {
  std::filesystem::create_directories(file());  // a folder where the file should be
  SettingsWriter writer(&loop, record(), writeFileAtomically);
  writer.save(file(), "{}");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (loop.pendingCount() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(reports.empty());
  loop.runPending();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(reports[0].second);
  EXPECT_EQ(reportThreads[0], std::this_thread::get_id());
}

// The store on a running loop: each change is written off the main thread, a quit waits for the last one, and
// a failed save is logged and tried again with the same settings.
TEST_F(SettingsWriterTest, TheStoreFlushesAtQuitAndRetriesAFailedSave) {
  SystemNotifications notifications;
  StepStore store{{.mainLoop = &loop, .environment = &environment, .notifications = &notifications}};
  store.flushSaves();
  store.fadeDurationSeconds = 7;
  notifications.willTerminate.emit();
  EXPECT_NE(readFile(configPath()).find("\"fadeDurationSeconds\" : 7"), std::string::npos) << readFile(configPath());

  std::filesystem::remove(configPath());
  std::filesystem::create_directories(configPath());
  store.fadeDurationSeconds = 8;
  store.flushSaves();
  EXPECT_EQ(log->messages(LogCategory::app).back().rfind("Failed to save config: ", 0), 0u);
  std::filesystem::remove(configPath());
  store.fadeDurationSeconds = 8;  // the same settings: written, as the file does not hold them
  store.flushSaves();
  EXPECT_NE(readFile(configPath()).find("\"fadeDurationSeconds\" : 8"), std::string::npos);
}
