// SPDX-License-Identifier: GPL-3.0-or-later
#include <system_error>

#include "ports/Environment.hpp"
#include "services/AppLog.hpp"
#include "settings/StepStore.hpp"

namespace fs = std::filesystem;

fs::path StepStore::defaultConfigURL(const Environment* environment) {
  std::optional<fs::path> support = environment ? environment->applicationSupportDirectory() : std::nullopt;
  // Without a reported folder, the XDG default under the home folder.
  const fs::path folder = support ? *support : (environment ? environment->homeDirectory() : fs::path()) / ".config";
  return folder / "Dimmora" / "config.json";
}

fs::path StepStore::adjacentLegacyConfigURL(const Environment* environment) {
  const fs::path workingDirectory = environment ? environment->currentDirectory() : fs::path(".");
  const auto argument = environment ? environment->executablePath() : std::nullopt;
  fs::path executable = argument ? *argument : workingDirectory;
  if (executable.is_relative()) executable = workingDirectory / executable;

  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(executable, error);
  if (!error) executable = resolved;
  const fs::path folder = executable.parent_path();

  // Inside an application bundle the old file sat next to the bundle.
  const fs::path contents = folder.parent_path();
  const fs::path bundle = contents.parent_path();
  if (folder.filename() == "MacOS" && contents.filename() == "Contents" && bundle.extension() == ".app")
    return bundle.parent_path() / "config.json";
  return folder / "config.json";
}

void StepStore::migrateLegacyConfigIfNeeded(const fs::path& target, const Environment* environment) {
  std::error_code error;
  if (fs::exists(target, error)) return;
  const fs::path legacy = adjacentLegacyConfigURL(environment);
  if (!fs::exists(legacy, error)) return;

  fs::create_directories(target.parent_path(), error);
  if (!error) fs::copy_file(legacy, target, fs::copy_options::none, error);
  if (error) {
    AppLog::app.error("Failed to migrate legacy config: " + error.message());
    return;
  }
  AppLog::app.log("Migrated legacy config from " + legacy.string() + " to " + target.string());
}
