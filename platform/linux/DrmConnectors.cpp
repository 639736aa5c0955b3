// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/DrmConnectors.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "display/Edid.hpp"

namespace fs = std::filesystem;

std::optional<std::string> readTextFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return content.str();
}

std::optional<std::vector<std::uint8_t>> readBinaryFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<int> i2cBusNumber(const std::string& name) {
  constexpr std::string_view prefix = "i2c-";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  int number = 0;
  const char* begin = name.data() + prefix.size();
  const char* end = name.data() + name.size();
  const auto [ptr, ec] = std::from_chars(begin, end, number);
  if (ec != std::errc() || ptr != end || number < 0) return std::nullopt;
  return number;
}

bool DrmConnector::isBuiltIn() const {
  for (std::string_view prefix : {"eDP", "LVDS", "DSI"})
    if (name.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

std::string DrmConnector::transportType() const {
  const auto type = name.substr(0, name.find('-'));
  if (type == "DP") return "DisplayPort";
  if (type == "HDMI") return "HDMI";
  if (type == "DVI") return "DVI";
  return type;
}

namespace {
// The bus named by a folder's i2c-N children (DisplayPort AUX channels appear so).
std::optional<int> childBus(const fs::path& folder) {
  std::error_code ec;
  std::optional<int> lowest;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (auto n = i2cBusNumber(it->path().filename().string()); n && (!lowest || *n < *lowest)) lowest = n;
  }
  return lowest;
}

// The bus behind the connector's "ddc" link: ddc/i2c-dev/i2c-N, or the link's own target name.
std::optional<int> ddcLinkBus(const fs::path& folder) {
  const auto ddc = folder / "ddc";
  std::error_code ec;
  if (!fs::exists(ddc, ec)) return std::nullopt;
  if (auto n = childBus(ddc / "i2c-dev")) return n;
  const auto target = fs::is_symlink(ddc, ec) ? fs::read_symlink(ddc, ec) : fs::path();
  if (!ec && !target.empty()) return i2cBusNumber(target.filename().string());
  return std::nullopt;
}
}  // namespace

DrmConnectors::DrmConnectors(fs::path sysRoot, fs::path devRoot, EdidProbe probe)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)), probe_(std::move(probe)) {}

std::vector<DrmConnector> DrmConnectors::scan() const {
  std::vector<DrmConnector> connectors;
  std::error_code ec;
  for (fs::directory_iterator it(sysRoot_ / "class" / "drm", ec), end; !ec && it != end; it.increment(ec)) {
    const auto entry = it->path().filename().string();
    // Connector folders are "card<N>-<name>"; "card0" itself and "renderD128" are not.
    const auto dash = entry.find('-');
    if (entry.compare(0, 4, "card") != 0 || dash == std::string::npos) continue;
    DrmConnector connector;
    connector.name = entry.substr(dash + 1);
    connector.folder = it->path();
    const auto status = readTextFile(connector.folder / "status");
    connector.connected = status && status->compare(0, 9, "connected") == 0;
    connector.edid = readBinaryFile(connector.folder / "edid").value_or(std::vector<std::uint8_t>{});
    connector.i2cBus = connector.transportType() == "DisplayPort" || connector.name.compare(0, 3, "eDP") == 0
                           ? childBus(connector.folder)
                           : std::nullopt;
    if (!connector.i2cBus) connector.i2cBus = ddcLinkBus(connector.folder);
    connectors.push_back(std::move(connector));
  }
  std::sort(connectors.begin(), connectors.end(),
            [](const DrmConnector& a, const DrmConnector& b) { return a.folder < b.folder; });
  return connectors;
}

bool DrmConnectors::mayServeADisplay(int bus) const {
  auto name = readTextFile(sysRoot_ / "bus" / "i2c" / "devices" / ("i2c-" + std::to_string(bus)) / "name");
  if (!name) return true;  // nothing says otherwise
  std::transform(name->begin(), name->end(), name->begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // Mainboard controllers: their 0x50 is a memory module's SPD, never a monitor.
  for (std::string_view kind : {"smbus", "i801", "piix4", "ismt", "designware"})
    if (name->find(kind) != std::string::npos) return false;
  return true;
}

std::vector<std::optional<int>> DrmConnectors::busesAnswering(const std::vector<std::vector<std::uint8_t>>& wanted,
                                                              const std::set<int>& taken) {
  std::vector<int> candidates;
  std::error_code ec;
  for (fs::directory_iterator it(devRoot_, ec), end; !ec && it != end; it.increment(ec)) {
    if (auto n = i2cBusNumber(it->path().filename().string()); n && mayServeADisplay(*n)) candidates.push_back(*n);
  }
  std::sort(candidates.begin(), candidates.end());
  if (lastAnswer_ && lastAnswer_->wanted == wanted && lastAnswer_->taken == taken &&
      lastAnswer_->candidates == candidates)
    return lastAnswer_->buses;

  std::vector<std::optional<int>> buses(wanted.size());
  std::set<int> given = taken;
  std::map<int, std::optional<std::vector<std::uint8_t>>> answers;
  const auto answer = [&](int bus) -> const std::optional<std::vector<std::uint8_t>>& {
    if (const auto known = answers.find(bus); known != answers.end()) return known->second;
    ++probes_;
    return answers[bus] = probe_(bus);
  };
  for (std::size_t i = 0; i < wanted.size() && probe_; ++i) {
    if (wanted[i].size() < kEdidBlockSize) continue;
    for (int bus : candidates) {
      if (given.count(bus)) continue;
      const auto& edid = answer(bus);
      if (edid && sameEdid(*edid, wanted[i])) {
        buses[i] = bus;
        given.insert(bus);
        break;
      }
    }
  }
  lastAnswer_ = Answer{wanted, taken, std::move(candidates), buses};
  return buses;
}
