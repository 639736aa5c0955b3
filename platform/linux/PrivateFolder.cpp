// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/PrivateFolder.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

bool ensurePrivateFolder(const fs::path& folder, unsigned owner, std::string& why) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = folder.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0)
    why = folder.string() + ": " + std::strerror(errno);
  else if (S_ISLNK(info.st_mode))
    why = folder.string() + " is a symbolic link";
  else if (!S_ISDIR(info.st_mode))
    why = folder.string() + " is not a folder";
  else if (info.st_uid != owner)
    why = folder.string() + " belongs to another user";
  else if (info.st_mode & (S_IWGRP | S_IWOTH))
    why = folder.string() + " can be written by other users";
  else
    return true;
  return false;
}

std::optional<fs::path> privateTemporaryFolder(const fs::path& temporary, unsigned owner, std::string& why) {
  const fs::path folder = temporary / ("dimmora-" + std::to_string(owner));
  if (!ensurePrivateFolder(folder, owner, why)) return std::nullopt;
  return folder;
}
