// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "ports/IdleTimeSource.hpp"

class MainLoop;
typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

// GNOME's idle time and input, from Mutter's org.gnome.Mutter.IdleMonitor on
// the session bus (GNOME's compositor offers no Wayland idle protocol).
//
// An answer must not cost a round trip, so the idle time is asked once and
// then kept from two watches: an idle watch that fires each time input has
// stopped for kIdleWatchSeconds, and a one-shot user-active watch, added again
// after each idle period, that fires at the first input after it. That first
// input answers a whenUserReturns request at once; while input goes on the
// idle time reads 0 (it is below kIdleWatchSeconds until the idle watch
// fires). A wanted length gets an idle watch of its own, removed once fired.
//
// The bus is borrowed: its owner watches its descriptor and processes it on
// the main loop. When Mutter leaves the bus every query answers nullopt (the
// engine then does not dim) until it is back and has answered again.
class MutterIdleMonitor final : public IdleTimeSource {
 public:
  static constexpr const char* kService = "org.gnome.Mutter.IdleMonitor";
  static constexpr double kIdleWatchSeconds = 1;

  // Asks Mutter for the idle time once, waiting up to a second for the answer,
  // then adds the watches without waiting.
  MutterIdleMonitor(sd_bus* sessionBus, MainLoop& loop);
  ~MutterIdleMonitor() override;
  MutterIdleMonitor(const MutterIdleMonitor&) = delete;
  MutterIdleMonitor& operator=(const MutterIdleMonitor&) = delete;

  // Mutter answered and both watches are (being) added.
  bool isAvailable() const { return available_; }

  std::optional<double> idleSeconds() override;
  ScheduledWork whenIdleReaches(double seconds, std::function<void()> reached) override;
  ScheduledWork whenUserReturns(std::function<void()> back) override;


 private:
  // The reply of GetIdletime, from the first query or after Mutter came back.
  void takeIdletime(sd_bus_message* reply);
  void queryIdletime();
  void addIdleWatch();
  void addUserActiveWatch();
  void addReachWatch();
  void removeReachWatch();
  void watchFired(std::uint32_t id);
  void ownerChanged(bool present);
  void forget();

  // A slot owned here: releasing it cancels the pending call or the match.
  struct Slot {
    sd_bus_slot* slot = nullptr;
    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() { reset(); }
    void reset();
    sd_bus_slot** out() {
      reset();
      return &slot;
    }
  };

  sd_bus* bus_;
  MainLoop& loop_;
  Slot ownerMatch_;
  Slot watchMatch_;
  Slot idletimeCall_;
  Slot idleWatchCall_;
  Slot activeWatchCall_;
  Slot reachWatchCall_;
  bool available_ = false;
  std::uint32_t idleWatchId_ = 0;
  std::uint32_t activeWatchId_ = 0;
  std::uint32_t reachWatchId_ = 0;
  double reachSeconds_ = 0;
  IdleRequest reach_;
  IdleRequest back_;
  // Callbacks run on the loop, outside the bus's message handling.
  ScheduledWork reachDelivery_;
  ScheduledWork backDelivery_;
  // Input is going on: seen by the user-active watch, not yet followed by an idle period.
  bool active_ = false;
  // Monotonic time of the last input, as far as the watches tell.
  double idleSince_ = 0;
};
