// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string_view>

// A private folder under the system's temporary directory, removed with the
// object: configuration folders, fake /sys trees, benchmark sandboxes.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(std::string_view prefix = "dimmora");
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
