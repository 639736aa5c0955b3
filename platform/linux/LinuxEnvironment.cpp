// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxEnvironment.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <algorithm>
#include <system_error>

extern char** environ;

namespace fs = std::filesystem;

std::optional<std::string> languageTagFromLocale(std::string_view locale) {
  const auto end = locale.find_first_of(".@");
  std::string tag(locale.substr(0, end));
  if (tag.empty() || tag == "C" || tag == "POSIX") return std::nullopt;
  std::replace(tag.begin(), tag.end(), '_', '-');
  return tag;
}

std::optional<fs::path> accountHomeFolder() {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (!found || !found->pw_dir || found->pw_dir[0] != '/') return std::nullopt;
  return fs::path(found->pw_dir);
}

LinuxEnvironment::LinuxEnvironment(Facts facts) : facts_(std::move(facts)) {}

LinuxEnvironment LinuxEnvironment::fromProcess(const char* argv0, const fs::path& procRoot) {
  Facts facts;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string_view::npos)
      facts.variables.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  std::error_code ec;
  const auto exe = fs::read_symlink(procRoot / "self" / "exe", ec);
  if (!ec) facts.executable = exe;
  if (argv0) facts.argv0 = argv0;
  facts.currentDirectory = fs::current_path(ec);
  facts.accountHome = accountHomeFolder();
  return LinuxEnvironment(std::move(facts));
}

std::optional<std::string> LinuxEnvironment::variable(const std::string& name) const {
  const auto it = facts_.variables.find(name);
  if (it == facts_.variables.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

std::optional<fs::path> LinuxEnvironment::home() const {
  if (auto home = variable("HOME")) return fs::path(*home);
  return facts_.accountHome;
}

fs::path LinuxEnvironment::homeDirectory() const { return home().value_or("/"); }

std::optional<fs::path> LinuxEnvironment::applicationSupportDirectory() const {
  // Relative values are invalid by the XDG rules and are ignored.
  if (auto config = variable("XDG_CONFIG_HOME"); config && fs::path(*config).is_absolute()) return fs::path(*config);
  const auto folder = home();
  if (!folder) return std::nullopt;
  return *folder / ".config";
}

std::optional<fs::path> LinuxEnvironment::runtimeDirectory() const {
  if (auto runtime = variable("XDG_RUNTIME_DIR"); runtime && fs::path(*runtime).is_absolute()) return fs::path(*runtime);
  return std::nullopt;
}

fs::path LinuxEnvironment::temporaryDirectory() const {
  if (auto temporary = variable("TMPDIR"); temporary && fs::path(*temporary).is_absolute()) return fs::path(*temporary);
  return "/tmp";
}

std::optional<fs::path> LinuxEnvironment::bundleResourcesDirectory() const {
  const auto executable = executablePath();
  if (!executable) return std::nullopt;
  const fs::path folder = (executable->is_absolute() ? *executable : facts_.currentDirectory / *executable)
                              .lexically_normal()
                              .parent_path();
  if (folder.filename() != "bin") return std::nullopt;
  return folder.parent_path() / "share" / "dimmora";
}

std::optional<fs::path> LinuxEnvironment::executablePath() const {
  if (facts_.executable) return facts_.executable;
  if (facts_.argv0) return fs::path(*facts_.argv0);
  return std::nullopt;
}

std::vector<std::string> LinuxEnvironment::preferredLanguages() const {
  std::vector<std::string> languages;
  auto add = [&](std::string_view locale) {
    if (auto tag = languageTagFromLocale(locale); tag && std::find(languages.begin(), languages.end(), *tag) == languages.end())
      languages.push_back(*tag);
  };
  std::optional<std::string> locale = variable("LC_ALL");
  if (!locale) locale = variable("LC_MESSAGES");
  if (!locale) locale = variable("LANG");
  // As in gettext, LANGUAGE counts only when a real locale is selected.
  if (const auto list = variable("LANGUAGE"); list && locale && languageTagFromLocale(*locale)) {
    std::string_view rest(*list);
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      add(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  if (locale) add(*locale);
  return languages;
}
