// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandIdle.hpp"

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"
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

const org_kde_kwin_idle_timeout_listener kdeListener = {
    .idle = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleIdled(); },
    .resumed = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleResumed(); },
};
}  // namespace

WaylandIdle::WaylandIdle(WaylandSession& session, std::function<double()> clock)
    : session_(session), clock_(std::move(clock)), lastIdledAt_(clock_()) {
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
}

WaylandIdle::~WaylandIdle() {
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

std::optional<double> WaylandIdle::secondsSinceLastEvent(InputEventType) const {
  if (protocol_ == Protocol::none) return std::nullopt;
  if (!idleSince_) return 0.0;
  return clock_() - *idleSince_ + kThresholdSeconds;
}

std::string_view WaylandIdle::note() const {
  if (protocol_ == Protocol::none || protocol_ == Protocol::extInputIdleNotify || idleSince_) return {};
  return clock_() - lastIdledAt_ >= kHeldAwakeSeconds ? "idle_time_held_awake" : std::string_view();
}

std::optional<bool> WaylandIdle::inhibitorHeld() const {
  if (protocol_ != Protocol::extInputIdleNotify) return std::nullopt;
  return idleSince_ && !inhibitableIdle_ && clock_() - *idleSince_ >= kInhibitorGraceSeconds;
}

void WaylandIdle::handleIdled() { idleSince_ = lastIdledAt_ = clock_(); }

void WaylandIdle::handleResumed() {
  idleSince_.reset();
  lastIdledAt_ = clock_();
  resumed.emit();
}
