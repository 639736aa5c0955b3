// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/MainLoop.hpp"
#include "base/Signal.hpp"
#include "services/GlobalHotKeyManager.hpp"

class StepStore;
class DisplayStore;
class IdleBrightnessEngine;

// What scripts and the desktop's own key bindings may do and see, whatever
// carries the calls (the session bus today). The actions are exactly the
// hot keys' and the menu's; this class only decides how a remote caller
// reaches them, which arguments are refused, and how often changes are told.
class RemoteControl {
 public:
  // Change notifications are at most this often (a fade moves the level every frame).
  static constexpr double kMinimumNotificationInterval = 0.1;

  struct Display {
    DisplayID id = 0;
    std::string name;
    std::string controlStatus;  // a ControlStatus key
    bool selected = false;
    friend bool operator==(const Display&, const Display&) = default;
  };
  enum class Property : unsigned { masterPercent = 1, currentPercent = 2, pausedUntil = 4, displays = 8 };
  using Properties = unsigned;  // a set of Property bits

  // The models and the loop must outlive it.
  RemoteControl(StepStore& stepStore, DisplayStore& displayStore, IdleBrightnessEngine& engine, MainLoop& loop);
  RemoteControl(const RemoteControl&) = delete;
  RemoteControl& operator=(const RemoteControl&) = delete;

  // The three hot keys, heads-up panel included.
  void increaseMaster();
  void decreaseMaster();
  void restoreMaximum();
  // nullopt when paused; otherwise why the length was refused (nothing changes then).
  std::optional<std::string> pause(double minutes);
  void resume();
  // False when there is no window to show.
  bool showWindow();
  // Set by the shell that owns the window.
  std::function<void()> onShowWindow;

  double masterPercent() const;
  // The level being applied now (moves during a fade).
  double currentPercent() const;
  // Whole seconds.
  std::uint32_t idleSeconds() const;
  // Seconds since the Unix epoch; 0 when not paused.
  std::uint64_t pausedUntil() const;
  // The connected displays in the menu's order.
  std::vector<Display> displays() const;

  // The properties that changed since the last notification; never two
  // notifications within kMinimumNotificationInterval.
  Signal<Properties> propertiesChanged;

 private:
  struct Snapshot {
    double masterPercent = 0;
    double currentPercent = 0;
    std::uint64_t pausedUntil = 0;
    std::vector<Display> displays;
  };
  Snapshot snapshot() const;
  void scheduleNotification();
  void notify();
  void pressHotKey(HotKeyID id);

  StepStore& stepStore_;
  DisplayStore& displayStore_;
  IdleBrightnessEngine& engine_;
  MainLoop& loop_;
  Snapshot announced_;
  std::optional<double> lastNotificationAt_;
  ScheduledWork pendingNotification_;
  std::vector<Subscription> subscriptions_;
};
