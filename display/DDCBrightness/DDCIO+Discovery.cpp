// SPDX-License-Identifier: GPL-3.0-or-later
// The connected displays, named and keyed by the identity rules and cached,
// and paired with the displays the desktop's brightness service drives.
#include <algorithm>

#include "display/DDCBrightness/DDCIO+State.hpp"
#include "display/DisplayIdentity.hpp"
#include "ports/Displays.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"

namespace {
using Offered = DesktopBrightness::Display;

std::string describe(const Offered& display) { return display.name + " (\"" + display.label + "\")"; }

// Pairs each display the service offers with one of ours, only where no other
// could be meant: its one built-in panel with the one internal display it
// offers, a monitor with the one external display whose label is the
// monitor's EDID name, when no other monitor has that name. Anything less
// certain stays on our own channel, for writing the wrong display's level
// would be worse than sharing a bus. Returns why each offered display is or
// is not paired.
std::string pair(std::vector<DisplayInfo>& infos, const std::vector<Offered>& offered) {
  for (auto& info : infos) info.desktopBrightness.reset();
  std::string report;
  const auto note = [&](const std::string& line) { report += (report.empty() ? "" : "; ") + line; };
  for (const Offered& display : offered) {
    if (display.maximum == 0) {
      note(describe(display) + " has no range");
      continue;
    }
    const auto alike = std::count_if(offered.begin(), offered.end(), [&](const Offered& other) {
      return other.internal == display.internal && (display.internal || other.label == display.label);
    });
    std::vector<DisplayInfo*> candidates;
    for (auto& info : infos)
      if (info.isBuiltIn == display.internal && (display.internal || info.productName == display.label))
        candidates.push_back(&info);
    if (!display.internal && display.label.empty()) {
      note(describe(display) + " has no name to match a monitor by");
    } else if (alike > 1) {
      note(describe(display) + " is one of " + std::to_string(alike) +
           (display.internal ? " built-in displays" : " displays of that name") + ": not told apart");
    } else if (candidates.size() != 1) {
      note(describe(display) + (candidates.empty() ? " matches no connected display"
                                                   : " matches " + std::to_string(candidates.size()) +
                                                         " connected displays: not told apart"));
    } else {
      candidates.front()->desktopBrightness = display.name;
      note(describe(display) + " drives " + candidates.front()->connector);
    }
  }
  return report;
}

// Reads the connected displays afresh; a display already cached keeps what was found then.
std::optional<std::vector<DisplayInfo>> readDisplays() {
  Displays* displays = DDCIO::detail::ports().displays;
  const auto facts = displays ? displays->connectedDisplays() : std::nullopt;
  if (!facts) {
    DDCDebug::log([] { return std::string("the connected displays cannot be read"); });
    return std::nullopt;
  }
  std::vector<DisplayInfo> infos;
  auto& cache = DDCIO::detail::caches().displayInfos;
  for (const DisplayFacts& display : *facts) {
    auto cached = cache.find(display.id);
    if (cached == cache.end()) cached = cache.emplace(display.id, displayInfoFrom(display)).first;
    infos.push_back(cached->second);
  }
  if (DesktopBrightness* service = DDCIO::detail::ports().desktopBrightness) {
    const std::string report = pair(infos, service->displays());
    for (const auto& info : infos) cache[info.displayID].desktopBrightness = info.desktopBrightness;
    if (std::string& logged = DDCIO::detail::caches().desktopPairing; report != logged) {
      logged = report;
      if (!report.empty()) AppLog::app.log("The desktop's brightness service: " + report);
    }
  }
  return infos;
}
}  // namespace

std::optional<DisplayInfo> DDCIO::displayInfo(DisplayID displayID) {
  auto& cache = detail::caches().displayInfos;
  if (const auto cached = cache.find(displayID); cached != cache.end()) return cached->second;
  if (const auto infos = readDisplays()) {
    for (const auto& info : *infos)
      if (info.displayID == displayID) return info;
  }
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, "not connected"); });
  return std::nullopt;
}

std::vector<DisplayInfo> DDCIO::onlineDisplayInfos() { return readDisplays().value_or(std::vector<DisplayInfo>{}); }
