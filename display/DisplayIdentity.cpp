// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DisplayIdentity.hpp"

#include <algorithm>
#include <cctype>

#include "display/Edid.hpp"
#include "services/AppLog.hpp"
#include "services/L10n.hpp"

std::optional<std::string> connectionName(std::string_view connector) {
  // The type is the name up to its number or first dash: "HDMI-A-1", "DP1", "DisplayPort-0".
  const auto end = std::find_if(connector.begin(), connector.end(),
                                [](char c) { return c == '-' || std::isdigit(static_cast<unsigned char>(c)); });
  std::string type(connector.begin(), end);
  std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (type == "HDMI") return "HDMI";
  if (type == "DP" || type == "DISPLAYPORT") return "DisplayPort";
  if (type == "DVI") return "DVI";
  return std::nullopt;
}

DisplayInfo displayInfoFrom(const DisplayFacts& facts) {
  DisplayInfo info;
  info.displayID = facts.id;
  info.isBuiltIn = facts.builtIn;
  info.connector = facts.connector;
  info.i2cBus = facts.i2cBus;
  info.backlight = facts.backlight;
  if (!facts.edid.empty()) {
    std::string why;
    if (const auto edid = parseEdid(facts.edid, &why)) {
      info.vendor = edid->vendor;
      info.model = edid->product;
      info.serial = edid->serial;
      info.productName = edid->monitorName;
      // The kernel's connector name, where known, so X11 and Wayland sessions give the same key.
      info.stableKey = displayStableKey(*edid, facts.connector);
      info.formerKeys = formerStableKeys(*edid, facts.outputName, *info.stableKey);
    } else {
      AppLog::app.error("Ignoring the EDID of " + facts.outputName + " (" + why + "): the display has no identity");
    }
  }
  if (info.isBuiltIn) {
    info.connectionLabel = L10n::text("built_in_display_label");
  } else if (const auto name = connectionName(facts.connector)) {
    info.connectionLabel = L10n::text("external_display_label") + "\u30FB" + *name;
  }
  return info;
}
