// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>

#include "ports/Environment.hpp"

// The process's environment as XDG desktops define it.
class LinuxEnvironment final : public Environment {
 public:
  struct Facts {
    std::map<std::string, std::string> variables;  // the process environment
    std::optional<std::filesystem::path> executable;  // what /proc/self/exe points at
    std::optional<std::string> argv0;
    std::filesystem::path currentDirectory;
    // The account's home folder in the user database, for a session without HOME.
    std::optional<std::filesystem::path> accountHome;
  };
  explicit LinuxEnvironment(Facts facts);
  // Reads the facts of this process (`procRoot` is /proc).
  static LinuxEnvironment fromProcess(const char* argv0, const std::filesystem::path& procRoot = "/proc");

  // $XDG_CONFIG_HOME when absolute, else ~/.config; ~ is $HOME, else the account's home.
  std::optional<std::filesystem::path> applicationSupportDirectory() const override;
  std::filesystem::path homeDirectory() const override;
  std::optional<std::filesystem::path> executablePath() const override;
  std::filesystem::path currentDirectory() const override { return facts_.currentDirectory; }
  // <prefix>/share/dimmora when the program runs as <prefix>/bin/dimmora (an installed copy).
  std::optional<std::filesystem::path> bundleResourcesDirectory() const override;
  // From LANGUAGE, then LC_ALL, LC_MESSAGES, LANG: "ja_JP.UTF-8" becomes "ja-JP".
  std::vector<std::string> preferredLanguages() const override;

  // $XDG_RUNTIME_DIR when set and absolute.
  std::optional<std::filesystem::path> runtimeDirectory() const;
  // $TMPDIR when set and absolute, else /tmp.
  std::filesystem::path temporaryDirectory() const;
  std::optional<std::string> variable(const std::string& name) const;

 private:
  // $HOME, else the account's home; nothing when neither is known.
  std::optional<std::filesystem::path> home() const;
  Facts facts_;
};

// The current user's home folder from the user database (getpwuid), when it is an absolute path.
std::optional<std::filesystem::path> accountHomeFolder();

// "ja_JP.UTF-8@euro" -> "ja-JP"; nullopt for "C", "POSIX" and empty text.
std::optional<std::string> languageTagFromLocale(std::string_view locale);
