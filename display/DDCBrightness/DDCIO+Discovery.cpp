// SPDX-License-Identifier: GPL-3.0-or-later
// Display identity: the information dictionary, the registry's product name
// and connection, and the online list.
#include <algorithm>
#include <array>
#include <cctype>
#include <sstream>
#include <string_view>

#include "display/DDCBrightness/DDCIO+State.hpp"
#include "ports/DeviceRegistry.hpp"
#include "ports/DisplayServices.hpp"
#include "ports/SystemPorts.hpp"
#include "services/DDCDebug.hpp"
#include "services/L10n.hpp"

namespace {

// Registry entries are plain handles here: nothing to release after use.
std::optional<std::string> productName(DeviceRegistry& registry, RegistryEntry entry) {
  const auto attributes = registry.searchProperty(entry, "DisplayAttributes");
  if (!attributes || !attributes->dictionary()) return std::nullopt;
  const PropertyDictionary* product = dictionaryValue(*attributes->dictionary(), "ProductAttributes");
  return product ? stringValue(*product, "ProductName") : std::nullopt;
}

// The raw texts that may name the connection, in the order they are trusted.
std::vector<std::string> connectionCandidates(DeviceRegistry& registry, RegistryEntry entry,
                                              const std::string& ioLocation) {
  std::vector<std::string> candidates;
  if (const auto attributes = registry.searchProperty(entry, "DisplayAttributes"); attributes && attributes->dictionary()) {
    if (const PropertyDictionary* transport = dictionaryValue(*attributes->dictionary(), "Transport")) {
      for (const char* key : {"Downstream", "Upstream"})
        if (auto text = stringValue(*transport, key)) candidates.push_back(std::move(*text));
    }
  }
  static constexpr std::array<std::string_view, 8> kProperties = {
      "Location",           "BranchDeviceID",          "HDCPMessageTransportType", "TransportDescription",
      "TransportTypeDescription", "PortDescription", "PortTypeDescription",      "Description"};
  for (const auto key : kProperties) {
    const auto value = registry.searchProperty(entry, key);
    if (value && value->string()) candidates.push_back(*value->string());
  }
  candidates.push_back(ioLocation);
  return candidates;
}

std::optional<std::string> connectionLabel(const DisplayInfo& info, DeviceRegistry* registry) {
  if (info.isBuiltIn) return L10n::text("built_in_display_label");
  if (!info.ioLocation || !registry) return std::nullopt;
  const auto entry = registry->entryFromPath(*info.ioLocation);
  if (!entry) return std::nullopt;
  for (const auto& raw : connectionCandidates(*registry, *entry, *info.ioLocation)) {
    if (const auto name = DDCIO::normalizedConnectionLabel(raw))
      return L10n::text("external_display_label") + "\u30FB" + *name;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DDCIO::normalizedConnectionLabel(std::string_view raw) {
  std::string upper(raw);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const auto contains = [&upper](std::string_view part) { return upper.find(part) != std::string::npos; };
  if (contains("HDMI")) return "HDMI";
  if (contains("DISPLAYPORT") || upper == "DP" || contains("/DP") || contains("DPTX") || contains("DCPDP"))
    return "DisplayPort";
  if (contains("THUNDERBOLT")) return "Thunderbolt";
  if (contains("USB-C") || contains("USBC")) return "USB-C";
  if (contains("DVI")) return "DVI";
  return std::nullopt;
}

std::optional<PropertyDictionary> DDCIO::coreDisplayInfoDictionary(DisplayID displayID) {
  DisplayServices* displays = systemPorts().displays;
  if (!displays || !displays->hasInfoDictionaryFunction()) {
    DDCDebug::log([&] { return DDCDebug::displayLine(displayID, "CoreDisplay_DisplayCreateInfoDictionary symbol missing"); });
    return std::nullopt;
  }
  auto value = displays->infoDictionary(displayID);
  if (!value || !value->dictionary()) return std::nullopt;
  return std::move(*std::get_if<PropertyDictionary>(&value->value));
}

std::optional<DisplayInfo> DDCIO::displayInfo(DisplayID displayID) {
  auto& cache = detail::caches().displayInfos;
  if (const auto cached = cache.find(displayID); cached != cache.end()) return cached->second;

  const auto dictionary = coreDisplayInfoDictionary(displayID);
  if (!dictionary) return std::nullopt;
  DisplayServices& displays = *systemPorts().displays;  // present: the dictionary came from it
  DeviceRegistry* registry = systemPorts().registry;

  DisplayInfo info;
  info.displayID = displayID;
  info.uuid = stringValue(*dictionary, "kCGDisplayUUID");
  info.ioLocation = stringValue(*dictionary, "IODisplayLocation");
  if (const auto former = stringValue(*dictionary, "FormerDisplayUUIDs")) {
    std::istringstream words(*former);
    for (std::string key; words >> key;) info.formerUUIDs.push_back(key);
  }
  info.vendor = displays.vendorNumber(displayID);
  info.model = displays.modelNumber(displayID);
  info.serial = displays.serialNumber(displayID);
  info.isBuiltIn = displays.isBuiltIn(displayID);
  if (info.ioLocation && registry) {
    if (const auto entry = registry->entryFromPath(*info.ioLocation)) info.productName = productName(*registry, *entry);
  }
  info.connectionLabel = connectionLabel(info, registry);
  cache[displayID] = info;
  return info;
}

std::vector<DisplayInfo> DDCIO::onlineDisplayInfos() {
  std::vector<DisplayInfo> infos;
  DisplayServices* displays = systemPorts().displays;
  if (!displays) return infos;
  const auto online = displays->onlineDisplayList();
  if (!online) return infos;
  for (const DisplayID displayID : *online) {
    if (auto info = displayInfo(displayID)) {
      infos.push_back(std::move(*info));
    } else {
      DDCDebug::log([&] { return DDCDebug::displayLine(displayID, "CoreDisplay info unavailable"); });
    }
  }
  return infos;
}
