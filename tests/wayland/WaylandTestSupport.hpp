// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <functional>
#include <string>

#include "../linux/LinuxTestSupport.hpp"
#include "platform/wayland/WaylandSession.hpp"

// CI always has the facilities (scripts/test starts them); only a local run without one may skip.
#define REQUIRE_FACILITY(variable, what)                                            \
  do {                                                                              \
    if (!std::getenv(variable)) {                                                   \
      if (std::getenv("CI")) FAIL() << variable " is not set in CI";                \
      GTEST_SKIP() << "no " what " (scripts/test starts one)";                      \
    }                                                                               \
  } while (0)
#define REQUIRE_SWAY() REQUIRE_FACILITY("DIMMORA_SWAY_DISPLAY", "headless sway")

// Reads and dispatches the session's events until `done` holds or `limit` passes.
inline bool pumpUntil(WaylandSession& session, const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  session.dispatchPending();
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !session.isAlive()) return false;
    pollfd fd{session.fileDescriptor(), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(std::min<long long>(left, 50))) > 0) session.readAndDispatch();
    session.dispatchPending();
  }
  return true;
}

// A socket file as a compositor leaves it, listening no more: only the file counts.
inline void makeSocketFile(const std::filesystem::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}
