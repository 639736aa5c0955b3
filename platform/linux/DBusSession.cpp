// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DBusSession.hpp"

#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/linux/LinuxEnvironment.hpp"
#include "services/AppLog.hpp"

namespace {
sd_bus* openBus(const std::string& address, bool system) {
  sd_bus* bus = nullptr;
  int r = 0;
  if (address.empty()) {
    r = system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
  } else {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  }
  if (r < 0) {
    sd_bus_unref(bus);
    AppLog::app.log(std::string(system ? "System" : "Session") + " D-Bus unavailable: " + std::strerror(-r));
    return nullptr;
  }
  return bus;
}

std::string errorText(const sd_bus_error& error, int r) {
  if (error.message) return error.message;
  if (error.name) return error.name;
  return std::strerror(-r);
}
}  // namespace

bool DBusSession::changesProperty(sd_bus_message* message, const char* interface, std::string_view property) {
  const char* name = nullptr;
  if (sd_bus_message_read(message, "s", &name) < 0 || std::string_view(name) != interface) return false;
  if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0) return false;
  while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
    if (sd_bus_message_read(message, "s", &name) < 0) return false;
    if (name == property) return true;
    if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0) return false;
  }
  if (sd_bus_message_exit_container(message) < 0) return false;
  char** invalidated = nullptr;
  if (sd_bus_message_read_strv(message, &invalidated) < 0) return false;
  bool named = false;
  for (char** item = invalidated; item && *item; ++item) {
    named = named || *item == property;
    std::free(*item);
  }
  std::free(invalidated);
  return named;
}

bool DBusSession::preventAutolaunch(const LinuxEnvironment& environment) {
  if (environment.variable("DBUS_SESSION_BUS_ADDRESS")) return false;
  const auto socket = environment.runtimeDirectory().value_or("/run/user/" + std::to_string(getuid())) / "bus";
  struct stat info {};
  if (::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return false;
  AppLog::app.log("No session D-Bus: features that need one stay off");
  return ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1) == 0;
}

DBusSession::DBusSession(std::string systemAddress, std::string sessionAddress)
    : system_(openBus(systemAddress, true)), session_(openBus(sessionAddress, false)) {
  const auto watch = [this](sd_bus* bus, const char* sender, const char* path, const char* interface,
                            const char* member, sd_bus_message_handler_t handler) {
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_match_signal(bus, &slot, sender, path, interface, member, handler, this);
    if (r < 0) AppLog::app.error(std::string("Cannot watch ") + sender + " " + member + ": " + std::strerror(-r));
    else matches_.push_back(slot);
  };
  const auto announceInhibitors = [](sd_bus_message*, void* self, sd_bus_error*) -> int {
    static_cast<DBusSession*>(self)->inhibitorsChanged.emit();
    return 0;
  };
  if (system_) {
    watch(system_, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
          "PrepareForSleep", [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
            int sleeping = 0;
            if (sd_bus_message_read(message, "b", &sleeping) >= 0)
              static_cast<DBusSession*>(self)->prepareForSleep.emit(sleeping != 0);
            return 0;
          });
    // logind announces each blocking inhibitor taken or let go as a change of BlockInhibited.
    watch(system_, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Properties",
          "PropertiesChanged", [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
            if (DBusSession::changesProperty(message, "org.freedesktop.login1.Manager", "BlockInhibited"))
              static_cast<DBusSession*>(self)->inhibitorsChanged.emit();
            return 0;
          });
  }
  if (session_) {
    for (const char* member : {"InhibitorAdded", "InhibitorRemoved"})
      watch(session_, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager", member,
            announceInhibitors);
  }
}

DBusSession::~DBusSession() {
  for (sd_bus_slot* slot : matches_) sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(system_);
  sd_bus_flush_close_unref(session_);
}

int DBusSession::setBrightness(const std::string& subsystem, const std::string& device, std::uint32_t value,
                               std::string* error) {
  if (!system_) {
    if (error) *error = "no system bus";
    return -ENOTCONN;
  }
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int r = sd_bus_call_method(system_, "org.freedesktop.login1", "/org/freedesktop/login1/session/auto",
                                   "org.freedesktop.login1.Session", "SetBrightness", &busError, &reply, "ssu",
                                   subsystem.c_str(), device.c_str(), value);
  if (r < 0 && error) *error = errorText(busError, r);
  sd_bus_error_free(&busError);
  sd_bus_message_unref(reply);
  return r < 0 ? r : 0;
}

bool DBusSession::nameHasOwner(sd_bus* bus, const char* name) {
  if (!bus) return false;
  sd_bus_message* reply = nullptr;
  int owned = 0;
  int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "NameHasOwner", nullptr, &reply, "s", name);
  if (r >= 0) r = sd_bus_message_read(reply, "b", &owned);
  sd_bus_message_unref(reply);
  return r >= 0 && owned;
}

bool DBusSession::hasLogind() const { return nameHasOwner(system_, "org.freedesktop.login1"); }
bool DBusSession::hasGnomeSessionManager() const { return nameHasOwner(session_, "org.gnome.SessionManager"); }

std::optional<std::vector<LogindInhibitor>> DBusSession::listInhibitors() {
  if (!system_) return std::nullopt;
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(system_, "org.freedesktop.login1", "/org/freedesktop/login1",
                             "org.freedesktop.login1.Manager", "ListInhibitors", &busError, &reply, "");
  sd_bus_error_free(&busError);
  std::optional<std::vector<LogindInhibitor>> result;
  if (r >= 0) r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssuu)");
  if (r >= 0) {
    std::vector<LogindInhibitor> list;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    LogindInhibitor entry;
    while ((r = sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &entry.uid, &entry.pid)) > 0) {
      entry.what = what;
      entry.who = who;
      entry.why = why;
      entry.mode = mode;
      list.push_back(entry);
    }
    if (r >= 0) result = std::move(list);
  }
  sd_bus_message_unref(reply);
  return result;
}

std::optional<bool> DBusSession::gnomeIsInhibited(std::uint32_t flags) {
  if (!session_) return std::nullopt;
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(session_, "org.gnome.SessionManager", "/org/gnome/SessionManager",
                             "org.gnome.SessionManager", "IsInhibited", &busError, &reply, "u", flags);
  sd_bus_error_free(&busError);
  int inhibited = 0;
  if (r >= 0) r = sd_bus_message_read(reply, "b", &inhibited);
  sd_bus_message_unref(reply);
  if (r < 0) return std::nullopt;
  return inhibited != 0;
}

bool DBusSession::showItemInFileManager(const std::string& uri) {
  if (!session_) return false;
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_message_new_method_call(session_, &call, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                         "org.freedesktop.FileManager1", "ShowItems");
  if (r >= 0) r = sd_bus_message_append_strv(call, std::vector<char*>{const_cast<char*>(uri.c_str()), nullptr}.data());
  if (r >= 0) r = sd_bus_message_append(call, "s", "");
  if (r >= 0) r = sd_bus_call(session_, call, 0, &busError, &reply);
  sd_bus_error_free(&busError);
  sd_bus_message_unref(call);
  sd_bus_message_unref(reply);
  return r >= 0;
}

std::vector<int> DBusSession::fileDescriptors() const {
  std::vector<int> fds;
  for (sd_bus* bus : {system_, session_})
    if (bus) fds.push_back(sd_bus_get_fd(bus));
  return fds;
}

void DBusSession::process() {
  for (sd_bus* bus : {system_, session_}) {
    if (!bus) continue;
    while (sd_bus_process(bus, nullptr) > 0) {
    }
  }
}

bool DBusSession::hasQueuedMessages() const {
  for (sd_bus* bus : {system_, session_}) {
    std::uint64_t due = 0;
    // A timeout of zero means "dispatch now": something is already queued.
    if (bus && sd_bus_get_timeout(bus, &due) >= 0 && due == 0) return true;
  }
  return false;
}
