// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/RemoteControlService.hpp"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/DBusSession.hpp"
#include "services/AppLog.hpp"

namespace {
RemoteControl& controlOf(void* userdata) { return *static_cast<RemoteControl*>(userdata); }

int replyEmpty(sd_bus_message* message) { return sd_bus_reply_method_return(message, ""); }

int increaseMaster(sd_bus_message* message, void* userdata, sd_bus_error*) {
  controlOf(userdata).increaseMaster();
  return replyEmpty(message);
}
int decreaseMaster(sd_bus_message* message, void* userdata, sd_bus_error*) {
  controlOf(userdata).decreaseMaster();
  return replyEmpty(message);
}
int restoreMaximum(sd_bus_message* message, void* userdata, sd_bus_error*) {
  controlOf(userdata).restoreMaximum();
  return replyEmpty(message);
}
int pause(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  double minutes = 0;
  const int r = sd_bus_message_read(message, "d", &minutes);
  if (r < 0) return r;
  if (const auto refusal = controlOf(userdata).pause(minutes))
    return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, refusal->c_str());
  return replyEmpty(message);
}
int resume(sd_bus_message* message, void* userdata, sd_bus_error*) {
  controlOf(userdata).resume();
  return replyEmpty(message);
}
int showWindow(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  if (!controlOf(userdata).showWindow())
    return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, "Dimmora has no window to show yet");
  return replyEmpty(message);
}

int getMasterPercent(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                     sd_bus_error*) {
  return sd_bus_message_append(reply, "d", controlOf(userdata).masterPercent());
}
int getCurrentPercent(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                      sd_bus_error*) {
  return sd_bus_message_append(reply, "d", controlOf(userdata).currentPercent());
}
int getIdleSeconds(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                   sd_bus_error*) {
  return sd_bus_message_append(reply, "u", controlOf(userdata).idleSeconds());
}
int getPausedUntil(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                   sd_bus_error*) {
  return sd_bus_message_append(reply, "t", controlOf(userdata).pausedUntil());
}
int getDisplays(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                sd_bus_error*) {
  int r = sd_bus_message_open_container(reply, SD_BUS_TYPE_ARRAY, "(ussb)");
  for (const auto& display : controlOf(userdata).displays()) {
    if (r < 0) return r;
    r = sd_bus_message_append(reply, "(ussb)", display.id, display.name.c_str(), display.controlStatus.c_str(),
                              static_cast<int>(display.selected));
  }
  if (r < 0) return r;
  return sd_bus_message_close_container(reply);
}

// IdleSeconds changes every second: it is read on demand and never signalled.
const sd_bus_vtable kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("IncreaseMaster", "", "", increaseMaster, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("DecreaseMaster", "", "", decreaseMaster, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("RestoreMaximum", "", "", restoreMaximum, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Pause", "d", SD_BUS_PARAM(minutes), "", , pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Resume", "", "", resume, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ShowWindow", "", "", showWindow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("MasterPercent", "d", getMasterPercent, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("CurrentPercent", "d", getCurrentPercent, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("IdleSeconds", "u", getIdleSeconds, 0, 0),
    SD_BUS_PROPERTY("PausedUntil", "t", getPausedUntil, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Displays", "a(ussb)", getDisplays, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

// The interface field of a call is optional, and sd-bus answers a call
// without one "Unknown object". On our object the member alone names the
// method; its signature is checked as sd-bus checks a call that names the interface.
int dispatchWithoutInterface(sd_bus_message* message, void* userdata, sd_bus_error* error) {
  if (!sd_bus_message_is_method_call(message, nullptr, nullptr) || sd_bus_message_get_interface(message)) return 0;
  const char* member = sd_bus_message_get_member(message);
  for (const sd_bus_vtable& entry : kVTable) {
    if (entry.type != _SD_BUS_VTABLE_METHOD || std::strcmp(entry.x.method.member, member) != 0) continue;
    if (!sd_bus_message_has_signature(message, entry.x.method.signature))
      return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "Invalid arguments '%s' to call %s(), expecting '%s'.",
                               sd_bus_message_get_signature(message, true), member, entry.x.method.signature);
    return entry.x.method.handler(message, userdata, error);
  }
  return sd_bus_error_setf(error, SD_BUS_ERROR_UNKNOWN_METHOD, "Unknown method %s: the call names no interface",
                           member);
}

struct NamedProperty {
  RemoteControl::Property property;
  const char* name;
};
constexpr NamedProperty kSignalledProperties[] = {
    {RemoteControl::Property::masterPercent, "MasterPercent"},
    {RemoteControl::Property::currentPercent, "CurrentPercent"},
    {RemoteControl::Property::pausedUntil, "PausedUntil"},
    {RemoteControl::Property::displays, "Displays"},
};
}  // namespace

RemoteControlService::RemoteControlService(sd_bus* bus, RemoteControl& control) : bus_(bus), control_(control) {
  if (!bus_) {
    AppLog::app.error("No session bus: the D-Bus interface is unavailable");
    return;
  }
  int r = sd_bus_add_object_vtable(bus_, &object_, objectPath, interfaceName, kVTable, &control_);
  if (r < 0) {
    AppLog::app.error(std::string("Cannot export the D-Bus interface: ") + std::strerror(-r));
    return;
  }
  r = sd_bus_add_object(bus_, &withoutInterface_, objectPath, dispatchWithoutInterface, &control_);
  if (r < 0) {
    AppLog::app.error(std::string("Cannot export the D-Bus interface: ") + std::strerror(-r));
    return;
  }
  r = sd_bus_request_name(bus_, busName, 0);
  if (r < 0) {
    AppLog::app.error(std::string("Cannot take the D-Bus name ") + busName + ": " + std::strerror(-r));
    return;
  }
  available_ = true;
  changes_ = control_.propertiesChanged.connect([this](const RemoteControl::Properties& changed) {
    emitChanges(changed);
  });
}

RemoteControlService::~RemoteControlService() {
  if (available_) sd_bus_release_name(bus_, busName);
  sd_bus_slot_unref(withoutInterface_);
  sd_bus_slot_unref(object_);
}

void RemoteControlService::emitChanges(RemoteControl::Properties changed) {
  std::vector<char*> names;
  for (const auto& [property, name] : kSignalledProperties)
    if (changed & static_cast<unsigned>(property)) names.push_back(const_cast<char*>(name));
  if (names.empty()) return;
  names.push_back(nullptr);
  const int r = sd_bus_emit_properties_changed_strv(bus_, objectPath, interfaceName, names.data());
  if (r < 0) AppLog::app.error(std::string("Cannot signal D-Bus property changes: ") + std::strerror(-r));
}

bool RemoteControlService::askRunningInstanceToShowWindow(double patienceSeconds, std::string& error) {
  sd_bus* bus = nullptr;
  int r = sd_bus_open_user(&bus);
  if (r < 0) {
    error = std::string("no session bus (") + std::strerror(-r) + ")";
    return false;
  }
  // The running instance may still be starting and not own its name yet.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(patienceSeconds);
  for (;;) {
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    r = sd_bus_call_method(bus, busName, objectPath, interfaceName, "ShowWindow", &busError, nullptr, "");
    const bool notYet = r < 0 && sd_bus_error_has_name(&busError, SD_BUS_ERROR_SERVICE_UNKNOWN);
    if (r < 0) error = busError.message ? busError.message : std::strerror(-r);
    sd_bus_error_free(&busError);
    if (!notYet || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  sd_bus_flush_close_unref(bus);
  return r >= 0;
}

bool RemoteControlService::isOwnedElsewhere() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  const bool owned = DBusSession::nameHasOwner(bus, busName);
  sd_bus_flush_close_unref(bus);
  return owned;
}
