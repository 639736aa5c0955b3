// SPDX-License-Identifier: GPL-3.0-or-later
#include "AttributeWrites.hpp"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

AttributeWrites::AttributeWrites(const std::filesystem::path& file) : file_(file) {
  inotify_ = inotify_init1(IN_CLOEXEC);
  if (inotify_ < 0 || inotify_add_watch(inotify_, file.c_str(), IN_CLOSE_WRITE) < 0 || pipe(stop_) != 0)
    throw std::runtime_error("cannot watch " + file.string());
  thread_ = std::thread([this] { watch(); });
}

AttributeWrites::~AttributeWrites() {
  if (write(stop_[1], "x", 1) != 1) thread_.detach();
  if (thread_.joinable()) thread_.join();
  close(stop_[0]);
  close(stop_[1]);
  close(inotify_);
}

void AttributeWrites::watch() {
  char events[4096];
  for (;;) {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || fds[1].revents) return;
    if (read(inotify_, events, sizeof events) <= 0) return;
    const auto at = std::chrono::steady_clock::now();
    std::ifstream in(file_);
    std::string value((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    const std::lock_guard lock(mutex_);
    writes_.push_back({at, value});
  }
}

std::vector<AttributeWrites::Write> AttributeWrites::writes() const {
  const std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<long> AttributeWrites::valuesSince(std::chrono::steady_clock::time_point since) const {
  std::vector<long> values;
  for (const auto& write : writes())
    if (write.at >= since && !write.value.empty()) values.push_back(std::stol(write.value));
  return values;
}
