// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/JournalLogSink.hpp"

#include <syslog.h>
#include <systemd/sd-journal.h>

#include <string>
#include <system_error>

#include "services/AppLog.hpp"

namespace {
int priority(LogLevel level) {
  switch (level) {
    case LogLevel::debug: return LOG_DEBUG;
    case LogLevel::info: return LOG_INFO;
    case LogLevel::defaultLevel: return LOG_NOTICE;
    case LogLevel::error: return LOG_ERR;
    case LogLevel::fault: return LOG_CRIT;
  }
  return LOG_NOTICE;
}
}  // namespace

void JournalLogSink::write(LogCategory category, LogLevel level, std::string_view message) {
  const std::string subsystem(AppLog::subsystem);
  const std::string categoryText(categoryName(category));
  sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(), "PRIORITY=%i", priority(level),
                  "SYSLOG_IDENTIFIER=dimmora", "DIMMORA_SUBSYSTEM=%s", subsystem.c_str(), "DIMMORA_CATEGORY=%s",
                  categoryText.c_str(), nullptr);
}

std::shared_ptr<LogSink> makeSystemLogSink(const std::filesystem::path& journalSocket) {
  std::error_code ec;
  if (std::filesystem::exists(journalSocket, ec)) return std::make_shared<JournalLogSink>();
  return std::make_shared<StderrLogSink>();
}
