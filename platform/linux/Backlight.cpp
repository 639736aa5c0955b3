// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/Backlight.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/linux/DrmConnectors.hpp"

namespace fs = std::filesystem;

namespace {
std::optional<std::uint32_t> readNumber(const fs::path& path) {
  const auto text = readTextFile(path);
  if (!text) return std::nullopt;
  std::uint32_t value = 0;
  const char* begin = text->data();
  const char* end = begin + text->size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr == begin) return std::nullopt;
  return value;
}

int kindRank(const fs::path& folder) {
  const auto type = readTextFile(folder / "type").value_or("");
  if (type.compare(0, 3, "raw") == 0) return 0;
  if (type.compare(0, 8, "platform") == 0) return 1;
  if (type.compare(0, 8, "firmware") == 0) return 2;
  return 3;
}

bool isBacklightFolder(const fs::path& folder) {
  std::error_code ec;
  return fs::exists(folder / "max_brightness", ec) && fs::exists(folder / "brightness", ec);
}

// The ddcci driver names its devices "ddcci<bus>" (and its dependents "ddcci<bus>e<address>").
bool isMonitorDevice(const fs::path& folder) { return folder.filename().string().compare(0, 5, "ddcci") == 0; }

// The I2C bus a monitor's backlight device hangs off: the innermost i2c-N
// folder its device link leads through, else N of its "ddcciN" name.
std::optional<int> ddcciBus(const fs::path& folder) {
  if (!isMonitorDevice(folder)) return std::nullopt;
  const auto name = folder.filename().string();
  std::error_code ec;
  const auto device = fs::canonical(folder / "device", ec);
  std::optional<int> bus;
  if (!ec)
    for (const auto& part : device)
      if (auto n = i2cBusNumber(part.string())) bus = n;
  if (bus) return bus;
  return i2cBusNumber("i2c-" + name.substr(5));
}
}  // namespace

Backlight::Backlight(fs::path sysRoot) : sysRoot_(std::move(sysRoot)) {}

std::optional<BacklightDevice> Backlight::deviceFor(const fs::path& connectorFolder) const {
  std::error_code ec;
  if (!connectorFolder.empty()) {
    for (fs::directory_iterator it(connectorFolder, ec), end; !ec && it != end; it.increment(ec)) {
      if (isBacklightFolder(it->path()))
        return BacklightDevice{it->path().filename().string(), it->path()};
    }
  }
  std::vector<fs::path> devices;
  for (fs::directory_iterator it(sysRoot_ / "class" / "backlight", ec), end; !ec && it != end; it.increment(ec)) {
    if (isBacklightFolder(it->path()) && !isMonitorDevice(it->path())) devices.push_back(it->path());
  }
  if (devices.empty()) return std::nullopt;
  std::stable_sort(devices.begin(), devices.end(), [](const fs::path& a, const fs::path& b) {
    const auto ra = kindRank(a), rb = kindRank(b);
    return ra != rb ? ra < rb : a.filename() < b.filename();
  });
  return BacklightDevice{devices.front().filename().string(), devices.front()};
}

std::optional<BacklightDevice> Backlight::ddcciDeviceFor(int bus) const {
  std::error_code ec;
  for (fs::directory_iterator it(sysRoot_ / "class" / "backlight", ec), end; !ec && it != end; it.increment(ec)) {
    if (isBacklightFolder(it->path()) && ddcciBus(it->path()) == bus)
      return BacklightDevice{it->path().filename().string(), it->path()};
  }
  return std::nullopt;
}

std::optional<std::uint32_t> Backlight::maxBrightness(const BacklightDevice& device) const {
  auto max = readNumber(device.folder / "max_brightness");
  if (!max || *max == 0) return std::nullopt;
  return max;
}

std::optional<double> Backlight::fraction(const BacklightDevice& device) const {
  const auto max = maxBrightness(device);
  if (!max) return std::nullopt;
  // actual_brightness is what the hardware reports; some drivers only offer brightness.
  auto value = readNumber(device.folder / "actual_brightness");
  if (!value) value = readNumber(device.folder / "brightness");
  if (!value) return std::nullopt;
  return std::clamp(static_cast<double>(*value) / *max, 0.0, 1.0);
}

std::uint32_t Backlight::rawLevel(double fraction, std::uint32_t max) {
  const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
  const auto raw = static_cast<std::uint32_t>(std::lround(clamped * max));
  return raw == 0 && clamped > 0 && max > 0 ? 1 : raw;
}

int Backlight::writeRaw(const BacklightDevice& device, std::uint32_t value) const {
  std::error_code ec;
  if (!fs::exists(device.folder / "brightness", ec)) return ENODEV;
  std::ofstream out(device.folder / "brightness");
  if (!out) return errno != 0 ? errno : EACCES;
  out << value << '\n';
  out.flush();
  return out ? 0 : EIO;
}
