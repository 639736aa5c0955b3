// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/KdeScreenBrightness.hpp"

#include <systemd/sd-bus.h>

#include <cstring>
#include <string>

#include "platform/linux/DBusSession.hpp"
#include "services/AppLog.hpp"

namespace {
constexpr const char* kRootPath = "/org/kde/ScreenBrightness";
constexpr const char* kRootInterface = "org.kde.ScreenBrightness";
constexpr const char* kDisplayInterface = "org.kde.ScreenBrightness.Display";
constexpr std::uint32_t kSuppressIndicator = 0x1;

std::string displayPath(const std::string& name) { return std::string(kRootPath) + "/" + name; }

std::string replyError(sd_bus_message* reply) {
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  if (error && error->message) return error->message;
  if (error && error->name) return error->name;
  return "no answer";
}

// The strings of DisplaysDBusNames's variant.
bool readNames(sd_bus_message* reply, std::vector<std::string>& names) {
  if (sd_bus_message_enter_container(reply, 'v', "as") < 0 || sd_bus_message_enter_container(reply, 'a', "s") < 0)
    return false;
  const char* name = nullptr;
  int r = 0;
  while ((r = sd_bus_message_read(reply, "s", &name)) > 0) names.emplace_back(name);
  return r >= 0;
}

// One display's properties from GetAll; false when one of them is missing or mistyped.
bool readProperties(sd_bus_message* reply, DesktopBrightness::Display& display) {
  if (sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) return false;
  int seen = 0;
  while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(reply, "s", &key) < 0) return false;
    const auto number = [&](std::uint32_t& into) {
      std::int32_t value = 0;
      if (sd_bus_message_read(reply, "v", "i", &value) < 0 || value < 0) return false;
      into = static_cast<std::uint32_t>(value);
      return true;
    };
    bool ok = true;
    if (std::strcmp(key, "Label") == 0) {
      const char* label = nullptr;
      ok = sd_bus_message_read(reply, "v", "s", &label) >= 0;
      if (ok) display.label = label;
    } else if (std::strcmp(key, "IsInternal") == 0) {
      int internal = 0;
      ok = sd_bus_message_read(reply, "v", "b", &internal) >= 0;
      display.internal = internal != 0;
    } else if (std::strcmp(key, "MaxBrightness") == 0) {
      ok = number(display.maximum);
    } else if (std::strcmp(key, "Brightness") == 0) {
      ok = number(display.level);
    } else {
      ok = sd_bus_message_skip(reply, "v") >= 0;
      --seen;
    }
    if (!ok || sd_bus_message_exit_container(reply) < 0) return false;
    ++seen;
  }
  return seen == 4;
}

std::string describe(const std::vector<DesktopBrightness::Display>& displays) {
  std::string text;
  for (const auto& d : displays)
    text += (text.empty() ? "" : ", ") + d.name + " \"" + d.label + "\" (" + (d.internal ? "built-in" : "external") +
            ", " + std::to_string(d.level) + "/" + std::to_string(d.maximum) + ")";
  return text;
}
}  // namespace

// The names listed, then each display's properties, one call at a time.
// Dropping it cancels the call under way.
struct KdeScreenBrightness::Reading {
  explicit Reading(KdeScreenBrightness* reader) : owner(reader) {}
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
  KdeScreenBrightness* owner;
  std::vector<std::string> names;
  std::vector<Display> found;
  std::size_t next = 0;  // the name whose display is read next
  sd_bus_slot* call = nullptr;
  ~Reading() { sd_bus_slot_unref(call); }
};

KdeScreenBrightness::KdeScreenBrightness(sd_bus* sessionBus, MainLoop& loop) : bus_(sessionBus), loop_(loop) {
  if (!bus_) return;
  struct Match {
    std::string rule;
    sd_bus_message_handler_t handler;
  };
  const std::string signal = std::string("type='signal',sender='") + kService + "',path='" + kRootPath +
                             "',interface='" + kRootInterface + "',member=";
  const Match matches[] = {
      {std::string("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',interface='org.freedesktop."
                   "DBus',member='NameOwnerChanged',arg0='") + kService + "'",
       [](sd_bus_message*, void* self, sd_bus_error*) { return static_cast<KdeScreenBrightness*>(self)->read(), 0; }},
      {signal + "'DisplayAdded'",
       [](sd_bus_message*, void* self, sd_bus_error*) { return static_cast<KdeScreenBrightness*>(self)->read(), 0; }},
      {signal + "'DisplayRemoved'",
       [](sd_bus_message*, void* self, sd_bus_error*) { return static_cast<KdeScreenBrightness*>(self)->read(), 0; }},
      {signal + "'BrightnessChanged'",
       [](sd_bus_message* m, void* self, sd_bus_error*) {
         return static_cast<KdeScreenBrightness*>(self)->levelChanged(m), 0;
       }},
      {signal + "'BrightnessRangeChanged'",
       [](sd_bus_message* m, void* self, sd_bus_error*) {
         return static_cast<KdeScreenBrightness*>(self)->rangeChanged(m), 0;
       }},
  };
  for (const auto& match : matches) {
    sd_bus_slot* slot = nullptr;
    if (const int r = sd_bus_add_match(bus_, &slot, match.rule.c_str(), match.handler, this); r < 0) {
      AppLog::app.error(std::string("Cannot follow KDE's brightness service: ") + std::strerror(-r));
      return;
    }
    matches_.push_back(slot);
  }
  if (DBusSession::nameHasOwner(bus_, kService)) {
    read();
    const double deadline = loop_.uptime() + kFirstReadSeconds;
    while (!read_ && loop_.uptime() < deadline) {
      const int r = sd_bus_process(bus_, nullptr);
      if (r < 0) break;
      if (r == 0) sd_bus_wait(bus_, static_cast<std::uint64_t>((deadline - loop_.uptime()) * 1e6) + 1);
    }
    if (!read_)
      AppLog::app.error("KDE's brightness service did not answer within a second: its displays are driven directly "
                        "until it does");
  }
  // From now on the displays may have been looked at: what the service offers later is a change.
  announcing_ = true;
}

KdeScreenBrightness::~KdeScreenBrightness() {
  reading_.reset();
  for (sd_bus_slot* slot : matches_) sd_bus_slot_unref(slot);
}

void KdeScreenBrightness::read() {
  reading_ = std::make_unique<Reading>(this);
  const int r = sd_bus_call_method_async(
      bus_, &reading_->call, kService, kRootPath, "org.freedesktop.DBus.Properties", "Get",
      [](sd_bus_message* reply, void* data, sd_bus_error*) -> int {
        auto& reading = *static_cast<Reading*>(data);
        // An error is the service's absence (or a version without the list): nothing offered.
        if (!sd_bus_message_is_method_error(reply, nullptr) && !readNames(reply, reading.names))
          AppLog::app.error("KDE's brightness service lists its displays in an unknown form");
        reading.owner->readDisplay(reading);
        return 0;
      },
      reading_.get(), "ss", kRootInterface, "DisplaysDBusNames");
  if (r < 0) {
    AppLog::app.error(std::string("Cannot ask KDE's brightness service: ") + std::strerror(-r));
    finish(*reading_);
  }
}

void KdeScreenBrightness::readDisplay(Reading& reading) {
  reading.call = sd_bus_slot_unref(reading.call);
  if (reading.next >= reading.names.size()) return finish(reading);
  const std::string path = displayPath(reading.names[reading.next]);
  const int r = sd_bus_call_method_async(
      bus_, &reading.call, kService, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
      [](sd_bus_message* reply, void* data, sd_bus_error*) -> int {
        auto& reading = *static_cast<Reading*>(data);
        Display display;
        display.name = reading.names[reading.next++];
        // A display that cannot be read is left out.
        if (sd_bus_message_is_method_error(reply, nullptr))
          AppLog::app.error("KDE's brightness service does not describe " + display.name + ": " + replyError(reply));
        else if (!readProperties(reply, display))
          AppLog::app.error("KDE's brightness service describes " + display.name + " in an unknown form");
        else
          reading.found.push_back(display);
        reading.owner->readDisplay(reading);
        return 0;
      },
      &reading, "s", kDisplayInterface);
  if (r < 0) {
    AppLog::app.error("Cannot ask KDE's brightness service about " + path + ": " + std::strerror(-r));
    finish(reading);
  }
}

void KdeScreenBrightness::finish(const Reading& reading) {
  read_ = true;
  if (reading.found == displays_) return;
  displays_ = reading.found;
  AppLog::app.log(displays_.empty() ? std::string("KDE's brightness service offers no display now")
                                    : "KDE's brightness service drives " + describe(displays_));
  if (announcing_) announcement_ = loop_.post([this] { changed.emit(); });
}

void KdeScreenBrightness::levelChanged(sd_bus_message* message) {
  const char* name = nullptr;
  const char* source = nullptr;
  const char* context = nullptr;
  std::int32_t level = 0;
  if (sd_bus_message_read(message, "siss", &name, &level, &source, &context) < 0 || level < 0) return;
  // This connection's own requests: their levels were noted when asked for.
  const char* self = nullptr;
  if (sd_bus_get_unique_name(bus_, &self) >= 0 && self && std::strcmp(source, self) == 0) return;
  for (auto& display : displays_)
    if (display.name == name) display.level = static_cast<std::uint32_t>(level);
}

void KdeScreenBrightness::rangeChanged(sd_bus_message* message) {
  const char* name = nullptr;
  std::int32_t maximum = 0;
  std::int32_t level = 0;
  if (sd_bus_message_read(message, "sii", &name, &maximum, &level) < 0 || maximum < 0 || level < 0) return;
  for (auto& display : displays_)
    if (display.name == name) {
      display.maximum = static_cast<std::uint32_t>(maximum);
      display.level = static_cast<std::uint32_t>(level);
      if (announcing_) announcement_ = loop_.post([this] { changed.emit(); });
    }
}

ScheduledWork KdeScreenBrightness::setLevel(const std::string& name, std::uint32_t level,
                                            std::function<void(SetStatus)> done) {
  struct Call {
    sd_bus_slot* slot = nullptr;
    std::function<void(SetStatus)> done;
    ~Call() { sd_bus_slot_unref(slot); }
  };
  auto call = std::make_shared<Call>();
  call->done = std::move(done);
  const std::string path = displayPath(name);
  const int r = sd_bus_call_method_async(
      bus_, &call->slot, kService, path.c_str(), kDisplayInterface, "SetBrightness",
      [](sd_bus_message* reply, void* data, sd_bus_error*) -> int {
        auto& call = *static_cast<Call*>(data);
        SetStatus status = SetStatus::ok;
        if (sd_bus_message_is_method_error(reply, nullptr)) {
          const sd_bus_error* error = sd_bus_message_get_error(reply);
          const bool gone = sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                                                   SD_BUS_ERROR_UNKNOWN_OBJECT, SD_BUS_ERROR_UNKNOWN_METHOD,
                                                   SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_DISCONNECTED);
          status = gone ? SetStatus::noDisplay : SetStatus::failed;
          AppLog::app.error("KDE's brightness service did not take a level: " + replyError(reply));
        }
        // The caller may drop its work, and with it this call, from inside `done`.
        if (auto done = std::exchange(call.done, nullptr)) done(status);
        return 0;
      },
      call.get(), "iu", static_cast<std::int32_t>(level), kSuppressIndicator);
  if (r < 0) {
    AppLog::app.error("Cannot ask KDE's brightness service to set " + path + ": " + std::strerror(-r));
    auto failed = std::exchange(call->done, nullptr);
    return loop_.post([failed = std::move(failed)] {
      if (failed) failed(SetStatus::noDisplay);
    });
  }
  for (auto& display : displays_)
    if (display.name == name) display.level = level;
  return ScheduledWork::cancelling([call] {
    call->done = nullptr;
    call->slot = sd_bus_slot_unref(call->slot);
  });
}
