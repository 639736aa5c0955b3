// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DisplayStore.hpp"

#include <algorithm>

#include "display/DDCBrightness/DDCIO.hpp"
#include "ports/SystemNotifications.hpp"
#include "services/L10n.hpp"

// Letters fold to lower case by ASCII's rule, not the C locale's (a Turkish
// one leaves "I" as it is); other characters, from the translated labels,
// compare by code point, which UTF-8's byte order keeps.
bool displayNameLess(std::string_view a, std::string_view b) {
  const auto folded = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : int{c}; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](unsigned char x, unsigned char y) {
    return folded(x) < folded(y);
  });
}

DisplayStore::DisplayStore(SystemNotifications* notifications) {
  if (notifications)
    screenChanges_ = notifications->screenParametersChanged.connect([this] { handleScreenChange(); });
  refresh();
}

void DisplayStore::refresh() {
  DDCIO::clearCaches();
  std::vector<DisplayTarget> targets;
  for (const DisplayInfo& info : DDCIO::onlineDisplayInfos()) {
    const std::string base = info.productName ? *info.productName : L10n::text("unknown_display_name");
    const std::string label = info.connectionLabel ? *info.connectionLabel
                              : info.isBuiltIn     ? L10n::text("built_in_display_label")
                                                   : L10n::text("external_display_label");
    targets.push_back({info.displayID, base + " (" + label + ")", info.isBuiltIn, info.stableKey, info.formerKeys});
  }
  std::stable_sort(targets.begin(), targets.end(),
                   [](const DisplayTarget& a, const DisplayTarget& b) { return displayNameLess(a.name, b.name); });
  displays = std::move(targets);
}
