// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>

#include "ports/LogSink.hpp"

// Sends each entry to the systemd journal with the category as a field
// (journalctl DIMMORA_CATEGORY=ddc shows the display-control trace).
class JournalLogSink final : public LogSink {
 public:
  void write(LogCategory category, LogLevel level, std::string_view message) override;
};

// The journal when its socket exists, otherwise standard error.
std::shared_ptr<LogSink> makeSystemLogSink(const std::filesystem::path& journalSocket = "/run/systemd/journal/socket");
