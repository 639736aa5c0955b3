// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/SystemFacts.hpp"

#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace SystemFacts {
namespace {
// os-release values may be quoted ('...' or "...") with backslash escapes.
std::string unquoted(std::string value) {
  if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') || value.back() != value.front()) return value;
  const char quote = value.front();
  std::string plain;
  for (std::size_t i = 1; i + 1 < value.size(); ++i) {
    if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
    plain += value[i];
  }
  return plain;
}

std::map<std::string, std::string> readOSRelease(const fs::path& root) {
  for (const char* location : {"etc/os-release", "usr/lib/os-release"}) {
    std::ifstream file(root / location);
    if (!file) continue;
    std::map<std::string, std::string> fields;
    std::string line;
    while (std::getline(file, line)) {
      const auto equals = line.find('=');
      if (line.empty() || line.front() == '#' || equals == std::string::npos) continue;
      fields[line.substr(0, equals)] = unquoted(line.substr(equals + 1));
    }
    return fields;
  }
  return {};
}

std::string field(const std::map<std::string, std::string>& fields, const std::string& name) {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}
}  // namespace

std::string operatingSystemDescription(const fs::path& root) {
  const auto fields = readOSRelease(root);
  std::string name = field(fields, "PRETTY_NAME");
  if (name.empty()) {
    name = field(fields, "NAME");
    if (const auto version = field(fields, "VERSION"); !name.empty() && !version.empty()) name += " " + version;
  }
  std::string kernel;
  std::ifstream(root / "proc/sys/kernel/osrelease") >> kernel;
  if (kernel.empty()) return name.empty() ? "Linux" : name;
  return name.empty() ? "Linux " + kernel : name + ", Linux " + kernel;
}

std::optional<std::string> owningPackage(const fs::path& root, const fs::path& file, const std::string& package) {
  std::ifstream list(root / "var/lib/dpkg/info" / (package + ".list"));
  std::string line;
  while (std::getline(list, line))
    if (line == file.string()) return package;
  return std::nullopt;
}

std::optional<fs::path> installedReadme(const fs::path& executable) {
  const fs::path folder = executable.parent_path();
  // Installed (uncompressed copies first), then a build tree inside the source tree.
  for (const fs::path& candidate :
       {folder / "../share/dimmora/README.md", folder / "../share/doc/dimmora/README.md", folder / "README.md",
        folder / "../README.md"}) {
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return fs::weakly_canonical(candidate, error);
  }
  return std::nullopt;
}

std::string fileURL(const fs::path& file) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : fs::absolute(file).string()) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 0xF];
    }
  }
  return url;
}

}  // namespace SystemFacts
