// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "display/DisplayInfo.hpp"
#include "ports/Displays.hpp"

// The identity rules: a display's settings key, the keys it had before, its
// product name and the connection it is named by, from the system's facts.
// A garbled EDID gives no identity, and the log says so.
DisplayInfo displayInfoFrom(const DisplayFacts& facts);

// The kind of connection a connector's name shows: "HDMI", "DisplayPort" or
// "DVI"; nothing for others (VGA, virtual outputs, ...).
std::optional<std::string> connectionName(std::string_view connector);
