// SPDX-License-Identifier: GPL-3.0-or-later
// The connected displays, named and keyed by the identity rules and cached.
#include "display/DDCBrightness/DDCIO+State.hpp"
#include "display/DisplayIdentity.hpp"
#include "ports/Displays.hpp"
#include "services/DDCDebug.hpp"

namespace {
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
