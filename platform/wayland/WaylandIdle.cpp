// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandIdle.hpp"

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"
#include "platform/wayland/WaylandSession.hpp"

namespace {
constexpr std::uint32_t kThresholdMilliseconds = static_cast<std::uint32_t>(WaylandIdle::kThresholdSeconds * 1000);

const ext_idle_notification_v1_listener extListener = {
    .idled = [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleIdled(); },
    .resumed = [](void* data, ext_idle_notification_v1*) { static_cast<WaylandIdle*>(data)->handleResumed(); },
};

const org_kde_kwin_idle_timeout_listener kdeListener = {
    .idle = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleIdled(); },
    .resumed = [](void* data, org_kde_kwin_idle_timeout*) { static_cast<WaylandIdle*>(data)->handleResumed(); },
};
}  // namespace

WaylandIdle::WaylandIdle(WaylandSession& session, std::function<double()> clock)
    : session_(session), clock_(std::move(clock)) {
  const auto seat = session_.global(wl_seat_interface.name);
  hasSeat_ = seat.has_value();
  if (!seat) return;
  if (const auto notifier = session_.global(ext_idle_notifier_v1_interface.name)) {
    seat_ = static_cast<wl_seat*>(session_.bind(*seat, &wl_seat_interface, 1));
    notifier_ = static_cast<ext_idle_notifier_v1*>(session_.bind(*notifier, &ext_idle_notifier_v1_interface, 1));
    notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, kThresholdMilliseconds, seat_);
    ext_idle_notification_v1_add_listener(notification_, &extListener, this);
    protocol_ = Protocol::extIdleNotify;
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
  if (notification_) ext_idle_notification_v1_destroy(notification_);
  if (notifier_) ext_idle_notifier_v1_destroy(notifier_);
  if (kdeTimeout_) org_kde_kwin_idle_timeout_release(kdeTimeout_);
  if (kdeIdle_) org_kde_kwin_idle_destroy(kdeIdle_);
  if (seat_) wl_seat_destroy(seat_);
  session_.flush();
}

std::string WaylandIdle::description() const {
  switch (protocol_) {
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

void WaylandIdle::handleIdled() { idleSince_ = clock_(); }

void WaylandIdle::handleResumed() {
  idleSince_.reset();
  resumed.emit();
}
