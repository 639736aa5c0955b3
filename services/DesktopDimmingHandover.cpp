// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/DesktopDimmingHandover.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "ports/UserDefaults.hpp"
#include "services/AppLog.hpp"
#include "services/L10n.hpp"

using Desktop = DesktopIdleDimming::Desktop;
using Setting = DesktopIdleDimming::Setting;

namespace {
const char* desktopName(Desktop desktop) { return desktop == Desktop::gnome ? "gnome" : "plasma"; }

std::optional<Desktop> desktopNamed(const std::string& name) {
  if (name == "gnome") return Desktop::gnome;
  if (name == "plasma") return Desktop::plasma;
  return std::nullopt;
}

// The desktop's own name as the user knows it, for the log.
const char* desktopTitle(Desktop desktop) { return desktop == Desktop::gnome ? "GNOME" : "KDE Plasma"; }
}  // namespace

DesktopDimmingHandover::DesktopDimmingHandover(DesktopIdleDimming* desktop, UserDefaults* defaults)
    : desktop_(desktop), defaults_(defaults) {
  if (desktop_) desktopChanged_ = desktop_->changed.connect([this] { changed.emit(); });
}

std::optional<DesktopDimmingHandover::Record> DesktopDimmingHandover::record() const {
  const auto text = defaults_ ? defaults_->stringValue(recordKey) : unsavedRecord_;
  if (!text) return std::nullopt;
  const auto json = nlohmann::json::parse(*text, nullptr, false);
  if (!json.is_object() || !json.contains("desktop") || !json["desktop"].is_string()) return std::nullopt;
  const auto desktop = desktopNamed(json["desktop"].get<std::string>());
  if (!desktop || !json.contains("settings") || !json["settings"].is_array()) return std::nullopt;
  Record result{*desktop, {}};
  for (const auto& entry : json["settings"]) {
    if (!entry.is_object() || !entry.contains("group") || !entry["group"].is_string() || !entry.contains("key") ||
        !entry["key"].is_string())
      return std::nullopt;
    Setting setting{entry["group"].get<std::string>(), entry["key"].get<std::string>(), std::nullopt};
    if (entry.contains("value") && entry["value"].is_string()) setting.value = entry["value"].get<std::string>();
    result.previous.push_back(std::move(setting));
  }
  return result;
}

void DesktopDimmingHandover::saveRecord(const std::optional<Record>& record) {
  std::optional<std::string> text;
  if (record) {
    nlohmann::json settings = nlohmann::json::array();
    for (const Setting& setting : record->previous)
      settings.push_back({{"group", setting.group},
                          {"key", setting.key},
                          {"value", setting.value ? nlohmann::json(*setting.value) : nlohmann::json(nullptr)}});
    text = nlohmann::json{{"desktop", desktopName(record->desktop)}, {"settings", settings}}.dump();
  }
  if (!defaults_) unsavedRecord_ = text;
  else if (text) defaults_->setString(recordKey, *text);
  else defaults_->remove(recordKey);
}

bool DesktopDimmingHandover::recordIsHere(const std::optional<Record>& record) const {
  return record && desktop_ && record->desktop == desktop_->desktop();
}

std::optional<std::string> DesktopDimmingHandover::noticeText() const {
  if (!desktop_ || !desktop_->isOn()) return std::nullopt;
  return L10n::text(desktop_->desktop() == Desktop::gnome ? "desktop_dims_gnome" : "desktop_dims_plasma");
}

std::string DesktopDimmingHandover::turnOffLabel() const { return L10n::text("desktop_dimming_turn_off"); }

std::optional<std::string> DesktopDimmingHandover::turnedOffText() const {
  if (!desktop_ || desktop_->isOn() || !recordIsHere(record())) return std::nullopt;
  return L10n::text(desktop_->desktop() == Desktop::gnome ? "desktop_dimming_off_gnome" : "desktop_dimming_off_plasma");
}

void DesktopDimmingHandover::turnOff() {
  if (!desktop_ || !desktop_->isOn()) return;
  error_.reset();
  auto result = desktop_->turnOff();
  if (auto* failure = std::get_if<std::string>(&result)) {
    AppLog::app.error(std::string("Cannot turn off ") + desktopTitle(desktop_->desktop()) + "'s idle dimming: " + *failure);
    error_ = L10n::text("desktop_dimming_failed", {{"error", *failure}});
    changed.emit();
    return;
  }
  // What an earlier turn-off recorded stays, unless this one found the same setting again.
  Record updated{desktop_->desktop(), std::get<std::vector<Setting>>(std::move(result))};
  if (const auto earlier = record(); recordIsHere(earlier))
    for (const Setting& setting : earlier->previous) {
      const bool again = std::any_of(updated.previous.begin(), updated.previous.end(), [&](const Setting& found) {
        return found.group == setting.group && found.key == setting.key;
      });
      if (!again) updated.previous.push_back(setting);
    }
  saveRecord(updated);
  AppLog::app.log(std::string("Turned off ") + desktopTitle(updated.desktop) + "'s idle dimming (" +
                  std::to_string(updated.previous.size()) + " settings recorded to put back)");
  changed.emit();
}

std::optional<std::string> DesktopDimmingHandover::putBack() {
  const auto found = record();
  if (!found) return std::nullopt;
  if (!recordIsHere(found)) {
    AppLog::app.log(std::string("Dimmora turned off ") + desktopTitle(found->desktop) +
                    "'s idle dimming; it is put back in a session of that desktop");
    return std::nullopt;
  }
  error_.reset();
  if (desktop_->isOn()) {
    AppLog::app.log(std::string(desktopTitle(found->desktop)) + "'s idle dimming was turned on again; it stays as it is");
  } else if (auto failure = desktop_->restore(found->previous)) {
    AppLog::app.error(std::string("Cannot turn ") + desktopTitle(found->desktop) + "'s idle dimming back on: " + *failure);
    error_ = L10n::text("desktop_dimming_failed", {{"error", *failure}});
    changed.emit();
    return error_;
  } else {
    AppLog::app.log(std::string("Turned ") + desktopTitle(found->desktop) + "'s idle dimming back on");
  }
  saveRecord(std::nullopt);
  changed.emit();
  return std::nullopt;
}
