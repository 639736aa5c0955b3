// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/NotificationHUDPanel.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "services/AppLog.hpp"

namespace {
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
}  // namespace

NotificationHUDPanel::NotificationHUDPanel(sd_bus* sessionBus, MainLoop& loop) : bus_(sessionBus), loop_(loop) {}

NotificationHUDPanel::~NotificationHUDPanel() {
  if (visible_) close();
  sd_bus_slot_unref(pendingCall_);
}

void NotificationHUDPanel::setTitleText(const std::string& text) {
  title_ = text;
  if (visible_) scheduleNotify();
}

void NotificationHUDPanel::setValueText(const std::string& text) {
  value_ = text;
  if (visible_) scheduleNotify();
}

void NotificationHUDPanel::setFillWidth(double width) {
  fill_ = width;
  if (visible_) scheduleNotify();
}

void NotificationHUDPanel::orderFrontRegardless() {
  visible_ = true;
  scheduleNotify();
}

void NotificationHUDPanel::orderOut() {
  visible_ = false;
  scheduledNotify_.cancel();
  notifyAfterAnswer_ = false;
  // A Notify still on its way is closed when its id comes back.
  if (!pendingCall_) close();
}

void NotificationHUDPanel::scheduleNotify() {
  if (!scheduledNotify_.isActive()) scheduledNotify_ = loop_.post([this] { notify(); });
}

void NotificationHUDPanel::notify() {
  if (!visible_ || !bus_) return;
  if (pendingCall_) {
    if (loop_.uptime() - pendingSince_ < kAnswerPatienceSeconds) {
      notifyAfterAnswer_ = true;
      return;
    }
    pendingCall_ = sd_bus_slot_unref(pendingCall_);
    failed("it did not answer within " + std::to_string(static_cast<int>(kAnswerPatienceSeconds)) + " s");
  }
  // This call carries the latest level: nothing is left to send once it is answered.
  notifyAfterAnswer_ = false;
  const double level = std::clamp(fill_ / trackWidth() * 100, 0.0, 100.0);
  const auto value = static_cast<std::int32_t>(std::lround(std::isfinite(level) ? level : 0.0));

  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &call, kService, kPath, kInterface, "Notify");
  if (r >= 0)
    r = sd_bus_message_append(call, "susssas", kApplicationName, id_, kApplicationIcon, title_.c_str(),
                              value_.c_str(), 0);
  // "transient": a level that was shown for a moment does not belong in the notification history.
  if (r >= 0)
    r = sd_bus_message_append(call, "a{sv}", 3, "value", "i", value, "transient", "b", 1, "desktop-entry", "s",
                              kApplicationIcon);
  if (r >= 0) r = sd_bus_message_append(call, "i", kExpireMilliseconds);
  if (r >= 0)
    r = sd_bus_call_async(
        bus_, &pendingCall_, call,
        [](sd_bus_message* reply, void* self, sd_bus_error*) -> int {
          static_cast<NotificationHUDPanel*>(self)->takeReply(reply);
          return 0;
        },
        this, 0);
  sd_bus_message_unref(call);
  if (r < 0) {
    failed(std::strerror(-r));
    return;
  }
  pendingSince_ = loop_.uptime();
}

void NotificationHUDPanel::takeReply(sd_bus_message* reply) {
  pendingCall_ = sd_bus_slot_unref(pendingCall_);
  std::uint32_t id = 0;
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    failed(error && error->message ? error->message : "an error without text");
  } else if (sd_bus_message_read(reply, "u", &id) > 0) {
    id_ = id;
    failureLogged_ = false;
  }
  if (!visible_) {
    close();
  } else if (notifyAfterAnswer_) {
    notifyAfterAnswer_ = false;
    notify();
  }
}

void NotificationHUDPanel::close() {
  if (id_ == 0 || !bus_) return;
  // Nobody waits for the answer: the notification is gone either way.
  const int r = sd_bus_call_method_async(bus_, nullptr, kService, kPath, kInterface, "CloseNotification", nullptr,
                                         nullptr, "u", id_);
  if (r < 0) failed(std::strerror(-r));
  id_ = 0;
}

void NotificationHUDPanel::failed(const std::string& what) {
  if (failureLogged_) return;
  failureLogged_ = true;
  AppLog::app.error("The notification service cannot show the brightness level: " + what);
}
