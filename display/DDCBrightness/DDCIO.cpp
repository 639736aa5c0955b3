// SPDX-License-Identifier: GPL-3.0-or-later
// DDC/CI brightness on a monitor's I2C bus, and backlight devices.
#include "display/DDCBrightness/DDCIO.hpp"

#include <algorithm>
#include <cmath>

#include "base/MainLoop.hpp"
#include "base/Numbers.hpp"
#include "base/ProcessWide.hpp"
#include "display/DDCBrightness/DDCIO+State.hpp"
#include "ports/Backlights.hpp"
#include "ports/SystemPorts.hpp"
#include "services/DDCDebug.hpp"

namespace DDCIO::detail {
Caches& caches() {
  return processWide<Caches>();
}

std::string resultText(const I2CResult& result) {
  std::string text = i2cStatusText(result.status);
  if (!result.error.empty()) text += " (" + result.error + ")";
  return text;
}

void logLine(DisplayID displayID, const std::string& text) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, text); });
}
}  // namespace DDCIO::detail

namespace {
using namespace DDCIO::detail;

constexpr std::uint8_t kWireWriteAddress = 0x6E;
constexpr std::uint8_t kBrightnessCode = 0x10;
// Below a microsecond a wait is clock arithmetic, not time to wait.
constexpr double kClockSlack = 1e-6;

// Trace lines are built only when someone listens.
void log(DisplayID displayID, const char* text) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, text); });
}
template <typename MakeText>
void log(DisplayID displayID, MakeText&& makeText) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, makeText()); });
}

// Shortest text that reads back as the same single-precision level, always
// with a fraction ("1.0", "0.37").
std::string levelText(float level) {
  std::string text = formatShortest(level);
  if (text.find_first_of(".eni") == std::string::npos) text += ".0";
  return text;
}

std::string busName(int bus) { return "i2c-" + std::to_string(bus); }

// A message's checksum covers its destination address and every byte before the checksum.
std::uint8_t checksum(std::uint8_t destination, const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t sum = destination;
  for (std::size_t i = 0; i < length; ++i) sum ^= bytes[i];
  return sum;
}
template <std::size_t N>
std::uint8_t checksum(const std::array<std::uint8_t, N>& packet) {
  return checksum(kWireWriteAddress, packet.data(), N - 1);
}

void forget(DisplayID displayID) { caches().displayInfos.erase(displayID); }

// Every transfer is stamped on its bus's clock, which paces the next one.
void stampBus(DisplayID displayID) {
  if (const MainLoop* loop = systemPorts().mainLoop) caches().lastMessageAt[displayID] = loop->uptime();
}

// What a failed transfer means for retrying and for the user.
DDCIO::WriteFailure failureFor(I2CStatus status) {
  switch (status) {
    case I2CStatus::busy: return DDCIO::WriteFailure::busy;
    case I2CStatus::noModule: return DDCIO::WriteFailure::driverMissing;
    case I2CStatus::noAccess: return DDCIO::WriteFailure::notPermitted;
    case I2CStatus::claimedByDriver: return DDCIO::WriteFailure::kernelDriver;
    default: return DDCIO::WriteFailure::noAnswer;
  }
}

// A panel's refusal has its own remedies, not those of a monitor's bus.
DDCIO::WriteFailure panelFailureFor(BacklightStatus status) {
  switch (status) {
    case BacklightStatus::ok: return DDCIO::WriteFailure::none;
    case BacklightStatus::noAccess: return DDCIO::WriteFailure::backlightNotPermitted;
    default: return DDCIO::WriteFailure::noAnswer;
  }
}

DDCIO::WriteFailure setPanelBrightness(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps) {
  const DisplayID displayID = info.displayID;
  const float level = std::min(static_cast<float>(static_cast<double>(value) / steps), 1.0f);
  Backlights* backlights = systemPorts().backlights;
  if (!backlights) {
    log(displayID, "no backlight facility");
    return DDCIO::WriteFailure::noChannel;
  }
  const BacklightStatus status = backlights->setLevel(*info.backlight, level);
  log(displayID, [&] { return "panel set via backlight " + *info.backlight + " brightness=" + levelText(level) +
                     " result=" + backlightStatusText(status); });
  const auto failure = panelFailureFor(status);
  if (failure != DDCIO::WriteFailure::none) forget(displayID);
  return failure;
}

// A monitor whose bus the ddcci driver owns: the driver's backlight device
// carries its brightness, a fraction of the monitor's range.
DDCIO::WriteFailure setMonitorBacklight(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps) {
  Backlights* backlights = systemPorts().backlights;
  const BacklightStatus status =
      backlights ? backlights->setLevel(*info.backlight, static_cast<double>(value) / steps) : BacklightStatus::noDevice;
  stampBus(info.displayID);
  log(info.displayID, [&] { return "monitor set via backlight " + *info.backlight + " value=" + std::to_string(value) +
                          " result=" + backlightStatusText(status); });
  return status == BacklightStatus::ok ? DDCIO::WriteFailure::none : DDCIO::WriteFailure::noAnswer;
}

// The value is sent scaled to the maximum the monitor last replied with.
DDCIO::WriteFailure setMonitorDDC(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps) {
  const std::uint32_t maximum = DDCIO::brightnessMaximum(info.displayID).value_or(DDCIO::kPercentSteps);
  const auto scaled = std::lround(static_cast<double>(value) * maximum / steps);
  const auto packet = DDCIO::setVCPFeaturePacket(static_cast<std::uint16_t>(std::clamp<long>(scaled, 1, maximum)));
  log(info.displayID, [&] { return "writing Set VCP brightness to " + busName(*info.i2cBus); });
  const auto result = transfer(info.displayID, *info.i2cBus, {packet.begin(), packet.end()}, 0);
  log(info.displayID, [&] { return busName(*info.i2cBus) + " write result=" + resultText(result); });
  return result.status == I2CStatus::ok ? DDCIO::WriteFailure::none : failureFor(result.status);
}

std::optional<double> fractionToPercent(float level) {
  return static_cast<double>(std::clamp(level, 0.0f, 1.0f)) * 100.0;
}

}  // namespace

I2CResult DDCIO::detail::transfer(DisplayID displayID, int bus, std::vector<std::uint8_t> bytes, std::size_t readLength,
                                  bool replyFollows) {
  I2CBuses* buses = systemPorts().i2c;
  if (!buses) return {I2CStatus::noDevice, {}, "no I2C facility"};
  I2CResult result = buses->transfer({bus, kChipAddress, std::move(bytes), readLength, replyFollows});
  stampBus(displayID);
  return result;
}

std::optional<double> DDCIO::detail::backlightPercent(const DisplayInfo& info) {
  const DisplayID displayID = info.displayID;
  Backlights* backlights = systemPorts().backlights;
  const auto level = backlights && info.backlight ? backlights->level(*info.backlight) : std::nullopt;
  log(displayID, [&] { return "get via backlight " + orNil(info.backlight) + " value=" +
                     (level ? levelText(static_cast<float>(*level)) : "none"); });
  if (!level) return std::nullopt;
  return fractionToPercent(static_cast<float>(*level));
}

std::optional<double> DDCIO::detail::monitorBacklightPercent(const DisplayInfo& info) {
  Backlights* backlights = systemPorts().backlights;
  if (!backlights) return std::nullopt;
  const auto level = backlights->level(*info.backlight);
  const std::uint32_t maximum = backlights->steps(*info.backlight);
  log(info.displayID, [&] { return "monitor get via backlight " + *info.backlight + " value=" +
                          (level ? formatShortest(*level) : "none") + " maximum=" + std::to_string(maximum); });
  if (!level || maximum == 0) return std::nullopt;
  caches().brightnessMaximums[info.displayID] = static_cast<std::uint16_t>(std::min<std::uint32_t>(maximum, 0xFFFF));
  return static_cast<double>(std::lround(*level * maximum)) / maximum * 100.0;
}

DDCIO::Channel DDCIO::channelFor(const DisplayInfo& info) {
  if (info.isBuiltIn) return info.backlight ? Channel::panelBacklight : Channel::none;
  if (info.backlight) return Channel::monitorBacklight;
  return info.i2cBus ? Channel::ddc : Channel::none;
}

std::array<std::uint8_t, 7> DDCIO::setVCPFeaturePacket(std::uint16_t value) {
  std::array<std::uint8_t, 7> packet = {kDataAddress, 0x84, 0x03, kBrightnessCode, static_cast<std::uint8_t>(value >> 8),
                                        static_cast<std::uint8_t>(value & 0xFF), 0};
  packet[6] = checksum(packet);
  return packet;
}

std::array<std::uint8_t, 5> DDCIO::getVCPFeatureRequest() {
  std::array<std::uint8_t, 5> request = {kDataAddress, 0x82, 0x01, kBrightnessCode, 0};
  request[4] = checksum(request);
  return request;
}

std::optional<DDCIO::VCPValue> DDCIO::parseVCPFeatureReply(const std::uint8_t* bytes, std::size_t length) {
  // Source, length (0x80 | 8), Get VCP reply, result 0 (supported), VCP code;
  // the checksum is to the host (0x50) over everything before it.
  if (!bytes || length < 11 || bytes[0] != kWireWriteAddress || bytes[1] != 0x88 || bytes[2] != 0x02 ||
      bytes[3] != 0x00 || bytes[4] != kBrightnessCode || checksum(0x50, bytes, 10) != bytes[10])
    return std::nullopt;
  const auto maximum = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  const auto current = static_cast<std::uint16_t>((bytes[8] << 8) | bytes[9]);
  if (maximum == 0) return std::nullopt;
  return VCPValue{maximum, current};
}

std::uint32_t DDCIO::brightnessSteps(DisplayID displayID) {
  Backlights* backlights = systemPorts().backlights;
  const auto info = displayInfo(displayID);
  const std::uint32_t steps =
      info && backlights && channelFor(*info) == Channel::panelBacklight ? backlights->steps(*info->backlight) : 0;
  return steps > 0 ? steps : kPercentSteps;
}

bool DDCIO::setBrightness(DisplayID displayID, std::uint32_t value, std::uint32_t steps) {
  auto& failures = caches().writeFailures;
  const auto outcome = [&](WriteFailure failure) {
    if (failure == WriteFailure::none) {
      failures.erase(displayID);
      return true;
    }
    failures[displayID] = failure;
    return false;
  };
  const auto info = displayInfo(displayID);
  if (!info) {
    log(displayID, "no display info");
    return outcome(WriteFailure::noChannel);
  }
  if (steps == 0) steps = kPercentSteps;
  const Channel channel = channelFor(*info);
  if (channel == Channel::panelBacklight) return outcome(setPanelBrightness(*info, value, steps));
  if (info->isBuiltIn) {
    log(displayID, "no backlight device");
    return outcome(WriteFailure::noChannel);
  }
  log(displayID, [&] { return "vendor=" + std::to_string(info->vendor) + " model=" + std::to_string(info->model) +
                     " serial=" + std::to_string(info->serial) + " key=" + orNil(info->stableKey) +
                     " connector=" + info->connector + " name=" + orNil(info->productName); });
  if (channel == Channel::none) {
    log(displayID, "no DDC/CI bus");
    return outcome(WriteFailure::noChannel);
  }
  // The monitor would ignore a message that comes too soon after the last
  // one (and one inside a read would break it): the caller comes back.
  if (const double wait = messageWait(displayID); wait > 0) {
    log(displayID, [&] { return "bus not free for another " + std::to_string(std::lround(wait * 1000)) + " ms"; });
    return outcome(WriteFailure::busy);
  }
  const WriteFailure failure =
      channel == Channel::ddc ? setMonitorDDC(*info, value, steps) : setMonitorBacklight(*info, value, steps);
  if (failure == WriteFailure::none) {
    hurryPatientRead(displayID);  // it answers again: so may its read
    return outcome(WriteFailure::none);
  }
  // Whatever made the monitor fail (a reconnect, a new bus) needs a fresh
  // lookup next time; a bus another program holds is still the right one.
  if (failure != WriteFailure::busy) forget(displayID);
  return outcome(failure);
}

DDCIO::WriteFailure DDCIO::lastWriteFailure(DisplayID displayID) {
  const auto& failures = caches().writeFailures;
  const auto found = failures.find(displayID);
  return found == failures.end() ? WriteFailure::none : found->second;
}

double DDCIO::messageWait(DisplayID displayID) {
  const auto& stamps = caches().lastMessageAt;
  const auto last = stamps.find(displayID);
  const MainLoop* loop = systemPorts().mainLoop;
  if (caches().awaitingReply.contains(displayID)) return kMessageIntervalSeconds;
  if (last == stamps.end() || !loop) return 0;
  const double wait = last->second + kMessageIntervalSeconds - loop->uptime();
  return wait > kClockSlack ? wait : 0;
}

void DDCIO::clearCaches() { caches().displayInfos.clear(); }

void DDCIO::resetBusTiming() {
  caches().lastMessageAt.clear();
  caches().writeFailures.clear();
  caches().replyWaitIndex.clear();
  caches().brightnessMaximums.clear();
  caches().assumedMaximums.clear();
  caches().patientReads.clear();
}

const std::map<DisplayID, DisplayInfo>& DDCIO::cachedDisplayInfos() { return caches().displayInfos; }
