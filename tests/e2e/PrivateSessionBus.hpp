#pragma once

// A dbus-daemon of the test's own, and a client connection to it for calling
// methods, reading properties and collecting signals.
#include <signal.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.hpp"

class PrivateSessionBus {
 public:
  // Listens on a socket inside `tree`; no service activation, so nothing but
  // what the test starts can appear on it.
  explicit PrivateSessionBus(const TempTree& tree) {
    const auto socket = tree.path("session-bus");
    address = "unix:path=" + socket.string();
    const auto config = tree.write("session-bus.conf", R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>)" + address + R"(</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
    const auto pid = run("dbus-daemon --config-file=" + config.string() + " --fork --print-pid");
    if (!pid.empty()) pid_ = std::stoi(pid);
    waitFor([&] { return std::filesystem::exists(socket); }, 5s);
  }
  ~PrivateSessionBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  bool isRunning() const { return pid_ > 0; }
  std::string environment() const { return "DBUS_SESSION_BUS_ADDRESS=" + address; }

  std::string address;

 private:
  int pid_ = -1;
};

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

  explicit BusClient(const std::string& address) {
    if (sd_bus_new(&bus_) < 0) return;
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    if (sd_bus_start(bus_) < 0) bus_ = sd_bus_unref(bus_);
  }
  ~BusClient() {
    sd_bus_slot_unref(match_);
    sd_bus_flush_close_unref(bus_);
  }
  bool isConnected() const { return bus_ != nullptr; }

  bool hasOwner(const std::string& name) {
    int owned = 0;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &reply, "s", name.c_str()) >= 0)
      sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    return owned != 0;
  }

  // `append` adds the arguments; none by default.
  Result call(const std::string& destination, const std::string& path, const std::string& interface,
              const std::string& method, const std::function<int(sd_bus_message*)>& append = {}) {
    Result result;
    sd_bus_message* message = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus_, &message, destination.c_str(), path.c_str(), interface.c_str(),
                                           method.c_str());
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
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      if (done && done()) return true;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return done ? done() : true;
      sd_bus_wait(bus_, std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count());
    }
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

  sd_bus* bus_ = nullptr;
  sd_bus_slot* match_ = nullptr;
};
