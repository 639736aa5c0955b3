// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/PortalGlobalShortcuts.hpp"

#include <systemd/sd-bus.h>

#include <cstring>
#include <vector>

#include "services/AppLog.hpp"
#include "services/L10n.hpp"

// Last: Xlib defines macros (Status, ...) that clash with names above.
#include <X11/Xlib.h>

namespace {
// A portal that is installed but stuck must not hold up the start for long.
constexpr std::uint64_t kProbeTimeoutMicroseconds = 3'000'000;

struct Shortcut {
  HotKeyID id;
  const char* name;
  const char* descriptionKey;
};
constexpr Shortcut kShortcuts[] = {
    {HotKeyID::increaseMax, "increase-master", "increase_max_shortcut"},
    {HotKeyID::decreaseMax, "decrease-master", "decrease_max_shortcut"},
    {HotKeyID::restore, "restore-maximum", "restore_max_shortcut"},
};

std::string errorText(const sd_bus_error& error, int r) {
  if (error.message) return error.message;
  return std::strerror(-r);
}

// A synchronous call with a short timeout; false, with the reason, on failure.
bool callBriefly(sd_bus* bus, const char* path, const char* interface, const char* member,
                 const std::function<int(sd_bus_message*)>& append, std::string& why) {
  sd_bus_message* call = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int r = sd_bus_message_new_method_call(bus, &call, PortalGlobalShortcuts::portalName, path, interface, member);
  if (r >= 0) r = append(call);
  if (r >= 0) r = sd_bus_call(bus, call, kProbeTimeoutMicroseconds, &error, nullptr);
  if (r < 0) why = errorText(error, r);
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  return r >= 0;
}

// Reads a string or object path held in a variant.
std::optional<std::string> readTextVariant(sd_bus_message* message) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(message, &type, &contents) < 0 || type != 'v' || !contents) return std::nullopt;
  const char kind = contents[0];
  if ((kind != 's' && kind != 'o') || sd_bus_message_enter_container(message, 'v', contents) < 0) return std::nullopt;
  const char* text = nullptr;
  const int r = sd_bus_message_read_basic(message, kind, &text);
  sd_bus_message_exit_container(message);
  if (r < 0 || !text) return std::nullopt;
  return std::string(text);
}
}  // namespace

std::optional<std::string> PortalGlobalShortcuts::preferredTrigger(const Combination& combination) {
  if (XStringToKeysym(combination.keyName.c_str()) == NoSymbol) return std::nullopt;
  std::string trigger;
  for (const Modifier modifier : combination.modifiers) {
    switch (modifier) {
      case Modifier::control: trigger += "CTRL+"; break;
      case Modifier::alt: trigger += "ALT+"; break;
      case Modifier::shift: trigger += "SHIFT+"; break;
    }
  }
  return trigger + combination.keyName;
}

std::unique_ptr<PortalGlobalShortcuts> PortalGlobalShortcuts::connect(sd_bus* bus, MainLoop& loop) {
  if (!bus) return nullptr;
  std::string why;
  if (!callBriefly(
          bus, portalPath, "org.freedesktop.DBus.Properties", "Get",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", portalInterface, "version"); }, why)) {
    AppLog::app.log("No desktop portal offers global shortcuts: " + why);
    return nullptr;
  }
  // Programs outside a sandbox tell the portal who they are; older portals lack this and need not.
  if (!callBriefly(
          bus, portalPath, "org.freedesktop.host.portal.Registry", "Register",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "sa{sv}", applicationID, 0); }, why))
    AppLog::app.log("The desktop portal did not register the application ID: " + why);
  std::unique_ptr<PortalGlobalShortcuts> portal(new PortalGlobalShortcuts(bus, loop));
  portal->createSession();
  return portal;
}

PortalGlobalShortcuts::PortalGlobalShortcuts(sd_bus* bus, MainLoop& loop) : bus_(bus), loop_(loop) {
  const int r = sd_bus_match_signal(
      bus_, &activated_, portalName, portalPath, portalInterface, "Activated",
      [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
        static_cast<PortalGlobalShortcuts*>(self)->handleActivated(message);
        return 0;
      },
      this);
  if (r < 0) AppLog::app.error(std::string("Cannot watch the portal's shortcut activations: ") + std::strerror(-r));
}

PortalGlobalShortcuts::~PortalGlobalShortcuts() {
  sd_bus_slot_unref(activated_);
  sd_bus_slot_unref(response_);
  if (sessionHandle_) {
    sd_bus_call_method_async(bus_, nullptr, portalName, sessionHandle_->c_str(), "org.freedesktop.portal.Session",
                             "Close", nullptr, nullptr, "");
    sd_bus_flush(bus_);
  }
}

bool PortalGlobalShortcuts::request(const char* method, const Append& arguments, const Append& options,
                                    std::function<void(std::uint32_t, sd_bus_message*)> onResponse) {
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(bus_, &unique) < 0 || !unique) return false;
  // The portal answers on a request object whose path it derives from our name and the token.
  std::string sender(unique + 1);
  for (char& c : sender)
    if (c == '.') c = '_';
  const std::string token = "dimmora" + std::to_string(++nextToken_);
  const std::string path = std::string("/org/freedesktop/portal/desktop/request/") + sender + "/" + token;
  response_ = sd_bus_slot_unref(response_);
  onResponse_ = std::move(onResponse);
  int r = sd_bus_match_signal(
      bus_, &response_, portalName, path.c_str(), "org.freedesktop.portal.Request", "Response",
      [](sd_bus_message* message, void* userdata, sd_bus_error*) -> int {
        auto* self = static_cast<PortalGlobalShortcuts*>(userdata);
        std::uint32_t response = 2;
        if (sd_bus_message_read(message, "u", &response) < 0) return 0;
        // The callback may start the next request, which replaces this match and its callback.
        auto onResponse = std::move(self->onResponse_);
        self->response_ = sd_bus_slot_unref(self->response_);
        if (onResponse) onResponse(response, message);
        return 0;
      },
      this);
  sd_bus_message* call = nullptr;
  if (r >= 0) r = sd_bus_message_new_method_call(bus_, &call, portalName, portalPath, portalInterface, method);
  if (r >= 0 && arguments) r = arguments(call);
  if (r >= 0) r = sd_bus_message_open_container(call, 'a', "{sv}");
  if (r >= 0) r = sd_bus_message_append(call, "{sv}", "handle_token", "s", token.c_str());
  if (r >= 0 && options) r = options(call);
  if (r >= 0) r = sd_bus_message_close_container(call);
  if (r >= 0)
    r = sd_bus_call_async(
        bus_, nullptr, call,
        [](sd_bus_message* reply, void*, sd_bus_error*) -> int {
          if (const sd_bus_error* error = sd_bus_message_get_error(reply))
            AppLog::app.error(std::string("The desktop portal refused a shortcut request: ") +
                              (error->message ? error->message : error->name));
          return 0;
        },
        this, 0);
  sd_bus_message_unref(call);
  if (r < 0) AppLog::app.error(std::string("Cannot ask the desktop portal: ") + std::strerror(-r));
  return r >= 0;
}

void PortalGlobalShortcuts::createSession() {
  const std::string sessionToken = "dimmora" + std::to_string(++nextToken_);
  request(
      "CreateSession", nullptr,
      [&sessionToken](sd_bus_message* m) {
        return sd_bus_message_append(m, "{sv}", "session_handle_token", "s", sessionToken.c_str());
      },
      [this](std::uint32_t response, sd_bus_message* results) {
        if (response != 0) {
          AppLog::app.error("The desktop portal did not open a shortcut session (response " +
                            std::to_string(response) + ")");
          return;
        }
        if (sd_bus_message_enter_container(results, 'a', "{sv}") >= 0) {
          while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
            const char* key = nullptr;
            sd_bus_message_read_basic(results, 's', &key);
            if (key && std::strcmp(key, "session_handle") == 0)
              sessionHandle_ = readTextVariant(results);
            else
              sd_bus_message_skip(results, "v");
            sd_bus_message_exit_container(results);
          }
        }
        if (!sessionHandle_) {
          AppLog::app.error("The desktop portal opened a shortcut session without naming it");
          return;
        }
        if (!registrations_.empty()) bindShortcuts();
      });
}

void PortalGlobalShortcuts::bindShortcuts() {
  if (!sessionHandle_ || bound_) return;
  bound_ = true;
  // Every action is bound, so that the user can give a key to one that has none yet.
  std::map<HotKeyID, std::string> triggers;
  for (const auto& [handle, entry] : registrations_)
    if (auto trigger = preferredTrigger(entry.combination)) triggers[entry.action] = *trigger;
  const std::string session = *sessionHandle_;
  request(
      "BindShortcuts",
      [&](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "o", session.c_str());
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "(sa{sv})");
        for (const auto& shortcut : kShortcuts) {
          const std::string description = L10n::text(shortcut.descriptionKey);
          const auto trigger = triggers.find(shortcut.id);
          if (r >= 0) r = sd_bus_message_open_container(m, 'r', "sa{sv}");
          if (r >= 0) r = sd_bus_message_append(m, "s", shortcut.name);
          if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
          if (r >= 0) r = sd_bus_message_append(m, "{sv}", "description", "s", description.c_str());
          if (r >= 0 && trigger != triggers.end())
            r = sd_bus_message_append(m, "{sv}", "preferred_trigger", "s", trigger->second.c_str());
          if (r >= 0) r = sd_bus_message_close_container(m);
          if (r >= 0) r = sd_bus_message_close_container(m);
        }
        if (r >= 0) r = sd_bus_message_close_container(m);
        // No parent window: the tray application has none the desktop knows.
        if (r >= 0) r = sd_bus_message_append(m, "s", "");
        return r;
      },
      nullptr,
      [this](std::uint32_t response, sd_bus_message* results) {
        if (response == 0)
          handleBound(boundShortcuts(results));
        else
          AppLog::app.error("The desktop did not bind the global shortcuts (response " + std::to_string(response) +
                            ")");
      });
}

std::map<std::string, std::string> PortalGlobalShortcuts::boundShortcuts(sd_bus_message* results) {
  std::map<std::string, std::string> bound;
  if (sd_bus_message_enter_container(results, 'a', "{sv}") < 0) return bound;
  while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
    const char* key = nullptr;
    sd_bus_message_read_basic(results, 's', &key);
    if (!key || std::strcmp(key, "shortcuts") != 0 ||
        sd_bus_message_enter_container(results, 'v', "a(sa{sv})") < 0) {
      sd_bus_message_skip(results, "v");
      sd_bus_message_exit_container(results);
      continue;
    }
    sd_bus_message_enter_container(results, 'a', "(sa{sv})");
    while (sd_bus_message_enter_container(results, 'r', "sa{sv}") > 0) {
      const char* id = nullptr;
      sd_bus_message_read_basic(results, 's', &id);
      std::string trigger;
      sd_bus_message_enter_container(results, 'a', "{sv}");
      while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
        const char* name = nullptr;
        sd_bus_message_read_basic(results, 's', &name);
        const auto text = name && std::strcmp(name, "trigger_description") == 0 ? readTextVariant(results)
                                                                                 : std::nullopt;
        if (text)
          trigger = *text;
        else
          sd_bus_message_skip(results, "v");
        sd_bus_message_exit_container(results);
      }
      sd_bus_message_exit_container(results);
      if (id) bound[id] = trigger;
      sd_bus_message_exit_container(results);
    }
    sd_bus_message_exit_container(results);
    sd_bus_message_exit_container(results);
    sd_bus_message_exit_container(results);
  }
  return bound;
}

void PortalGlobalShortcuts::handleBound(const std::map<std::string, std::string>& bound) {
  std::string boundText, missingText;
  std::vector<Handle> lost;
  for (const auto& shortcut : kShortcuts) {
    const auto found = bound.find(shortcut.name);
    if (found != bound.end()) {
      boundText += (boundText.empty() ? "" : ", ") + std::string(shortcut.name) + " (" +
                   (found->second.empty() ? std::string("no key yet") : found->second) + ")";
      continue;
    }
    // Not bound: the desktop will never activate it, so it is not offered as working.
    missingText += (missingText.empty() ? "" : ", ") + std::string(shortcut.name);
    unbound_.insert(shortcut.id);
    for (const auto& [handle, entry] : registrations_)
      if (entry.action == shortcut.id) lost.push_back(handle);
  }
  if (!boundText.empty()) AppLog::app.log("Global shortcuts bound through the desktop portal: " + boundText);
  if (!missingText.empty())
    AppLog::app.error("The desktop portal did not bind " + missingText +
                      ": those shortcuts are unavailable; bind keys to Dimmora's D-Bus methods in the desktop's "
                      "settings instead");
  for (const Handle handle : lost) {
    registrations_.erase(handle);
    registrationLost.emit(handle);
  }
}

void PortalGlobalShortcuts::handleActivated(sd_bus_message* message) {
  const char* session = nullptr;
  const char* name = nullptr;
  if (sd_bus_message_read(message, "os", &session, &name) < 0 || !sessionHandle_ || *sessionHandle_ != session)
    return;
  for (const auto& shortcut : kShortcuts) {
    if (std::strcmp(shortcut.name, name) != 0) continue;
    // An action whose key the user moved to the brightness keys has no registration and stays quiet.
    for (const auto& [handle, entry] : registrations_) {
      if (entry.action != shortcut.id) continue;
      // A copy: the handler may replace every registration, this one included.
      const PressHandler onPress = entry.onPress;
      onPress();
      return;
    }
  }
}

GlobalShortcuts::Registration PortalGlobalShortcuts::registerShortcut(HotKeyID action, const Combination& combination,
                                                                      PressHandler onPress) {
  if (!preferredTrigger(combination)) return Refusal::unknownKey;
  if (unbound_.contains(action)) return Refusal::notBound;
  for (const auto& [handle, entry] : registrations_)
    if (entry.combination == combination || entry.action == action) return Refusal::taken;
  const Handle handle = nextHandle_++;
  registrations_[handle] = {action, combination, std::move(onPress)};
  // A burst of registrations (one update) is bound once.
  if (sessionHandle_ && !bound_ && !pendingBind_.isActive()) pendingBind_ = loop_.post([this] { bindShortcuts(); });
  return handle;
}

void PortalGlobalShortcuts::unregisterShortcut(Handle handle) { registrations_.erase(handle); }
