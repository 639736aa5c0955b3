// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DesktopSession.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/LinuxEnvironment.hpp"

namespace fs = std::filesystem;

std::vector<fs::path> waylandSocketsIn(const fs::path& folder) {
  std::vector<std::pair<long, fs::path>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("wayland-", 0) != 0 || name.ends_with(".lock")) continue;
    struct stat info {};
    if (stat(entry.path().c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    char* end = nullptr;
    const long number = std::strtol(name.c_str() + 8, &end, 10);
    // Numbered sockets first, by number; names a user chose after them.
    found.emplace_back(end && *end == '\0' && end != name.c_str() + 8 ? number : 1L << 30, entry.path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> sockets;
  for (auto& [number, path] : found) sockets.push_back(std::move(path));
  return sockets;
}

DesktopSession chooseDesktopSession(const LinuxEnvironment& environment) {
  const auto wayland = environment.variable("WAYLAND_DISPLAY");
  const auto type = environment.variable("XDG_SESSION_TYPE");
  const auto x11 = environment.variable("DISPLAY");
  const auto runtime = environment.runtimeDirectory();
  DesktopSession session;
  session.waylandSessionType = type == "wayland";
  if (wayland) {
    session.kind = DesktopSession::Kind::wayland;
    session.display = *wayland;
    session.reason = "WAYLAND_DISPLAY is set (" + *wayland + ")";
    return session;
  }
  if (runtime) session.waylandSockets = waylandSocketsIn(*runtime);
  const std::string folder = runtime ? runtime->string() : std::string("XDG_RUNTIME_DIR (not set)");
  if (session.waylandSessionType && !session.waylandSockets.empty()) {
    session.kind = DesktopSession::Kind::wayland;
    session.reason = "XDG_SESSION_TYPE is wayland and WAYLAND_DISPLAY is not set: the compositor's socket in " + folder;
    return session;
  }
  if (x11) {
    session.kind = DesktopSession::Kind::x11;
    session.display = *x11;
    session.reason = "DISPLAY is set (" + *x11 + ")" + (type ? " and XDG_SESSION_TYPE is " + *type : std::string()) +
                     ", and WAYLAND_DISPLAY is not";
    return session;
  }
  if (session.waylandSessionType) {
    session.reason = "XDG_SESSION_TYPE is wayland, but WAYLAND_DISPLAY is not set and " + folder +
                     " holds no compositor socket (wayland-*)";
    return session;
  }
  session.reason = "no X11 display (DISPLAY is not set) and no Wayland display (WAYLAND_DISPLAY is not set)";
  return session;
}
