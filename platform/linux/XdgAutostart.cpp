// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/XdgAutostart.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/linux/DrmConnectors.hpp"

namespace fs = std::filesystem;

std::string desktopEntryExec(const fs::path& executable) {
  std::string quoted = "\"";
  for (char c : executable.string()) {
    // Inside double quotes, these must be escaped with a backslash; "%" is doubled.
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

namespace {
// Undoes desktopEntryExec for a single quoted program path.
std::string unquoteExec(const std::string& value) {
  if (value.size() < 2 || value.front() != '"') return value.substr(0, value.find(' '));
  std::string path;
  for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
    if ((value[i] == '\\' || value[i] == '%') && i + 1 < value.size()) ++i;
    path += value[i];
  }
  return path;
}

// A value of the entry's "string" type: backslashes and control characters escaped.
std::string desktopEntryString(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '\n') escaped += "\\n";
    else if (c == '\t') escaped += "\\t";
    else if (c == '\r') escaped += "\\r";
    else escaped += c;
  }
  return escaped;
}
}  // namespace

std::map<std::string, std::string> desktopEntryValues(std::string_view text) {
  const auto trimmed = [](std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::string_view();
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
  };
  std::map<std::string, std::string> values;
  bool inEntry = false;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    const auto equals = line.find('=');
    if (!inEntry || equals == std::string_view::npos) continue;
    // A key given twice keeps its first value.
    values.emplace(std::string(trimmed(line.substr(0, equals))), std::string(trimmed(line.substr(equals + 1))));
  }
  return values;
}

XdgAutostart::XdgAutostart(fs::path configHome, fs::path executable)
    : configHome_(std::move(configHome)), executable_(std::move(executable)) {}

fs::path XdgAutostart::entryPath() const { return configHome_ / "autostart" / "Dimmora.desktop"; }

XdgAutostart::Status XdgAutostart::status() const {
  const auto text = readTextFile(entryPath());
  if (!text) return Status::notRegistered;
  const auto values = desktopEntryValues(*text);
  const auto value = [&values](const char* key) {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  // Turned off in the desktop's startup-applications settings: off here too,
  // and switching it on writes the entry afresh.
  if (value("Hidden") == "true" || value("X-GNOME-Autostart-enabled") == "false") return Status::notRegistered;
  const std::string exec = unquoteExec(value("Exec"));
  std::error_code ec;
  if (exec.empty() || !fs::exists(exec, ec)) return Status::notFound;
  return Status::enabled;
}

bool XdgAutostart::registerItem(std::string& error) {
  std::error_code ec;
  fs::create_directories(entryPath().parent_path(), ec);
  if (ec) {
    error = ec.message();
    return false;
  }
  const auto temporary = entryPath().string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) {
      error = std::strerror(errno);
      return false;
    }
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Dimmora\n"
        << "Comment=Dims the displays while you are away\n"
        << "Exec=" << desktopEntryExec(executable_) << "\n"
        // Session managers skip an entry whose program was removed with its package.
        << "TryExec=" << desktopEntryString(executable_.string()) << "\n"
        << "Icon=io.github.dimmora.Dimmora\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    if (!out) {
      error = std::strerror(errno);
      fs::remove(temporary, ec);
      return false;
    }
  }
  fs::rename(temporary, entryPath(), ec);
  if (ec) {
    error = ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

bool XdgAutostart::unregisterItem(std::string& error) {
  std::error_code ec;
  fs::remove(entryPath(), ec);
  if (ec) {
    error = ec.message();
    return false;
  }
  return true;
}
