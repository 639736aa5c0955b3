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

MutterIdleMonitor::MutterIdleMonitor(sd_bus* sessionBus, const MainLoop& loop) : bus_(sessionBus), loop_(loop) {
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
  for (const std::uint32_t id : {idleWatchId_, activeWatchId_})
    if (id != 0) sd_bus_call_method_async(bus_, nullptr, kService, kPath, kInterface, "RemoveWatch", nullptr, nullptr, "u", id);
}

std::optional<double> MutterIdleMonitor::secondsSinceLastEvent(InputEventType) const {
  if (!available_) return std::nullopt;
  if (active_) return 0;
  return std::max(0.0, loop_.uptime() - idleSince_);
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
  if (id == idleWatchId_) {
    // Input stopped kIdleWatchSeconds ago; the next input is to be heard of.
    idleSince_ = loop_.uptime() - kIdleWatchSeconds;
    active_ = false;
    if (activeWatchId_ == 0 && !activeWatchCall_.slot) addUserActiveWatch();
  } else if (id == activeWatchId_) {
    // Mutter removes a user-active watch once it has fired.
    activeWatchId_ = 0;
    active_ = true;
    idleSince_ = loop_.uptime();
    userActive.emit();
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
  available_ = false;
  active_ = false;
  idleWatchId_ = 0;
  activeWatchId_ = 0;
  idletimeCall_.reset();
  idleWatchCall_.reset();
  activeWatchCall_.reset();
}
