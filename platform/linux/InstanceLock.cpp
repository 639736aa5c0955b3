// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/InstanceLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InstanceLock::InstanceLock(const std::filesystem::path& folder, std::string lockName) {
  std::error_code ignored;
  if (std::filesystem::create_directories(folder, ignored))
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
  const auto file = folder / lockName;
  // O_NOFOLLOW: a planted link must not make us create or lock someone else's file.
  fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    error_ = "cannot open " + file.string() + ": " + std::strerror(errno);
    return;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    outcome_ = Outcome::acquired;
    return;
  }
  if (errno == EWOULDBLOCK) {
    outcome_ = Outcome::heldElsewhere;
  } else {
    error_ = "cannot lock " + file.string() + ": " + std::strerror(errno);
  }
  close(fd_);
  fd_ = -1;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}
