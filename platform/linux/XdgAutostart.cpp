// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/XdgAutostart.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/linux/DrmConnectors.hpp"

namespace fs = std::filesystem;

namespace {
// Valid UTF-8 without control characters: what a desktop entry's string value may hold.
bool isEntryText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x20 || lead == 0x7F) return false;
    const std::size_t length =
        lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// A string value's escapes undone: "\\" "\s" "\n" "\t" "\r"; any other backslash stays.
std::string unescapedValue(const std::string& value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\' && i + 1 < value.size()) {
      switch (value[i + 1]) {
        case '\\': c = '\\'; break;
        case 's': c = ' '; break;
        case 'n': c = '\n'; break;
        case 't': c = '\t'; break;
        case 'r': c = '\r'; break;
        default: text += c; continue;
      }
      ++i;
    }
    text += c;
  }
  return text;
}

// Undoes desktopEntryExec for a single quoted program path, in the order a
// launcher reads the value: the string escapes, then the quoting.
std::string unquoteExec(const std::string& value) {
  const std::string text = unescapedValue(value);
  if (text.size() < 2 || text.front() != '"') return text.substr(0, text.find(' '));
  std::string path;
  for (std::size_t i = 1; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && std::string_view("\"`$\\").find(text[i + 1]) != std::string_view::npos)
      ++i;
    path += text[i];
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

std::optional<std::string> desktopEntryExec(const fs::path& executable, std::string& why) {
  const std::string path = executable.string();
  if (!isEntryText(path)) {
    why = "the program's path holds a line break, another control character or bytes that are not UTF-8, which a "
          "desktop entry cannot hold";
    return std::nullopt;
  }
  // The format doubles it, but launchers look the program up before they
  // undo field codes, and find no "100%%" folder.
  if (path.find('%') != std::string::npos) {
    why = "the program's path holds a \"%\", with which desktop launchers cannot start it";
    return std::nullopt;
  }
  // One quoted argument (these four take a backslash), then escaped as any
  // string value, which doubles every backslash: "\\\\" for one in the path.
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return desktopEntryString(quoted + "\"");
}

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

bool XdgAutostart::isEnabled() const {
  const auto text = readTextFile(entryPath());
  if (!text) return false;
  const auto values = desktopEntryValues(*text);
  const auto value = [&values](const char* key) {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  if (value("Hidden") == "true" || value("X-GNOME-Autostart-enabled") == "false") return false;
  const std::string exec = unquoteExec(value("Exec"));
  std::error_code ec;
  return !exec.empty() && fs::exists(exec, ec);
}

std::optional<Autostart::Failure> XdgAutostart::enable() {
  std::string why;
  const auto exec = desktopEntryExec(executable_, why);
  if (!exec) return Failure{Failure::Kind::unusableProgramPath, why};
  std::error_code ec;
  fs::create_directories(entryPath().parent_path(), ec);
  if (ec) return Failure{Failure::Kind::cannotWrite, ec.message()};
  const auto temporary = entryPath().string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return Failure{Failure::Kind::cannotWrite, std::strerror(errno)};
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Dimmora\n"
        << "Comment=Dims the displays while you are away\n"
        << "Exec=" << *exec << "\n"
        // Session managers skip an entry whose program was removed with its package.
        << "TryExec=" << desktopEntryString(executable_.string()) << "\n"
        << "Icon=io.github.dimmora.Dimmora\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    if (!out) {
      Failure failure{Failure::Kind::cannotWrite, std::strerror(errno)};
      fs::remove(temporary, ec);
      return failure;
    }
  }
  fs::rename(temporary, entryPath(), ec);
  if (ec) {
    Failure failure{Failure::Kind::cannotWrite, ec.message()};
    fs::remove(temporary, ec);
    return failure;
  }
  return std::nullopt;
}

std::optional<Autostart::Failure> XdgAutostart::disable() {
  std::error_code ec;
  fs::remove(entryPath(), ec);
  if (ec) return Failure{Failure::Kind::cannotRemove, ec.message()};
  return std::nullopt;
}
