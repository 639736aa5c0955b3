// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "ports/IdleTimeSource.hpp"

class WaylandSession;
struct wl_seat;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_idle_timeout;

// Idle time from the compositor, which sees every client's input: a
// notification after one second without input, and another when input
// resumes. ext-idle-notify-v1 where offered, else KDE's older idle protocol.
// Idle seconds are then "since the last input" to within that second. A
// wanted length gets a notification of its own, with the time still missing
// as its timeout; input after an idle second makes it again, with the whole
// length, as the compositor counts from that input then.
//
// An application holding an idle inhibitor (a video playing) stops the
// ordinary notification. Version 2 of ext-idle-notify adds one that counts
// input alone: idle time then comes from it, and a second, ordinary
// notification that stays awake while the input one idles shows the
// inhibitor, which counts as media playback. Elsewhere the inhibitor cannot
// be seen, only suspected: no idle second for kHeldAwakeSeconds.
class WaylandIdle final : public IdleTimeSource {
 public:
  enum class Protocol { none, extIdleNotify, extInputIdleNotify, kdeIdle };
  static constexpr double kThresholdSeconds = 1;
  // Nobody types or moves the mouse this long without a one-second pause.
  static constexpr double kHeldAwakeSeconds = 600;

  // Times are the loop's uptime.
  WaylandIdle(WaylandSession& session, MainLoop& loop);
  ~WaylandIdle() override;
  WaylandIdle(const WaylandIdle&) = delete;
  WaylandIdle& operator=(const WaylandIdle&) = delete;

  Protocol protocol() const { return protocol_; }
  // The protocol in use, or why there is none, for the log.
  std::string description() const;

  // nullopt without an idle protocol.
  std::optional<double> idleSeconds() override;
  ScheduledWork whenIdleReaches(double seconds, std::function<void()> reached) override;
  ScheduledWork whenUserReturns(std::function<void()> back) override;
  // "idle_time_held_awake" while no idle second came for kHeldAwakeSeconds
  // where inhibitors cannot be seen.
  std::string_view note() const override;
  // Whether an application holds an idle inhibitor: known only with version 2
  // and while the user is idle (false otherwise); nullopt where it cannot be known.
  std::optional<bool> inhibitorHeld() const;

  void handleIdled();
  void handleResumed();
  void handleInhibitableIdled() { inhibitableIdle_ = true; }
  void handleInhibitableResumed() { inhibitableIdle_ = false; }
  void handleReached();

 private:
  double now() const;
  // The notification for the wanted length, made anew (or dropped when none is wanted).
  void makeReachNotification();
  void dropReachNotification();
  // Where inhibitors cannot be seen, the note changes after kHeldAwakeSeconds without an idle second.
  void scheduleHeldAwakeNote();

  WaylandSession& session_;
  MainLoop& loop_;
  Protocol protocol_ = Protocol::none;
  bool hasSeat_ = false;
  wl_seat* seat_ = nullptr;
  ext_idle_notifier_v1* notifier_ = nullptr;
  ext_idle_notification_v1* notification_ = nullptr;
  // Version 2 only: the ordinary notification, which inhibitors hold awake.
  ext_idle_notification_v1* inhibitable_ = nullptr;
  bool inhibitableIdle_ = false;
  org_kde_kwin_idle* kdeIdle_ = nullptr;
  org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
  std::optional<double> idleSince_;  // clock time of the last "idled"
  double lastIdledAt_;               // of the last "idled", or the start
  double reachSeconds_ = 0;
  IdleRequest reach_;
  IdleRequest back_;
  ext_idle_notification_v1* reachNotification_ = nullptr;
  org_kde_kwin_idle_timeout* kdeReachTimeout_ = nullptr;
  ScheduledWork reachDelivery_;
  ScheduledWork backDelivery_;
  ScheduledWork heldAwakeNote_;
};
