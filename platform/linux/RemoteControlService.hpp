// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "base/Signal.hpp"
#include "engine/RemoteControl.hpp"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;

// The session bus face of RemoteControl: the well-known name, one object and
// one interface whose methods and properties scripts and key bindings use.
class RemoteControlService {
 public:
  static constexpr const char* busName = "io.github.dimmora.Dimmora";
  static constexpr const char* objectPath = "/io/github/dimmora/Dimmora";
  static constexpr const char* interfaceName = "io.github.dimmora.Dimmora";

  // Exports the object on `bus` and takes the name; failures are logged and
  // leave the service unavailable (isAvailable() false).
  RemoteControlService(sd_bus* bus, RemoteControl& control);
  ~RemoteControlService();
  RemoteControlService(const RemoteControlService&) = delete;
  RemoteControlService& operator=(const RemoteControlService&) = delete;

  bool isAvailable() const { return available_; }

  // For a second start: asks the running instance on the session bus to show
  // its window, waiting up to `patienceSeconds` for it to take its name.
  // False, with the reason, when it could not be asked.
  static bool askRunningInstanceToShowWindow(double patienceSeconds, std::string& error);
  // Whether another process owns the name on the session bus; false without a bus.
  static bool isOwnedElsewhere();

 private:
  void emitChanges(RemoteControl::Properties changed);

  sd_bus* bus_;
  RemoteControl& control_;
  sd_bus_slot* object_ = nullptr;
  sd_bus_slot* withoutInterface_ = nullptr;  // calls that leave the interface out
  bool available_ = false;
  Subscription changes_;
};
