// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string_view>

#include "ports/LogSink.hpp"

// The category names as they appear in the log ("app", "ddc", "power").
std::string_view categoryName(LogCategory category);

// One logger per category; all of them write through the process's log sink.
class Logger {
 public:
  explicit constexpr Logger(LogCategory category) : category_(category) {}
  void log(std::string_view message) const { write(LogLevel::defaultLevel, message); }
  void info(std::string_view message) const { write(LogLevel::info, message); }
  void debug(std::string_view message) const { write(LogLevel::debug, message); }
  void error(std::string_view message) const { write(LogLevel::error, message); }
  void fault(std::string_view message) const { write(LogLevel::fault, message); }
  void write(LogLevel level, std::string_view message) const;
  LogCategory category() const { return category_; }

 private:
  LogCategory category_;
};

namespace AppLog {
inline constexpr std::string_view subsystem = "app.dimmora";
inline constexpr Logger app{LogCategory::app};
inline constexpr Logger ddc{LogCategory::ddc};
inline constexpr Logger power{LogCategory::power};

// Replaces the process's sink; nullptr restores the stderr sink.
void setSink(std::shared_ptr<LogSink> sink);
LogSink& sink();
}  // namespace AppLog

// Writes "category: message" lines to standard error.
class StderrLogSink final : public LogSink {
 public:
  void write(LogCategory category, LogLevel level, std::string_view message) override;
};
