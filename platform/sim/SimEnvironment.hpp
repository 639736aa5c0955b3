// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ports/Environment.hpp"

// An environment whose every answer a test sets.
class SimEnvironment final : public Environment {
 public:
  std::optional<std::filesystem::path> applicationSupport;
  std::filesystem::path home = "/nonexistent-home";
  std::optional<std::filesystem::path> executable;
  std::filesystem::path workingDirectory = std::filesystem::current_path();
  std::optional<std::filesystem::path> bundleResources;
  std::vector<std::string> languages;

  std::optional<std::filesystem::path> applicationSupportDirectory() const override { return applicationSupport; }
  std::filesystem::path homeDirectory() const override { return home; }
  std::optional<std::filesystem::path> executablePath() const override { return executable; }
  std::filesystem::path currentDirectory() const override { return workingDirectory; }
  std::optional<std::filesystem::path> bundleResourcesDirectory() const override { return bundleResources; }
  std::vector<std::string> preferredLanguages() const override { return languages; }
};
