// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

class MainLoop;

// Writes the settings file on a thread of its own, so that a slow disk (the
// write's fsync) never stalls the main loop. Saves are written in the order
// given; one still waiting when a later one comes is dropped, as only the
// latest content matters. Each write's outcome is reported on the main loop.
// Without a main loop, saves are written at once, on the caller's thread.
class SettingsWriter {
 public:
  // The bytes written and, when the write failed, why.
  using Report = std::function<void(const std::string& bytes, const std::optional<std::string>& failure)>;
  // Writes `bytes` as the whole file; the failure's description, or nothing.
  using Write = std::function<std::optional<std::string>(const std::filesystem::path&, std::string_view)>;

  SettingsWriter(MainLoop* loop, Report report, Write write);
  // Writes what still waits and reports it before returning.
  ~SettingsWriter();
  SettingsWriter(const SettingsWriter&) = delete;
  SettingsWriter& operator=(const SettingsWriter&) = delete;

  void save(std::filesystem::path path, std::string bytes);
  // Waits until every save given so far is written, then reports them at once.
  void flush();

 private:
  struct Job {
    std::filesystem::path path;
    std::string bytes;
  };
  struct Outcome {
    std::string bytes;
    std::optional<std::string> failure;
  };
  // What the main thread and the writer share; posted reports reach it only while it lives.
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;     // a job waits, or the writer is to stop
    std::condition_variable written;  // the writer went idle
    std::optional<Job> waiting;
    bool writing = false;
    bool stopping = false;
    std::vector<Outcome> outcomes;
    Report report;
    void deliver();
  };
  void run();

  MainLoop* loop_;
  Write write_;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;  // started by the first save
};
