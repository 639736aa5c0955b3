// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "ports/Autostart.hpp"

// Launch at login as an XDG autostart entry, <config home>/autostart/Dimmora.desktop.
class XdgAutostart final : public Autostart {
 public:
  XdgAutostart(std::filesystem::path configHome, std::filesystem::path executable);

  // Off also for an entry with Hidden=true or X-GNOME-Autostart-enabled=false
  // (the desktop's startup-applications switch); enable() then writes it afresh.
  bool isEnabled() const override;
  std::optional<Failure> enable() override;
  std::optional<Failure> disable() override;

  std::filesystem::path entryPath() const;

 private:
  std::filesystem::path configHome_;
  std::filesystem::path executable_;
};

// The keys and values of a desktop entry's [Desktop Entry] group, read as the
// format defines it: comments and other groups skipped, spaces around "=" ignored.
std::map<std::string, std::string> desktopEntryValues(std::string_view text);

// The entry's Exec value for a program path, quoted as the desktop-entry
// format requires (a quoted argument, then the string escapes). nullopt, with
// the reason, for a path no launcher could start from an entry.
std::optional<std::string> desktopEntryExec(const std::filesystem::path& executable, std::string& why);
