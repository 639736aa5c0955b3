// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

// One running Dimmora per user: an advisory lock on a file that the kernel
// releases when the process ends, however it ends.
class InstanceLock {
 public:
  enum class Outcome { acquired, heldElsewhere, failed };

  // Tries once, without waiting. `folder` is created (0700) when missing.
  InstanceLock(const std::filesystem::path& folder, std::string lockName = "dimmora.lock");
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }
  // Why the lock could not be taken (outcome failed).
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  Outcome outcome_ = Outcome::failed;
  std::string error_;
};
