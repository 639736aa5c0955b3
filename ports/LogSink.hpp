// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

enum class LogCategory { app, ddc, power };
enum class LogLevel { debug, info, defaultLevel, error, fault };

// Where log entries go (journald, stderr, a test's recorder). One call is one entry.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(LogCategory category, LogLevel level, std::string_view message) = 0;
};
