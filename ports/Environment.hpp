// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Facts about the process and the user's session: folders, the program's own
// path and the preferred interface languages.
class Environment {
 public:
  virtual ~Environment() = default;
  // The per-user folder that holds application settings (XDG config home on
  // Linux); nullopt when the system reports none.
  virtual std::optional<std::filesystem::path> applicationSupportDirectory() const = 0;
  virtual std::filesystem::path homeDirectory() const = 0;
  // The first command-line argument, as given; nullopt when there is none.
  virtual std::optional<std::filesystem::path> executablePath() const = 0;
  virtual std::filesystem::path currentDirectory() const = 0;
  // The folder of bundled resources, when the program runs from a bundle.
  virtual std::optional<std::filesystem::path> bundleResourcesDirectory() const = 0;
  // The user's language list in order of preference ("ja-JP", "en-US", ...).
  virtual std::vector<std::string> preferredLanguages() const = 0;
};
