// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/MutterGammaTables.hpp"

#include <systemd/sd-bus.h>

#include <cstring>
#include <utility>

#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "platform/linux/DBusSession.hpp"
#include "services/AppLog.hpp"

namespace {
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";
constexpr const char* kColorManagerPath = "/org/gnome/Mutter/ColorManager";
constexpr const char* kCalibration = "org.gnome.Mutter.ColorManager.Calibration";
constexpr const char* kSettingsColor = "org.gnome.SettingsDaemon.Color";
constexpr std::uint64_t kCallTimeoutMicroseconds = 1'000'000;

std::string errorText(const sd_bus_error& error, int r) {
  if (error.message) return error.message;
  if (error.name) return error.name;
  return std::strerror(-r);
}

// One method call, waited for; the error's text in `error` (and its name in `errorName`) when it fails.
int call(sd_bus* bus, const char* service, const char* path, const char* interface, const char* member,
         const std::function<int(sd_bus_message*)>& append, sd_bus_message** reply, std::string& error,
         std::string* errorName = nullptr) {
  sd_bus_message* message = nullptr;
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  int r = sd_bus_message_new_method_call(bus, &message, service, path, interface, member);
  if (r >= 0 && append) r = append(message);
  if (r >= 0) r = sd_bus_call(bus, message, kCallTimeoutMicroseconds, &busError, reply);
  if (r < 0) {
    error = errorText(busError, r);
    if (errorName && busError.name) *errorName = busError.name;
  }
  sd_bus_error_free(&busError);
  sd_bus_message_unref(message);
  return r;
}

int appendRamps(sd_bus_message* message, const GammaRamps& ramps) {
  int r = 0;
  for (const auto* channel : {&ramps.red, &ramps.green, &ramps.blue})
    if (r >= 0) r = sd_bus_message_append_array(message, 'q', channel->data(), channel->size() * sizeof(std::uint16_t));
  return r;
}

int readRamps(sd_bus_message* reply, GammaRamps& ramps) {
  int r = 0;
  for (auto* channel : {&ramps.red, &ramps.green, &ramps.blue}) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (r >= 0) r = sd_bus_message_read_array(reply, 'q', &data, &bytes);
    if (r >= 0) {
      const auto* entries = static_cast<const std::uint16_t*>(data);
      channel->assign(entries, entries + bytes / sizeof(std::uint16_t));
    }
  }
  if (r >= 0 && (ramps.red.size() != ramps.green.size() || ramps.red.size() != ramps.blue.size())) r = -EBADMSG;
  return r;
}

std::string ownerRule(const char* name) {
  return std::string("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                     "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
         name + "'";
}
}  // namespace

MutterGammaTables::MutterGammaTables(sd_bus* sessionBus, MainLoop& loop, ConnectorOf connectorOf)
    : bus_(sessionBus), loop_(loop), connectorOf_(std::move(connectorOf)) {
  if (!bus_) return;
  const auto add = [this](const std::string& rule, sd_bus_message_handler_t handler) {
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_add_match(bus_, &slot, rule.c_str(), handler, this);
    if (r < 0) AppLog::app.error("Cannot watch " + rule + ": " + std::strerror(-r));
    else matches_.push_back(slot);
  };
  const auto rebuilt = [](sd_bus_message*, void* self, sd_bus_error*) -> int {
    auto& tables = *static_cast<MutterGammaTables*>(self);
    tables.resourcesStale_ = true;
    tables.noteRebuildSignal();
    return 0;
  };
  add(std::string("type='signal',sender='") + kService + "',path='" + kPath + "',interface='" + kService +
          "',member='MonitorsChanged'",
      rebuilt);
  add(ownerRule(kService), rebuilt);
  add(std::string("type='signal',sender='") + kSettingsColor + "',path='/org/gnome/SettingsDaemon/Color',"
          "interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'",
      [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
        if (DBusSession::changesProperty(message, kSettingsColor, "Temperature"))
          static_cast<MutterGammaTables*>(self)->noteRebuildSignal();
        return 0;
      });
  add(std::string("type='signal',sender='") + kColorManager + "',interface='" + kCalibration + "',member='Stopped'",
      [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
        if (const char* path = sd_bus_message_get_path(message))
          static_cast<MutterGammaTables*>(self)->calibrationStopped(path);
        return 0;
      });

  offered_ = renewResources();
  if (!offered_) return;
  colorManager_ = DBusSession::nameHasOwner(bus_, kColorManager);
  AppLog::app.log(std::string("Gamma through GNOME's ") + (colorManager_ ? kColorManager : kService));
}

MutterGammaTables::~MutterGammaTables() {
  for (auto& [displayID, held] : held_)
    if (!held.calibration.empty()) stopCalibration(held.calibration);
  for (sd_bus_slot* slot : matches_) sd_bus_slot_unref(slot);
}

bool MutterGammaTables::renewResources() {
  sd_bus_message* reply = nullptr;
  std::string error;
  int r = call(bus_, kService, kPath, kService, "GetResources", {}, &reply, error);
  std::uint32_t serial = 0;
  std::map<std::string, std::int32_t> crtcs;
  if (r >= 0) r = sd_bus_message_read(reply, "u", &serial);
  if (r >= 0) r = sd_bus_message_skip(reply, "a(uxiiiiiuaua{sv})");
  if (r >= 0) r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(uxiausauaua{sv})");
  while (r >= 0 && (r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "uxiausauaua{sv}")) > 0) {
    std::uint32_t id = 0;
    std::int64_t winsys = 0;
    std::int32_t crtc = -1;
    const char* name = nullptr;
    r = sd_bus_message_read(reply, "uxi", &id, &winsys, &crtc);
    if (r >= 0) r = sd_bus_message_skip(reply, "au");
    if (r >= 0) r = sd_bus_message_read(reply, "s", &name);
    if (r >= 0) r = sd_bus_message_skip(reply, "auaua{sv}");
    if (r >= 0) r = sd_bus_message_exit_container(reply);
    if (r >= 0 && name) crtcs[name] = crtc;
  }
  sd_bus_message_unref(reply);
  if (r < 0) {
    AppLog::app.log("GNOME's display configuration does not answer: " + (error.empty() ? std::strerror(-r) : error));
    return false;
  }
  serial_ = serial;
  crtcByConnector_ = std::move(crtcs);
  sizeByCrtc_.clear();
  withoutCrtc_.clear();
  refused_.clear();
  resourcesStale_ = false;
  return true;
}

std::optional<std::uint32_t> MutterGammaTables::crtcOf(DisplayID displayID) {
  const auto connector = connectorOf_(displayID);
  if (!connector) return std::nullopt;
  if (resourcesStale_ && !renewResources()) return std::nullopt;
  const auto it = crtcByConnector_.find(*connector);
  if (it == crtcByConnector_.end() || it->second < 0) {
    if (withoutCrtc_.insert(displayID).second)
      AppLog::app.log("GNOME's compositor gives " + *connector +
                      " no CRTC (a virtual or headless monitor): it has no gamma table");
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(it->second);
}

GammaTables::Result MutterGammaTables::callOnCrtc(DisplayID displayID, const GammaRamps* ramps, GammaRamps* answer) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto crtc = crtcOf(displayID);
    if (!crtc) return Result::noSuchOutput;
    sd_bus_message* reply = nullptr;
    std::string error, errorName;
    int r = call(
        bus_, kService, kPath, kService, ramps ? "SetCrtcGamma" : "GetCrtcGamma",
        [&](sd_bus_message* message) {
          int appended = sd_bus_message_append(message, "uu", serial_, *crtc);
          if (appended >= 0 && ramps) appended = appendRamps(message, *ramps);
          return appended;
        },
        &reply, error, &errorName);
    if (r >= 0 && answer) r = readRamps(reply, *answer);
    sd_bus_message_unref(reply);
    if (r >= 0) return Result::ok;
    // The monitors changed since the serial was given: ask again once with the new one.
    if (errorName == SD_BUS_ERROR_ACCESS_DENIED && attempt == 0) {
      resourcesStale_ = true;
      continue;
    }
    logOnce(displayID, std::string("Mutter refused ") + (ramps ? "SetCrtcGamma" : "GetCrtcGamma") + " on CRTC " +
                           std::to_string(*crtc) + ": " + (error.empty() ? std::strerror(-r) : error));
    // Mutter's own answer about this CRTC, as against a bus that failed on the way.
    const bool refused = errorName == SD_BUS_ERROR_INVALID_ARGS || errorName == SD_BUS_ERROR_FAILED;
    if (refused) refused_.insert(displayID);
    return refused ? Result::noGamma : Result::failed;
  }
  return Result::failed;
}

std::uint32_t MutterGammaTables::size(DisplayID displayID) {
  if (!offered_) return 0;
  const auto crtc = crtcOf(displayID);
  if (!crtc) return 0;
  if (const auto it = sizeByCrtc_.find(*crtc); it != sizeByCrtc_.end()) return it->second;
  GammaRamps ramps;
  if (callOnCrtc(displayID, nullptr, &ramps) != Result::ok) return 0;
  // The serial may have been renewed meanwhile: the CRTC asked is the one known now.
  if (const auto now = crtcOf(displayID)) sizeByCrtc_[*now] = static_cast<std::uint32_t>(ramps.red.size());
  return static_cast<std::uint32_t>(ramps.red.size());
}

GammaTables::Result MutterGammaTables::read(DisplayID displayID, GammaTable& table) {
  if (!offered_) return Result::noGamma;
  GammaRamps ramps;
  if (const auto result = callOnCrtc(displayID, nullptr, &ramps); result != Result::ok) return result;
  if (ramps.red.empty()) return Result::noGamma;
  if (looksDimmed(ramps)) {
    // A table of ours that a dead copy of this program left: Mutter rebuilds its own at the next change.
    AppLog::app.error("The gamma table Mutter shows on " + connectorOf_(displayID).value_or("?") +
                      " is dimmed below half brightness, so it is not its own: the linear ramp is kept as its original");
    ramps = identityRamps(ramps.red.size());
  }
  originals_[displayID] = ramps;
  table = gammaTable(ramps);
  return Result::ok;
}

GammaTables::Result MutterGammaTables::write(DisplayID displayID, const GammaTable& table) {
  if (!offered_) return Result::noGamma;
  const std::uint32_t wanted = size(displayID);
  if (wanted == 0) return crtcOf(displayID) ? Result::noGamma : Result::noSuchOutput;
  if (table.red.size() != wanted || table.green.size() != wanted || table.blue.size() != wanted)
    return Result::invalidSize;
  const GammaRamps ramps = gammaRamps(table);
  const auto original = originals_.find(displayID);
  const bool restoring = original != originals_.end() && original->second == ramps;
  if (restoring) {
    const auto held = held_.find(displayID);
    if (held != held_.end() && !held->second.calibration.empty()) {
      // Mutter puts its own table back when the calibration stops.
      stopCalibration(held->second.calibration);
      held_.erase(held);
      return Result::ok;
    }
    if (colorManager_) return Result::ok;  // nothing of ours on screen
    GammaRamps shown;
    if (held != held_.end() && callOnCrtc(displayID, nullptr, &shown) == Result::ok && !(shown == held->second.ours)) {
      // Mutter rebuilt its table since ours went on (before its signal was handled): that one is newer.
      held_.erase(held);
      originals_.erase(displayID);
      return Result::ok;
    }
  } else if (colorManager_) {
    return calibrate(displayID, ramps);
  }
  const auto result = callOnCrtc(displayID, &ramps, nullptr);
  if (result != Result::ok) return result;
  if (restoring)
    held_.erase(displayID);
  else
    held_[displayID] = {ramps, {}};
  return Result::ok;
}

GammaTables::Result MutterGammaTables::calibrate(DisplayID displayID, const GammaRamps& ramps) {
  const auto connector = connectorOf_(displayID);
  if (!connector) return Result::noSuchOutput;
  Held& held = held_[displayID];
  std::string error;
  if (held.calibration.empty()) {
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    int r = call(
        bus_, kColorManager, kColorManagerPath, kColorManager, "CalibrateMonitor",
        [&](sd_bus_message* message) { return sd_bus_message_append(message, "s", connector->c_str()); }, &reply,
        error);
    if (r >= 0) r = sd_bus_message_read(reply, "o", &path);
    if (r >= 0) held.calibration = path;
    sd_bus_message_unref(reply);
    std::uint32_t lutSize = 0;
    if (r >= 0) {
      sd_bus_error busError = SD_BUS_ERROR_NULL;
      r = sd_bus_get_property_trivial(bus_, kColorManager, held.calibration.c_str(), kCalibration, "GammaLutSize",
                                      &busError, 'u', &lutSize);
      if (r < 0) error = errorText(busError, r);
      sd_bus_error_free(&busError);
    }
    if (r >= 0 && lutSize != ramps.red.size()) {
      error = "its table has " + std::to_string(lutSize) + " entries, the CRTC's " + std::to_string(ramps.red.size());
      r = -EINVAL;
    }
    if (r < 0) {
      logOnce(displayID, "Mutter refused to calibrate " + *connector + ": " + (error.empty() ? std::strerror(-r) : error));
      if (!held.calibration.empty()) stopCalibration(held.calibration);
      held_.erase(displayID);
      refused_.insert(displayID);
      return Result::noGamma;
    }
  }
  sd_bus_message* reply = nullptr;
  const int r = call(
      bus_, kColorManager, held.calibration.c_str(), kCalibration, "SetCrtcGammaLut",
      [&](sd_bus_message* message) { return appendRamps(message, ramps); }, &reply, error);
  sd_bus_message_unref(reply);
  if (r < 0) {
    logOnce(displayID, "Mutter refused the calibration table of " + *connector + ": " + error);
    return Result::failed;
  }
  held.ours = ramps;
  return Result::ok;
}

void MutterGammaTables::stopCalibration(const std::string& path) {
  sd_bus_call_method_async(bus_, nullptr, kColorManager, path.c_str(), kCalibration, "Stop", nullptr, nullptr, "");
  // Sent at once: this may be the restore at exit.
  sd_bus_flush(bus_);
}

std::string_view MutterGammaTables::unavailableReason(DisplayID displayID) {
  if (!offered_) return ControlStatus::gammaUnsupported;
  if (withoutCrtc_.contains(displayID)) return ControlStatus::gammaNoCrtc;
  if (refused_.contains(displayID)) return ControlStatus::gammaRefused;
  return {};
}

void MutterGammaTables::noteRebuildSignal() {
  // Only tables Mutter may rebuild are read back: a calibration is left alone.
  bool rebuildable = false;
  for (const auto& [displayID, held] : held_) rebuildable = rebuildable || held.calibration.empty();
  if (!rebuildable) return;
  checks_.clear();
  checks_.push_back(loop_.post([this] { checkHeldTables(); }));
  for (const double delay : kFollowUpSeconds) checks_.push_back(loop_.after(delay, [this] { checkHeldTables(); }));
}

void MutterGammaTables::checkHeldTables() {
  std::vector<DisplayID> replaced;
  for (const auto& [displayID, held] : held_) {
    if (!held.calibration.empty()) continue;
    GammaRamps shown;
    if (callOnCrtc(displayID, nullptr, &shown) != Result::ok || !(shown == held.ours)) replaced.push_back(displayID);
  }
  for (const DisplayID displayID : replaced) held_.erase(displayID);
  if (!replaced.empty()) announceReplaced(std::move(replaced));
}

void MutterGammaTables::calibrationStopped(const std::string& path) {
  std::vector<DisplayID> replaced;
  for (const auto& [displayID, held] : held_)
    if (held.calibration == path) replaced.push_back(displayID);
  for (const DisplayID displayID : replaced) held_.erase(displayID);
  // Out of the bus's message handling first.
  if (!replaced.empty())
    announcement_ = loop_.post([this, replaced = std::move(replaced)]() mutable { announceReplaced(std::move(replaced)); });
}

void MutterGammaTables::announceReplaced(std::vector<DisplayID> displayIDs) {
  for (const DisplayID displayID : displayIDs) {
    AppLog::app.log("Mutter rebuilt the gamma table of " + connectorOf_(displayID).value_or("?") +
                    ": it is kept as the new original");
    originals_.erase(displayID);
    originalReplaced.emit(displayID);
  }
}

void MutterGammaTables::logOnce(DisplayID displayID, const std::string& text) {
  auto& last = lastFailure_[displayID];
  if (last == text) return;
  last = text;
  AppLog::app.error(text);
}
