// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/MainLoop.hpp"
#include "base/Published.hpp"

class SystemNotifications;

// "2026-12-05T13:28:01Z": whole seconds, UTC.
std::string iso8601UTC(WallClock::time_point time);

// Records the display-control trace into a text file for a bounded time and
// size. One shared instance; it closes its file when the application quits.
class DiagnosticCapture {
 public:
  static constexpr std::int64_t sizeLimit = 5'242'880;
  static constexpr const char* firstLine = "Diagnostic capture started (maximum 5 minutes / 5 MB).\n";

  static DiagnosticCapture& shared();
  // The loop that times a capture and the notifications that end it at quit,
  // given once at start. Without a loop nothing is captured (start says so in
  // `error`); without notifications a capture is not closed at quit. A
  // capture running on the loop given before stops.
  static void usePorts(MainLoop* loop, SystemNotifications* notifications);
  // Stops and discards the shared instance; the next shared() builds a new one.
  static void resetForTesting();

  ~DiagnosticCapture();
  DiagnosticCapture(const DiagnosticCapture&) = delete;
  DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

  // Does nothing while a capture runs. Failures land in `error`, `active` stays false.
  void start(const std::filesystem::path& directory, const std::string& summary, double duration);
  // Safe at any time and repeatedly; keeps `logURL`.
  void stop();

  Published<bool> active{false};
  Published<std::optional<std::filesystem::path>> logURL;
  Published<std::optional<std::string>> error;

 private:
  DiagnosticCapture();
  void observeTermination();
  void append(const std::string& line);

  std::FILE* handle_ = nullptr;
  ScheduledWork timer_;
  std::int64_t bytesWritten_ = 0;
  std::optional<WallClock::time_point> deadline_;
  Subscription terminationObserver_;
};
