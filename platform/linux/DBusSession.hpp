// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Signal.hpp"

class LinuxEnvironment;

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

// A D-Bus inhibitor as logind lists it.
struct LogindInhibitor {
  std::string what;  // colon-separated: "idle:sleep", "shutdown", ...
  std::string who;
  std::string why;
  std::string mode;  // "block" or "delay"
  std::uint32_t uid = 0;
  std::uint32_t pid = 0;
};

// The calls Dimmora makes on the system bus (logind) and the session bus
// (the desktop's session manager). Either bus may be missing; every call then
// reports failure, and the absence is logged once.
class DBusSession {
 public:
  // Connects to the system bus (`systemAddress`, or the default when empty)
  // and the session bus (likewise). Addresses are for tests' private buses.
  DBusSession(std::string systemAddress = {}, std::string sessionAddress = {});
  ~DBusSession();
  DBusSession(const DBusSession&) = delete;
  DBusSession& operator=(const DBusSession&) = delete;

  bool hasSystemBus() const { return system_ != nullptr; }
  bool hasSessionBus() const { return session_ != nullptr; }

  // libdbus (used by Qt) starts a dbus-daemon of its own when no session bus
  // is known, and that daemon outlives the program. When the environment names
  // no bus and the runtime folder holds none, this points the variable at the
  // standard, absent, location instead, so that every client fails fast. Call
  // before anything uses D-Bus; true when the variable was set.
  static bool preventAutolaunch(const LinuxEnvironment& environment);

  // logind's Session.SetBrightness on this session: 0, or a negative errno
  // with the bus's error text in `error`.
  int setBrightness(const std::string& subsystem, const std::string& device, std::uint32_t value,
                    std::string* error = nullptr);
  std::optional<std::vector<LogindInhibitor>> listInhibitors();
  // Whether a PropertiesChanged signal of `interface` names `property` among
  // the changed or invalidated ones.
  static bool changesProperty(sd_bus_message* message, const char* interface, std::string_view property);
  // Whether some connection owns `name` on `bus`.
  static bool nameHasOwner(sd_bus* bus, const char* name);
  // Whether logind runs on the system bus, and GNOME's session manager on the session bus.
  bool hasLogind() const;
  bool hasGnomeSessionManager() const;
  // org.gnome.SessionManager.IsInhibited(flags); nullopt without GNOME.
  std::optional<bool> gnomeIsInhibited(std::uint32_t flags);

  // org.freedesktop.FileManager1.ShowItems with one file URI.
  bool showItemInFileManager(const std::string& uri);

  // logind's PrepareForSleep: true before sleeping, false after waking.
  Signal<bool> prepareForSleep;
  // An inhibitor was taken or let go: logind's BlockInhibited changed, or
  // GNOME's session manager added or removed one. Emitted while the bus dispatches.
  Signal<> inhibitorsChanged;

  // The session bus connection for services that export objects on it; null without one.
  sd_bus* sessionBus() const { return session_; }

  // Descriptors to watch for reading; process() then handles what arrived.
  std::vector<int> fileDescriptors() const;
  void process();
  // A blocking call may have read further messages off the socket while it
  // waited; they are queued with no descriptor left to announce them.
  bool hasQueuedMessages() const;

 private:
  sd_bus* system_ = nullptr;
  sd_bus* session_ = nullptr;
  // The signals watched: PrepareForSleep and the inhibitors' changes.
  std::vector<sd_bus_slot*> matches_;
};
