// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/AppLog.hpp"

#include <cstdio>
#include <string>

#include "base/ProcessWide.hpp"

namespace {
std::shared_ptr<LogSink>& currentSink() {
  auto& sink = processWide<std::shared_ptr<LogSink>>();
  if (!sink) sink = std::make_shared<StderrLogSink>();
  return sink;
}
}  // namespace

std::string_view categoryName(LogCategory category) {
  switch (category) {
    case LogCategory::app: return "app";
    case LogCategory::ddc: return "ddc";
    case LogCategory::power: return "power";
  }
  return "app";
}

void Logger::write(LogLevel level, std::string_view message) const { AppLog::sink().write(category_, level, message); }

void AppLog::setSink(std::shared_ptr<LogSink> sink) {
  currentSink() = sink ? std::move(sink) : std::make_shared<StderrLogSink>();
}

LogSink& AppLog::sink() { return *currentSink(); }

void StderrLogSink::write(LogCategory category, LogLevel level, std::string_view message) {
  const char* marker = level == LogLevel::error || level == LogLevel::fault ? " error" : "";
  const std::string line = std::string(categoryName(category)) + marker + ": " + std::string(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}
