// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every value a program writes to one sysfs attribute of the testbed, with
// the time it was written: what a driver would have been handed.
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class AttributeWrites {
 public:
  struct Write {
    std::chrono::steady_clock::time_point at;
    std::string value;  // the file's content once the writer closed it, without the line end
  };

  explicit AttributeWrites(const std::filesystem::path& file);
  ~AttributeWrites();
  AttributeWrites(const AttributeWrites&) = delete;
  AttributeWrites& operator=(const AttributeWrites&) = delete;

  std::vector<Write> writes() const;
  // The writes since `since`, as numbers.
  std::vector<long> valuesSince(std::chrono::steady_clock::time_point since) const;

 private:
  void watch();

  std::filesystem::path file_;
  int inotify_ = -1;
  int stop_[2] = {-1, -1};  // a pipe that ends the watch
  mutable std::mutex mutex_;
  std::vector<Write> writes_;
  std::thread thread_;
};
