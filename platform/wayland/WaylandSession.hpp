// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Signal.hpp"

struct wl_display;
struct wl_registry;
struct wl_interface;

// The process's own connection to the Wayland compositor, separate from the
// one the toolkit draws through, so idle time, outputs and gamma work with
// any Qt version. Events are read when the owner's loop sees the
// connection's descriptor become readable and calls readAndDispatch().
class WaylandSession {
 public:
  // One global object the compositor offers.
  struct Global {
    std::uint32_t name = 0;
    std::string interface;
    std::uint32_t version = 0;
  };

  // Connects to `displayName` (a socket name in XDG_RUNTIME_DIR or an
  // absolute path; WAYLAND_DISPLAY when empty) and reads the globals;
  // nullptr, with the reason, when there is no compositor to talk to.
  static std::unique_ptr<WaylandSession> connect(const std::string& displayName, std::string& error);
  ~WaylandSession();
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  wl_display* display() const { return display_; }
  int fileDescriptor() const;
  const std::string& name() const { return name_; }
  // False once the connection broke; nothing is sent after that.
  bool isAlive() const { return alive_; }

  // The descriptor is readable: reads and runs the handlers of what arrived.
  void readAndDispatch();
  // Runs the handlers of events already read and sends queued requests; the
  // loop calls it before it sleeps.
  void dispatchPending();
  void flush();
  // Sends everything and waits until the compositor answered it; false when the connection broke.
  bool roundtrip();

  const std::vector<Global>& globals() const { return globals_; }
  // The first global of an interface, when offered.
  std::optional<Global> global(std::string_view interface) const;
  // Binds a global at the lower of `version` and the offered version.
  void* bind(const Global& global, const wl_interface* interface, std::uint32_t version);

  Signal<Global> globalAdded;
  Signal<std::uint32_t> globalRemoved;
  // Emitted once, when the connection breaks.
  Signal<> lost;

 private:
  WaylandSession(wl_display* display, std::string name);
  bool check(int result);
  static void handleGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                           std::uint32_t version);
  static void handleGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);

  wl_display* display_;
  wl_registry* registry_ = nullptr;
  std::string name_;
  bool alive_ = true;
  std::vector<Global> globals_;
};
