// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A client of the test's private session bus for calling the program's
// methods, reading its properties and collecting its change signals.
#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../linux/SessionBusTestSupport.hpp"

inline constexpr const char* kDimmoraBusName = "io.github.dimmora.Dimmora";
inline constexpr const char* kDimmoraObjectPath = "/io/github/dimmora/Dimmora";

// One client connection. Everything is synchronous; signals are collected
// while the connection is pumped (every call pumps too).
class BusClient {
 public:
  struct Changed {
    std::chrono::steady_clock::time_point at;
    std::map<std::string, double> numbers;  // the changed properties of type d or t
    std::vector<std::string> names;
  };
  struct Result {
    bool ok = false;
    std::string errorName;
    std::string errorMessage;
  };

  explicit BusClient(const std::string& address) : connection_(address), bus_(connection_.get()) {}
  ~BusClient() { sd_bus_slot_unref(match_); }
  bool isConnected() const { return bus_ != nullptr; }
  bool hasOwner(const std::string& name) { return DBusSession::nameHasOwner(bus_, name.c_str()); }

  // `append` adds the arguments; none by default. An empty `interface` leaves the field out.
  Result call(const std::string& destination, const std::string& path, const std::string& interface,
              const std::string& method, const std::function<int(sd_bus_message*)>& append = {}) {
    Result result;
    sd_bus_message* message = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus_, &message, destination.c_str(), path.c_str(),
                                           interface.empty() ? nullptr : interface.c_str(), method.c_str());
    if (r >= 0 && append) r = append(message);
    if (r >= 0) r = sd_bus_call(bus_, message, 5'000'000, &error, &reply);
    result.ok = r >= 0;
    if (error.name) result.errorName = error.name;
    if (error.message) result.errorMessage = error.message;
    sd_bus_error_free(&error);
    sd_bus_message_unref(message);
    sd_bus_message_unref(reply);
    pump(std::chrono::milliseconds(0));
    return result;
  }

  std::optional<double> number(const std::string& destination, const std::string& path, const std::string& interface,
                               const std::string& property) {
    sd_bus_message* reply = nullptr;
    std::optional<double> value;
    if (sd_bus_call_method(bus_, destination.c_str(), path.c_str(), "org.freedesktop.DBus.Properties", "Get", nullptr,
                           &reply, "ss", interface.c_str(), property.c_str()) >= 0)
      value = readNumber(reply);
    sd_bus_message_unref(reply);
    return value;
  }

  // The raw reply of a property read, for containers; the caller unrefs it.
  sd_bus_message* property(const std::string& destination, const std::string& path, const std::string& interface,
                           const std::string& property, const char* type) {
    sd_bus_message* reply = nullptr;
    if (sd_bus_get_property(bus_, destination.c_str(), path.c_str(), interface.c_str(), property.c_str(), nullptr,
                            &reply, type) < 0)
      return nullptr;
    return reply;
  }

  // A method of the program's own interface.
  Result callDimmora(const std::string& method, const std::function<int(sd_bus_message*)>& append = {}) {
    return call(kDimmoraBusName, kDimmoraObjectPath, kDimmoraBusName, method, append);
  }

  // The control status the program's Displays property gives `output`; "" when it lists no such display.
  std::string displayStatus(std::uint32_t output) {
    sd_bus_message* displays = property(kDimmoraBusName, kDimmoraObjectPath, kDimmoraBusName, "Displays", "a(ussb)");
    std::string found;
    std::uint32_t id = 0;
    const char* name = nullptr;
    const char* status = nullptr;
    int selected = 0;
    if (displays && sd_bus_message_enter_container(displays, 'a', "(ussb)") >= 0)
      while (sd_bus_message_read(displays, "(ussb)", &id, &name, &status, &selected) > 0)
        if (id == output) found = status;
    sd_bus_message_unref(displays);
    return found;
  }

  void watchPropertiesChanged(const std::string& sender, const std::string& path) {
    sd_bus_match_signal(
        bus_, &match_, sender.c_str(), path.c_str(), "org.freedesktop.DBus.Properties", "PropertiesChanged",
        [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
          static_cast<BusClient*>(self)->collect(message);
          return 0;
        },
        this);
  }

  // Handles what arrives for `duration`, or until `done` holds.
  bool pump(std::chrono::milliseconds duration, const std::function<bool()>& done = {}) {
    const bool finished = pumpBuses({bus_}, done ? done : [] { return false; },
                                    std::chrono::duration<double>(duration).count());
    return done ? finished : true;
  }

  std::vector<Changed> changes;

 private:
  static std::optional<double> readNumber(sd_bus_message* message) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) < 0) return std::nullopt;
    if (type == 'v') {
      if (sd_bus_message_enter_container(message, 'v', contents) < 0) return std::nullopt;
      auto value = readNumber(message);
      sd_bus_message_exit_container(message);
      return value;
    }
    if (type == 'd') {
      double d = 0;
      if (sd_bus_message_read_basic(message, 'd', &d) >= 0) return d;
    } else if (type == 't') {
      std::uint64_t t = 0;
      if (sd_bus_message_read_basic(message, 't', &t) >= 0) return static_cast<double>(t);
    } else if (type == 'u') {
      std::uint32_t u = 0;
      if (sd_bus_message_read_basic(message, 'u', &u) >= 0) return u;
    } else {
      sd_bus_message_skip(message, nullptr);
    }
    return std::nullopt;
  }
  void collect(sd_bus_message* message) {
    Changed changed{std::chrono::steady_clock::now(), {}, {}};
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0) return;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) return;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
      const char* name = nullptr;
      sd_bus_message_read(message, "s", &name);
      changed.names.push_back(name);
      if (auto value = readNumber(message)) changed.numbers[name] = *value;
      sd_bus_message_exit_container(message);
    }
    changes.push_back(std::move(changed));
  }

  BusConnection connection_;
  sd_bus* bus_;
  sd_bus_slot* match_ = nullptr;
};
