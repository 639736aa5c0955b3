// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "base/MainLoop.hpp"
#include "ports/GlobalShortcuts.hpp"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts),
// for desktops where no client may grab keys (Wayland) or that let the user
// rebind shortcuts in their own settings. The three actions are bound once
// per session with the keys of the first registrations as preferred triggers;
// from then on the desktop owns the keys, and a registration only decides
// whether an activation is passed on. An action the desktop's answer leaves
// out is unavailable: its registration is dropped, and no new one accepted.
class PortalGlobalShortcuts final : public GlobalShortcuts {
 public:
  static constexpr const char* portalName = "org.freedesktop.portal.Desktop";
  static constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
  static constexpr const char* portalInterface = "org.freedesktop.portal.GlobalShortcuts";
  // The application ID the portal knows us by.
  static constexpr const char* applicationID = "io.github.dimmora.Dimmora";

  // nullptr when the session bus has no portal that offers global shortcuts.
  static std::unique_ptr<PortalGlobalShortcuts> connect(sd_bus* bus, MainLoop& loop);
  ~PortalGlobalShortcuts() override;
  PortalGlobalShortcuts(const PortalGlobalShortcuts&) = delete;
  PortalGlobalShortcuts& operator=(const PortalGlobalShortcuts&) = delete;

  // A combination or an action registered already is refused as taken; an
  // action the desktop left out when it bound the shortcuts as not bound.
  Registration registerShortcut(HotKeyID action, const Combination& combination, PressHandler onPress) override;
  void unregisterShortcut(Handle handle) override;

  // The portal's trigger text ("CTRL+ALT+u", "CTRL+ALT+SHIFT+F2"); nullopt for
  // a key name that is no keysym.
  static std::optional<std::string> preferredTrigger(const Combination& combination);

 private:
  struct Entry {
    HotKeyID action;
    Combination combination;
    PressHandler onPress;
  };
  PortalGlobalShortcuts(sd_bus* bus, MainLoop& loop);
  void createSession();
  void bindShortcuts();
  using Append = std::function<int(sd_bus_message*)>;
  // Calls `method` with its `arguments`, then an options dictionary holding a
  // request token and the entries `options` adds; `onResponse` gets the
  // portal's answer (0 for success) and its results.
  bool request(const char* method, const Append& arguments, const Append& options,
               std::function<void(std::uint32_t, sd_bus_message*)> onResponse);
  void handleActivated(sd_bus_message* message);
  // The shortcuts the portal says it bound, by name, with its text for their keys.
  static std::map<std::string, std::string> boundShortcuts(sd_bus_message* results);
  // Shortcuts left out of the answer are unavailable: their registrations are dropped.
  void handleBound(const std::map<std::string, std::string>& bound);

  sd_bus* bus_;
  MainLoop& loop_;
  std::map<Handle, Entry> registrations_;
  Handle nextHandle_ = 1;
  std::optional<std::string> sessionHandle_;
  bool bound_ = false;
  std::set<HotKeyID> unbound_;  // the actions the desktop did not bind
  ScheduledWork pendingBind_;
  unsigned nextToken_ = 0;
  sd_bus_slot* activated_ = nullptr;
  sd_bus_slot* response_ = nullptr;
  std::function<void(std::uint32_t, sd_bus_message*)> onResponse_;
};
