// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

// The desktop's file manager.
class FileManager {
 public:
  virtual ~FileManager() = default;
  // Shows the file selected in its folder (or at least opens the folder);
  // false when nothing could be shown.
  virtual bool revealFile(const std::filesystem::path& file) = 0;
};
