// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/TemporaryFolder.hpp"

#include <stdlib.h>

#include <cstdio>
#include <string>
#include <system_error>

TemporaryFolder::TemporaryFolder(std::string_view prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    // Without a folder of its own a test would write into shared places; stop here.
    std::perror("TemporaryFolder: mkdtemp");
    std::abort();
  }
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}
