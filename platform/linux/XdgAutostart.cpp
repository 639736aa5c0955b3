#include "platform/linux/XdgAutostart.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
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
}  // namespace

XdgAutostart::XdgAutostart(fs::path configHome, fs::path executable)
    : configHome_(std::move(configHome)), executable_(std::move(executable)) {}

fs::path XdgAutostart::entryPath() const { return configHome_ / "autostart" / "Dimmora.desktop"; }

XdgAutostart::Status XdgAutostart::status() const {
  const auto text = readTextFile(entryPath());
  if (!text) return Status::notRegistered;
  std::istringstream lines(*text);
  std::string line, exec;
  bool disabled = false, inEntry = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') inEntry = line == "[Desktop Entry]";
    if (!inEntry) continue;
    if (line.rfind("Exec=", 0) == 0) exec = unquoteExec(line.substr(5));
    if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") disabled = true;
  }
  std::error_code ec;
  if (exec.empty() || !fs::exists(exec, ec)) return Status::notFound;
  return disabled ? Status::requiresApproval : Status::enabled;
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
        << "Icon=video-display\n"
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
