// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ports/LogSink.hpp"

// Keeps every entry so tests can check exact log lines and their order.
class RecordingLogSink final : public LogSink {
 public:
  struct Entry {
    LogCategory category;
    LogLevel level;
    std::string message;
  };

  void write(LogCategory category, LogLevel level, std::string_view message) override {
    entries.push_back({category, level, std::string(message)});
  }

  std::vector<std::string> messages(LogCategory category) const {
    std::vector<std::string> out;
    for (const auto& e : entries)
      if (e.category == category) out.push_back(e.message);
    return out;
  }
  bool contains(std::string_view message) const {
    for (const auto& e : entries)
      if (e.message == message) return true;
    return false;
  }
  void clear() { entries.clear(); }

  std::vector<Entry> entries;
};

// Installs a recorder as the process's log sink for the lifetime of the object.
class ScopedLogRecorder {
 public:
  ScopedLogRecorder();
  ~ScopedLogRecorder();
  ScopedLogRecorder(const ScopedLogRecorder&) = delete;
  ScopedLogRecorder& operator=(const ScopedLogRecorder&) = delete;
  RecordingLogSink& operator*() { return *sink_; }
  RecordingLogSink* operator->() { return sink_.get(); }

 private:
  std::shared_ptr<RecordingLogSink> sink_;
};
