// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DisplayDirectory.hpp"

#include <algorithm>
#include <cctype>
#include <set>

#include "display/Edid.hpp"

namespace {
// Upper case, without dashes, with the spellings of the connector types unified.
std::string canonicalName(std::string_view name) {
  std::string text;
  for (char c : name)
    if (c != '-' && c != '_') text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  for (auto [from, to] : {std::pair<std::string_view, std::string_view>{"DISPLAYPORT", "DP"}, {"HDMIA", "HDMI"},
                          {"HDMIB", "HDMI"}, {"DVII", "DVI"}, {"DVID", "DVI"}, {"DVIA", "DVI"}}) {
    if (text.compare(0, from.size(), from) == 0) text = std::string(to) + text.substr(from.size());
  }
  return text;
}

// Kernel connectors count from 1 ("DP-1"); drivers whose X outputs count from
// 0 ("DP-0", "DisplayPort-0", as nvidia and amdgpu do) name other connectors
// with the same words, so their names cannot pair outputs with connectors.
bool namesFollowKernelNumbering(const std::vector<SessionOutput>& outputs) {
  return std::none_of(outputs.begin(), outputs.end(), [](const SessionOutput& output) {
    const auto& name = output.name;
    const auto digits = name.find_last_not_of("0123456789");
    return digits != std::string::npos && digits + 1 < name.size() &&
           name.find_first_not_of('0', digits + 1) == std::string::npos;
  });
}

bool isBuiltInName(std::string_view name) {
  for (std::string_view prefix : {"eDP", "LVDS", "DSI"})
    if (name.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}
}  // namespace

bool outputMatchesConnector(std::string_view outputName, std::string_view connectorName) {
  return canonicalName(outputName) == canonicalName(connectorName);
}

DisplayDirectory::DisplayDirectory(OutputSource outputs, DrmConnectors connectors, Backlight backlight)
    : outputs_(std::move(outputs)), scanner_(std::move(connectors)), backlight_(std::move(backlight)) {}

const LinuxDisplay* DisplayDirectory::display(std::uint32_t id) const {
  for (const auto& d : displays_)
    if (d.id == id) return &d;
  return nullptr;
}

const std::vector<LinuxDisplay>& DisplayDirectory::refresh() {
  connectors_ = scanner_.scan();
  displays_ = join(outputs_ ? outputs_() : std::vector<SessionOutput>{}, connectors_, &backlight_);
  findBusesByEdid();
  for (auto& display : displays_)
    if (!display.isBuiltIn && display.i2cBus) display.backlight = backlight_.ddcciDeviceFor(*display.i2cBus);
  return displays_;
}

// External monitors whose bus sysfs does not name (no connector, as under a
// driver without kernel mode setting, or a connector without a ddc link).
void DisplayDirectory::findBusesByEdid() {
  std::set<int> taken;
  for (const auto& connector : connectors_)
    if (connector.i2cBus) taken.insert(*connector.i2cBus);
  std::vector<LinuxDisplay*> seeking;
  std::vector<std::vector<std::uint8_t>> wanted;
  for (auto& display : displays_) {
    if (display.i2cBus || display.isBuiltIn || !parseEdid(display.edid)) continue;
    seeking.push_back(&display);
    wanted.push_back(display.edid);
  }
  if (seeking.empty()) return;
  const auto buses = scanner_.busesAnswering(wanted, taken);
  for (std::size_t i = 0; i < seeking.size(); ++i) seeking[i]->i2cBus = buses[i];
}

std::vector<LinuxDisplay> DisplayDirectory::join(const std::vector<SessionOutput>& outputs,
                                                 const std::vector<DrmConnector>& connectors,
                                                 const Backlight* backlight) {
  std::vector<LinuxDisplay> list;
  std::vector<bool> claimed(connectors.size(), false);
  std::vector<const SessionOutput*> online;
  for (const auto& o : outputs)
    if (o.online) online.push_back(&o);

  // Names pair only where both sides count alike; otherwise an output without
  // an EDID match stays unpaired rather than driving another monitor.
  const bool byName = namesFollowKernelNumbering(outputs);
  const auto sameName = [byName](const SessionOutput& output, const DrmConnector& connector) {
    return byName && outputMatchesConnector(output.name, connector.name);
  };
  auto claim = [&](const SessionOutput& output) -> std::optional<DrmConnector> {
    // Same EDID, preferring the one of the same name when identical monitors share an EDID.
    std::optional<std::size_t> byEdid;
    for (std::size_t i = 0; i < connectors.size(); ++i) {
      if (claimed[i] || !connectors[i].connected || !sameEdid(output.edid, connectors[i].edid)) continue;
      if (!byEdid || sameName(output, connectors[i])) byEdid = i;
      if (sameName(output, connectors[i])) break;
    }
    std::optional<std::size_t> chosen = byEdid;
    for (std::size_t i = 0; !chosen && i < connectors.size(); ++i)
      if (!claimed[i] && sameName(output, connectors[i])) chosen = i;
    if (!chosen) return std::nullopt;
    claimed[*chosen] = true;
    return connectors[*chosen];
  };

  for (const auto* output : online) {
    LinuxDisplay display;
    display.id = output->id;
    display.outputName = output->name;
    display.connector = claim(*output);
    if (display.connector) display.i2cBus = display.connector->i2cBus;
    display.isBuiltIn = display.connector ? display.connector->isBuiltIn() : isBuiltInName(output->name);
    display.edid = !output->edid.empty() || !display.connector ? output->edid : display.connector->edid;
    if (display.isBuiltIn && backlight)
      display.backlight = backlight->deviceFor(display.connector ? display.connector->folder : std::filesystem::path());
    list.push_back(std::move(display));
  }
  return list;
}
