// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandIdle.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <utility>

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"
#include "base/MainLoop.hpp"
#include "platform/wayland/WaylandSession.hpp"

namespace {
constexpr std::uint32_t kThresholdMilliseconds = static_cast<std::uint32_t>(WaylandIdle::kThresholdSeconds * 1000);
// Both notifications idle a second after the last input; the ordinary one may
// be told a moment later than the input one.
constexpr double kInhibitorGraceSeconds = 1;

const ext_idle_notification_v1_listener extListener = {
    .idled = [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleIdled(); },
    .resumed = [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleResumed(); },
};

const ext_idle_notification_v1_listener inhibitableListener = {
    .idled = [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleInhibitableIdled(); },
    .resumed =
        [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleInhibitableResumed(); },
};

const ext_idle_notification_v1_listener reachListener = {
    .idled = [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleReached(); },
    .resumed = [](void*, ext_idle_notification_v1*) {},
};

const org_kde_kwin_idle_timeout_listener kdeReachListener = {
    .idle = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleReached(); },
    .resumed = [](void*, org_kde_kwin_idle_timeout*) {},
};

const org_kde_kwin_idle_timeout_listener kdeListener = {
    .idle = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleIdled(); },
    .resumed = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleResumed(); },
};
}  // namespace

WaylandIdle::WaylandIdle(WaylandSession& session, MainLoop& loop)
    : session_(session), loop_(loop), lastIdledAt_(loop.uptime()) {
  const auto seat = session_.global(wl_seat_interface.name);
  hasSeat_ = seat.has_value();
  if (!seat) return;
  if (const auto notifier = session_.global(ext_idle_notifier_v1_interface.name)) {
    seat_ = static_cast<wl_seat*>(session_.bind(*seat, &wl_seat_interface, 1));
    notifier_ = static_cast<ext_idle_notifier_v1*>(session_.bind(*notifier, &ext_idle_notifier_v1_interface, 2));
    if (notifier->version >= 2) {
      notification_ = ext_idle_notifier_v1_get_input_idle_notification(notifier_, kThresholdMilliseconds, seat_);
      inhibitable_ = ext_idle_notifier_v1_get_idle_notification(notifier_, kThresholdMilliseconds, seat_);
      ext_idle_notification_v1_add_listener(inhibitable_, &inhibitableListener, this);
      protocol_ = Protocol::extInputIdleNotify;
    } else {
      notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, kThresholdMilliseconds, seat_);
      protocol_ = Protocol::extIdleNotify;
    }
    ext_idle_notification_v1_add_listener(notification_, &extListener, this);
  } else if (const auto kde = session_.global(org_kde_kwin_idle_interface.name)) {
    seat_ = static_cast<wl_seat*>(session_.bind(*seat, &wl_seat_interface, 1));
    kdeIdle_ = static_cast<org_kde_kwin_idle*>(session_.bind(*kde, &org_kde_kwin_idle_interface, 1));
    kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, kThresholdMilliseconds);
    org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &kdeListener, this);
    protocol_ = Protocol::kdeIdle;
  }
  session_.flush();
  scheduleHeldAwakeNote();
}

WaylandIdle::~WaylandIdle() {
  dropReachNotification();
  if (inhibitable_) ext_idle_notification_v1_destroy(inhibitable_);
  if (notification_) ext_idle_notification_v1_destroy(notification_);
  if (notifier_) ext_idle_notifier_v1_destroy(notifier_);
  if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
  if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
  if (seat_) wl_seat_destroy(seat_);
  session_.flush();
}

std::string WaylandIdle::description() const {
  switch (protocol_) {
    case Protocol::extInputIdleNotify:
      return "ext-idle-notify-v1 version 2 (input only; idle inhibitors count as media playback)";
    case Protocol::extIdleNotify: return "ext-idle-notify-v1";
    case Protocol::kdeIdle: return "org_kde_kwin_idle";
    case Protocol::none: break;
  }
  return hasSeat_ ? "the compositor offers no idle protocol" : "the compositor offers no seat";
}

double WaylandIdle::now() const { return loop_.uptime(); }

std::optional<double> WaylandIdle::idleSeconds() {
  if (protocol_ == Protocol::none) return std::nullopt;
  if (!idleSince_) return 0.0;
  return now() - *idleSince_ + kThresholdSeconds;
}

ScheduledWork WaylandIdle::whenIdleReaches(double seconds, std::function<void()> reached) {
  auto handle = reach_.arm(std::move(reached));
  reachSeconds_ = seconds;
  makeReachNotification();
  return handle;
}

ScheduledWork WaylandIdle::whenUserReturns(std::function<void()> back) {
  auto handle = back_.arm(std::move(back));
  // Within the first idle second no "resumed" will come: the user is here.
  if (protocol_ != Protocol::none && !idleSince_) backDelivery_ = loop_.post([this] { back_.fire(); });
  return handle;
}

void WaylandIdle::makeReachNotification() {
  dropReachNotification();
  if (protocol_ == Protocol::none || !reach_.isArmed()) return;
  // The compositor counts a new notification's timeout from its making.
  const double missing = reachSeconds_ - idleSeconds().value_or(0);
  const auto timeout = static_cast<std::uint32_t>(std::clamp(missing * 1000, 1.0, 4.0e9));
  if (protocol_ == Protocol::kdeIdle) {
    kdeReachTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, timeout);
    org_kde_kwin_idle_timeout_add_listener(kdeReachTimeout_, &kdeReachListener, this);
  } else {
    reachNotification_ = protocol_ == Protocol::extInputIdleNotify
                             ? ext_idle_notifier_v1_get_input_idle_notification(notifier_, timeout, seat_)
                             : ext_idle_notifier_v1_get_idle_notification(notifier_, timeout, seat_);
    ext_idle_notification_v1_add_listener(reachNotification_, &reachListener, this);
  }
  session_.flush();
}

void WaylandIdle::dropReachNotification() {
  if (reachNotification_) ext_idle_notification_v1_destroy(std::exchange(reachNotification_, nullptr));
  if (kdeReachTimeout_) org_kde_kwin_idle_timeout_release(std::exchange(kdeReachTimeout_, nullptr));
}

void WaylandIdle::handleReached() {
  dropReachNotification();
  session_.flush();
  reachDelivery_ = loop_.post([this] { reach_.fire(); });
}

void WaylandIdle::scheduleHeldAwakeNote() {
  if (protocol_ != Protocol::extIdleNotify && protocol_ != Protocol::kdeIdle) return;
  heldAwakeNote_ = loop_.after(kHeldAwakeSeconds - (now() - lastIdledAt_), [this] { changed.emit(); });
}

std::string_view WaylandIdle::note() const {
  if (protocol_ == Protocol::none || protocol_ == Protocol::extInputIdleNotify || idleSince_) return {};
  return now() - lastIdledAt_ >= kHeldAwakeSeconds ? "idle_time_held_awake" : std::string_view();
}

std::optional<bool> WaylandIdle::inhibitorHeld() const {
  if (protocol_ != Protocol::extInputIdleNotify) return std::nullopt;
  return idleSince_ && !inhibitableIdle_ && now() - *idleSince_ >= kInhibitorGraceSeconds;
}

void WaylandIdle::handleIdled() {
  const bool noted = !note().empty();
  idleSince_ = lastIdledAt_ = now();
  heldAwakeNote_.cancel();
  if (noted) changed.emit();
}

void WaylandIdle::handleResumed() {
  idleSince_.reset();
  lastIdledAt_ = now();
  scheduleHeldAwakeNote();
  if (reach_.isArmed()) makeReachNotification();
  if (back_.isArmed()) backDelivery_ = loop_.post([this] { back_.fire(); });
}
