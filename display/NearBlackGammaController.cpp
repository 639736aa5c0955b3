// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/NearBlackGammaController.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/Numbers.hpp"
#include "display/BrightnessSafety.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "ports/SystemNotifications.hpp"
#include "services/DDCDebug.hpp"

namespace {
// At or above this factor the table is left as the system had it.
constexpr double kNoGammaScale = 0.999;
// The darkest assist factor, at 0 % actual level: near black, never black.
constexpr double kAssistFloorScale = 0.015;

template <typename MakeText>
void log(DisplayID displayID, MakeText&& makeText) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, makeText()); });
}

std::uint32_t gammaSize(GammaTables* gamma, DisplayID displayID) { return gamma ? gamma->size(displayID) : 0; }

// The system's reason when it gives one, so the menu can say why.
std::string_view failureStatus(GammaTables* gamma, DisplayID displayID) {
  const std::string_view reason = gamma ? gamma->unavailableReason(displayID) : ControlStatus::gammaUnsupported;
  return reason.empty() ? ControlStatus::gammaFailed : reason;
}

void markGammaFailed(GammaTables* gamma, DisplayID displayID) {
  ControlStatusStore::shared().set(failureStatus(gamma, displayID), displayID);
}

GammaTables::Result write(GammaTables* gamma, DisplayID displayID, const GammaTable& table) {
  return gamma ? gamma->write(displayID, table) : GammaTables::Result::noGamma;
}

std::vector<float> scaled(const std::vector<float>& channel, double scale) {
  std::vector<float> out(channel.size());
  std::transform(channel.begin(), channel.end(), out.begin(),
                 [scale](float entry) { return static_cast<float>(static_cast<double>(entry) * scale); });
  return out;
}
}  // namespace

NearBlackGammaController::NearBlackGammaController(const Ports& ports) : gamma_(ports.gamma) {
  if (SystemNotifications* notifications = ports.notifications)
    willTerminate_ = notifications->willTerminate.connect([this] { handleWillTerminate(); });
  if (gamma_)
    originalReplaced_ = gamma_->originalReplaced.connect([this](const DisplayID& id) { handleOriginalReplaced(id); });
}

std::optional<std::string> NearBlackGammaController::unavailableReason(GammaTables* gamma, DisplayID displayID) {
  if (gammaSize(gamma, displayID) > 0) return std::nullopt;
  return std::string(failureStatus(gamma, displayID));
}

std::optional<double> NearBlackGammaController::scale(double actualPercent, bool fullMode,
                                                      double safetyMinimumPercent) {
  const double floor = BrightnessSafety::normalizedSafetyMinimum(safetyMinimumPercent);
  // An unknown level must never blacken a screen: treat it as full brightness.
  const double a = sanitizedPercent(actualPercent);
  const double level = std::max(a, floor);
  double factor = 1;
  if (fullMode) {
    factor = level / 100;
  } else if (floor < 50 && level < kAssistThresholdPercent) {
    factor = (level / kAssistThresholdPercent) * (1 - kAssistFloorScale) + kAssistFloorScale;
  }
  if (factor >= kNoGammaScale) return std::nullopt;
  return factor;
}

void NearBlackGammaController::apply(const std::map<DisplayID, double>& actualBrightnessPercentByDisplay,
                                     const std::set<DisplayID>& activeDisplayIDs,
                                     const std::set<DisplayID>& fullGammaDisplayIDs, double safetyMinimumPercent) {
  std::vector<DisplayID> departed;
  for (const auto& [displayID, table] : savedTables_)
    if (!activeDisplayIDs.contains(displayID)) departed.push_back(displayID);
  for (DisplayID displayID : departed) restore(displayID);

  for (DisplayID displayID : activeDisplayIDs) {
    const auto level = actualBrightnessPercentByDisplay.find(displayID);
    const bool fullMode = fullGammaDisplayIDs.contains(displayID);
    const auto factor = scale(level != actualBrightnessPercentByDisplay.end() ? level->second : 100, fullMode,
                              safetyMinimumPercent);
    if (!factor) {
      restore(displayID);
      continue;
    }
    if (const auto applied = appliedScales_.find(displayID); applied != appliedScales_.end() && applied->second == *factor)
      continue;
    if (!savedTables_.contains(displayID) && !capture(displayID)) continue;
    applyScale(displayID, *factor, fullMode ? "full" : "assist");
  }
}

void NearBlackGammaController::handleOriginalReplaced(DisplayID displayID) {
  // A table still waiting to be put back is the system's business now: its new one is on screen.
  if (savedTables_.erase(displayID) == 0) return;
  const auto applied = appliedScales_.find(displayID);
  if (applied == appliedScales_.end()) return;
  const double factor = applied->second;
  appliedScales_.erase(applied);
  if (capture(displayID)) applyScale(displayID, factor, "again over the system's new table");
}

void NearBlackGammaController::restoreAll() {
  std::vector<DisplayID> displayIDs;
  for (const auto& [displayID, table] : savedTables_) displayIDs.push_back(displayID);
  for (DisplayID displayID : displayIDs) restore(displayID);
}

void NearBlackGammaController::restore(DisplayID displayID) {
  appliedScales_.erase(displayID);
  const auto saved = savedTables_.find(displayID);
  if (saved == savedTables_.end()) return;
  const auto result = write(gamma_, displayID, saved->second);
  if (result == GammaTables::Result::ok) {
    savedTables_.erase(saved);
  } else {
    // Keep the original so a later restore can still put it back.
    markGammaFailed(gamma_, displayID);
  }
  log(displayID, [&] { return "gamma restore: " + std::string(GammaTables::text(result)); });
}

bool NearBlackGammaController::capture(DisplayID displayID) {
  const std::uint32_t size = gammaSize(gamma_, displayID);
  if (size == 0) {
    log(displayID, [] { return std::string("gamma table size unavailable"); });
    markGammaFailed(gamma_, displayID);
    return false;
  }
  GammaTable table;
  auto result = gamma_->read(displayID, table);
  // Every write must have the output's size; a table of another one could never be put back.
  const bool whole = table.red.size() == size && table.green.size() == size && table.blue.size() == size;
  if (result == GammaTables::Result::ok && !whole) result = GammaTables::Result::invalidSize;
  if (result != GammaTables::Result::ok) {
    log(displayID, [&] { return "gamma read: " + std::string(GammaTables::text(result)); });
    markGammaFailed(gamma_, displayID);
    return false;
  }
  savedTables_.emplace(displayID, std::move(table));
  return true;
}

void NearBlackGammaController::applyScale(DisplayID displayID, double factor, std::string_view mode) {
  // Always from the original table, so repeated scales never compound.
  const GammaTable& saved = savedTables_.at(displayID);
  const auto result =
      write(gamma_, displayID, {scaled(saved.red, factor), scaled(saved.green, factor), scaled(saved.blue, factor)});
  if (result == GammaTables::Result::ok) {
    appliedScales_[displayID] = factor;
  } else {
    markGammaFailed(gamma_, displayID);
  }
  log(displayID, [&] {
    char text[96];
    std::snprintf(text, sizeof text, "gamma %.*s scale=%.3f: ", static_cast<int>(mode.size()), mode.data(), factor);
    return text + std::string(GammaTables::text(result));
  });
}
