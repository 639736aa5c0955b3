// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/MutterIdleMonitor.hpp"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/MainLoop.hpp"
#include "services/AppLog.hpp"

namespace {
constexpr const char* kPath = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr const char* kInterface = "org.gnome.Mutter.IdleMonitor";
constexpr std::uint64_t kFirstAnswerTimeoutMicroseconds = 1'000'000;

std::string replyError(sd_bus_message* reply) {
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  if (error && error->message) return error->message;
  if (error && error->name) return error->name;
  return "no answer";
}
}  // namespace

void MutterIdleMonitor::Slot::reset() { slot = sd_bus_slot_unref(slot); }

MutterIdleMonitor::MutterIdleMonitor(sd_bus* sessionBus, MainLoop& loop) : bus_(sessionBus), loop_(loop) {
  if (!bus_) return;
  const std::string ownerRule = std::string("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                                            "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
                                kService + "'";
  int r = sd_bus_add_match(
      bus_, ownerMatch_.out(), ownerRule.c_str(),
      [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
        const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
        if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0)
          static_cast<MutterIdleMonitor*>(self)->ownerChanged(newOwner && *newOwner);
        return 0;
      },
      this);
  const std::string watchRule = std::string("type='signal',sender='") + kService + "',path='" + kPath +
                                "',interface='" + kInterface + "',member='WatchFired'";
  if (r >= 0)
    r = sd_bus_add_match(
        bus_, watchMatch_.out(), watchRule.c_str(),
        [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
          std::uint32_t id = 0;
          if (sd_bus_message_read(message, "u", &id) >= 0) static_cast<MutterIdleMonitor*>(self)->watchFired(id);
          return 0;
        },
        this);
  if (r < 0) {
    AppLog::app.error(std::string("Cannot watch GNOME's idle monitor: ") + std::strerror(-r));
    return;
  }

  // One blocking round trip at start, so the binding knows at once whether GNOME answers.
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  r = sd_bus_message_new_method_call(bus_, &call, kService, kPath, kInterface, "GetIdletime");
  if (r >= 0) r = sd_bus_call(bus_, call, kFirstAnswerTimeoutMicroseconds, &error, &reply);
  if (r >= 0)
    takeIdletime(reply);
  else
    AppLog::app.log(std::string("GNOME's idle monitor does not answer: ") +
                    (error.message ? error.message : std::strerror(-r)));
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
}

MutterIdleMonitor::~MutterIdleMonitor() {
  // Watches die with the connection too; removing them keeps a long-lived bus clean.
  for (const std::uint32_t id : {idleWatchId_, activeWatchId_, reachWatchId_})
    if (id != 0) sd_bus_call_method_async(bus_, nullptr, kService, kPath, kInterface, "RemoveWatch", nullptr, nullptr, "u", id);
}

std::optional<double> MutterIdleMonitor::idleSeconds() {
  if (!available_) return std::nullopt;
  if (active_) return 0;
  return std::max(0.0, loop_.uptime() - idleSince_);
}

ScheduledWork MutterIdleMonitor::whenIdleReaches(double seconds, std::function<void()> reached) {
  auto handle = reach_.arm(std::move(reached));
  reachSeconds_ = seconds;
  removeReachWatch();
  if (!available_) return handle;
  // Mutter fires a watch when the idle time crosses its length, never for one already passed.
  if (idleSeconds().value_or(0) >= seconds)
    reachDelivery_ = loop_.post([this] { reach_.fire(); });
  else
    addReachWatch();
  return handle;
}

ScheduledWork MutterIdleMonitor::whenUserReturns(std::function<void()> back) {
  auto handle = back_.arm(std::move(back));
  // While input goes on there is no user-active watch: the user is here already.
  if (available_ && active_) backDelivery_ = loop_.post([this] { back_.fire(); });
  return handle;
}

void MutterIdleMonitor::addReachWatch() {
  const auto interval = static_cast<std::uint64_t>(std::max(1.0, reachSeconds_ * 1000));
  const int r = sd_bus_call_method_async(
      bus_, reachWatchCall_.out(), kService, kPath, kInterface, "AddIdleWatch",
      [](sd_bus_message* reply, void* self, sd_bus_error*) -> int {
        auto& monitor = *static_cast<MutterIdleMonitor*>(self);
        monitor.reachWatchCall_.reset();
        if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "u", &monitor.reachWatchId_) < 0)
          AppLog::app.error("GNOME's idle monitor refused an idle watch: " + replyError(reply));
        return 0;
      },
      this, "t", interval);
  if (r < 0) AppLog::app.error(std::string("Cannot add an idle watch: ") + std::strerror(-r));
}

void MutterIdleMonitor::removeReachWatch() {
  reachWatchCall_.reset();
  if (reachWatchId_ != 0 && available_)
    sd_bus_call_method_async(bus_, nullptr, kService, kPath, kInterface, "RemoveWatch", nullptr, nullptr, "u",
                             reachWatchId_);
  reachWatchId_ = 0;
}

void MutterIdleMonitor::takeIdletime(sd_bus_message* reply) {
  std::uint64_t milliseconds = 0;
  if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "t", &milliseconds) < 0) {
    AppLog::app.error("GNOME's idle monitor gave no idle time: " + replyError(reply));
    return;
  }
  const bool first = !available_;
  idleSince_ = loop_.uptime() - static_cast<double>(milliseconds) / 1000;
  active_ = false;
  available_ = true;
  if (first) AppLog::app.log("Idle time and input come from GNOME's idle monitor");
  if (idleWatchId_ == 0) addIdleWatch();
  if (activeWatchId_ == 0) addUserActiveWatch();
  if (reach_.isArmed() && reachWatchId_ == 0 && !reachWatchCall_.slot) addReachWatch();
  if (first) changed.emit();
}

void MutterIdleMonitor::queryIdletime() {
  const int r = sd_bus_call_method_async(
      bus_, idletimeCall_.out(), kService, kPath, kInterface, "GetIdletime",
      [](sd_bus_message* reply, void* self, sd_bus_error*) -> int {
        auto& monitor = *static_cast<MutterIdleMonitor*>(self);
        monitor.idletimeCall_.reset();
        monitor.takeIdletime(reply);
        return 0;
      },
      this, "");
  if (r < 0) AppLog::app.error(std::string("Cannot ask GNOME's idle monitor: ") + std::strerror(-r));
}

void MutterIdleMonitor::addIdleWatch() {
  const auto interval = static_cast<std::uint64_t>(kIdleWatchSeconds * 1000);
  const int r = sd_bus_call_method_async(
      bus_, idleWatchCall_.out(), kService, kPath, kInterface, "AddIdleWatch",
      [](sd_bus_message* reply, void* self, sd_bus_error*) -> int {
        auto& monitor = *static_cast<MutterIdleMonitor*>(self);
        monitor.idleWatchCall_.reset();
        if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "u", &monitor.idleWatchId_) < 0) {
          // Without it the idle time would grow under a typing user's hands.
          AppLog::app.error("GNOME's idle monitor refused an idle watch: " + replyError(reply));
          monitor.forget();
        }
        return 0;
      },
      this, "t", interval);
  if (r < 0) {
    AppLog::app.error(std::string("Cannot add an idle watch: ") + std::strerror(-r));
    forget();
  }
}

void MutterIdleMonitor::addUserActiveWatch() {
  const int r = sd_bus_call_method_async(
      bus_, activeWatchCall_.out(), kService, kPath, kInterface, "AddUserActiveWatch",
      [](sd_bus_message* reply, void* self, sd_bus_error*) -> int {
        auto& monitor = *static_cast<MutterIdleMonitor*>(self);
        monitor.activeWatchCall_.reset();
        if (sd_bus_message_is_method_error(reply, nullptr) ||
            sd_bus_message_read(reply, "u", &monitor.activeWatchId_) < 0) {
          AppLog::app.error("GNOME's idle monitor refused a user-active watch: " + replyError(reply));
          monitor.forget();
        }
        return 0;
      },
      this, "");
  if (r < 0) {
    AppLog::app.error(std::string("Cannot add a user-active watch: ") + std::strerror(-r));
    forget();
  }
}

void MutterIdleMonitor::watchFired(std::uint32_t id) {
  if (!available_ || id == 0) return;
  if (id == reachWatchId_) {
    removeReachWatch();
    reachDelivery_ = loop_.post([this] { reach_.fire(); });
  } else if (id == idleWatchId_) {
    // Input stopped kIdleWatchSeconds ago; the next input is to be heard of.
    idleSince_ = loop_.uptime() - kIdleWatchSeconds;
    active_ = false;
    if (activeWatchId_ == 0 && !activeWatchCall_.slot) addUserActiveWatch();
  } else if (id == activeWatchId_) {
    // Mutter removes a user-active watch once it has fired.
    activeWatchId_ = 0;
    active_ = true;
    idleSince_ = loop_.uptime();
    if (back_.isArmed()) backDelivery_ = loop_.post([this] { back_.fire(); });
  }
}

void MutterIdleMonitor::ownerChanged(bool present) {
  // A new owner (GNOME Shell restarted) knows none of the old watches.
  const bool wasAvailable = available_;
  forget();
  if (present) {
    queryIdletime();
  } else if (wasAvailable) {
    AppLog::app.error("GNOME's idle monitor left the session bus");
  }
}

void MutterIdleMonitor::forget() {
  const bool wasAvailable = available_;
  available_ = false;
  active_ = false;
  idleWatchId_ = 0;
  activeWatchId_ = 0;
  idletimeCall_.reset();
  idleWatchCall_.reset();
  activeWatchCall_.reset();
  reachWatchCall_.reset();
  reachWatchId_ = 0;
  if (wasAvailable) changed.emit();
}
