// SPDX-License-Identifier: GPL-3.0-or-later
// DDC/CI brightness over a display's audio-video service, and the built-in
// panel through its brightness functions or the registry's float parameter.
#include "display/DDCBrightness/DDCIO.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/MainLoop.hpp"
#include "base/Numbers.hpp"
#include "display/DDCBrightness/DDCIO+State.hpp"
#include "ports/DeviceRegistry.hpp"
#include "ports/DisplayServices.hpp"
#include "ports/PanelBrightnessServices.hpp"
#include "ports/SystemPorts.hpp"
#include "services/DDCDebug.hpp"
#include "base/ProcessWide.hpp"

namespace DDCIO::detail {
Caches& caches() {
  return processWide<Caches>();
}

std::string hexCode(std::int32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(static_cast<std::uint32_t>(code)));
  return buffer;
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

// A message's checksum covers its destination and source addresses and every byte before the checksum.
std::uint8_t checksum(std::uint8_t destination, std::uint8_t source, const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t sum = destination ^ source;
  for (std::size_t i = 0; i < length; ++i) sum ^= bytes[i];
  return sum;
}
template <std::size_t N>
std::uint8_t checksum(const std::array<std::uint8_t, N>& packet) {
  return checksum(kWireWriteAddress, static_cast<std::uint8_t>(DDCIO::kDataAddress), packet.data(), N - 1);
}

void forget(DisplayID displayID) {
  caches().displayInfos.erase(displayID);
  caches().avServices.erase(displayID);
}

// Every transfer is stamped on its bus's clock, which paces the next one.
void stampBus(DisplayID displayID) {
  if (const MainLoop* loop = systemPorts().mainLoop) caches().lastMessageAt[displayID] = loop->uptime();
}

}  // namespace

std::int32_t DDCIO::detail::ioavWriteI2C(DisplayID displayID, AVService& service, const std::uint8_t* bytes, std::uint32_t length) {
  AVServices* av = systemPorts().avServices;
  if (!av || !av->hasWriteI2C()) {
    DDCDebug::log([] { return std::string("IOAVServiceWriteI2C symbol missing"); });
    return IOResult::unsupported;
  }
  const std::int32_t result = av->writeI2C(service, DDCIO::kChipAddress, DDCIO::kDataAddress, bytes, length);
  stampBus(displayID);
  return result;
}

std::int32_t DDCIO::detail::ioavReadI2C(DisplayID displayID, AVService& service, std::uint8_t* bytes, std::uint32_t length) {
  AVServices* av = systemPorts().avServices;
  if (!av || !av->hasReadI2C()) {
    DDCDebug::log([] { return std::string("IOAVServiceReadI2C symbol missing"); });
    return IOResult::unsupported;
  }
  const std::int32_t result = av->readI2C(service, DDCIO::kChipAddress, DDCIO::kDataAddress, bytes, length);
  stampBus(displayID);
  return result;
}

namespace {
// What a failed transfer's code means for retrying and for the user.
DDCIO::WriteFailure failureFor(std::int32_t code) {
  switch (code) {
    case IOResult::busy: return DDCIO::WriteFailure::busy;
    case IOResult::notAttached: return DDCIO::WriteFailure::driverMissing;
    case IOResult::notPermitted: return DDCIO::WriteFailure::notPermitted;
    case IOResult::exclusiveAccess: return DDCIO::WriteFailure::kernelDriver;
    default: return DDCIO::WriteFailure::noAnswer;
  }
}

// A panel's refusal has its own remedies, not those of a monitor's bus.
DDCIO::WriteFailure builtInFailureFor(std::int32_t code) {
  return code == IOResult::notPermitted ? DDCIO::WriteFailure::backlightNotPermitted : failureFor(code);
}

std::shared_ptr<AVService> ioavCreateWithService(RegistryEntry entry) {
  AVServices* av = systemPorts().avServices;
  if (!av || !av->hasCreateWithService()) {
    DDCDebug::log([] { return std::string("IOAVServiceCreateWithService symbol missing"); });
    return nullptr;
  }
  return av->createWithService(entry);
}

// The registry paths of the other online displays. Looked up here rather
// than taken from the cache, which is empty right after a display change.
std::map<std::string, DisplayID, std::less<>> otherDisplayLocations(DisplayID displayID) {
  std::map<std::string, DisplayID, std::less<>> locations;
  DisplayServices* displays = systemPorts().displays;
  const auto online = displays ? displays->onlineDisplayList() : std::nullopt;
  if (!online) return locations;
  for (const DisplayID other : *online) {
    if (other == displayID) continue;
    if (const auto info = DDCIO::displayInfo(other); info && info->ioLocation) locations.emplace(*info->ioLocation, other);
  }
  return locations;
}

}  // namespace

// The first "DCPAVServiceProxy" located "External" that the registry walk
// meets after the display's own entry and before another known display's.
std::shared_ptr<AVService> DDCIO::detail::displayAVService(const DisplayInfo& info) {
  const DisplayID displayID = info.displayID;
  if (const auto cached = caches().avServices.find(displayID); cached != caches().avServices.end())
    return cached->second;
  DeviceRegistry* registry = systemPorts().registry;
  if (!info.ioLocation || !registry) return nullptr;
  // Before the walk: reading the online list may renumber the registry's entries.
  const auto otherDisplays = otherDisplayLocations(displayID);
  const auto entries = registry->allEntries();
  if (!entries) return nullptr;

  bool matched = false;
  for (const RegistryEntry entry : *entries) {
    if (!matched) {
      if (registry->path(entry) == info.ioLocation) {
        matched = true;
        log(displayID, "matched ioLocation in registry");
      }
      continue;
    }
    // A display without a channel of its own must not take the next display's.
    if (const auto path = registry->path(entry)) {
      if (const auto other = otherDisplays.find(*path); other != otherDisplays.end()) {
        log(displayID, [&] { return "reached the registry entry of display " + std::to_string(other->second); });
        return nullptr;
      }
    }
    if (registry->name(entry) != "DCPAVServiceProxy") continue;
    auto service = ioavCreateWithService(entry);
    if (!service) continue;
    const auto value = registry->searchProperty(entry, "Location");
    const std::optional<std::string> location =
        value && value->string() ? std::optional<std::string>(*value->string()) : std::nullopt;
    log(displayID, [&] { return "found DCPAVServiceProxy location=" + orNil(location); });
    if (location == "External") {
      caches().avServices[displayID] = service;
      return service;
    }
  }
  return nullptr;
}

namespace {
// The DisplayServices path; nothing when it cannot be used.
std::optional<std::int32_t> setBuiltInBrightnessViaDisplayServices(DisplayID displayID, float level) {
  PanelBrightnessServices* panel = systemPorts().panelBrightness;
  if (!panel || !panel->hasCanChangeBrightness() || !panel->canChangeBrightness(displayID)) {
    log(displayID, "DisplayServices canChangeBrightness unavailable or false");
    return std::nullopt;
  }
  if (!panel->hasSetBrightness()) {
    log(displayID, "DisplayServices setBrightness symbol unavailable");
    return std::nullopt;
  }
  std::int32_t result = panel->setBrightness(displayID, level);
  if (result != 0) {
    log(displayID, [&] { return "built-in set via DisplayServices brightness=" + levelText(level) + " result=" + std::to_string(result); });
    if (panel->hasSetBrightnessSmooth()) {
      result = panel->setBrightnessSmooth(displayID, level);
      log(displayID, [&] { return "built-in set via DisplayServicesSmooth brightness=" + levelText(level) + " result=" + std::to_string(result); });
    }
  }
  return result;
}

DDCIO::WriteFailure setBuiltInBrightness(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps) {
  const DisplayID displayID = info.displayID;
  const float level = std::min(static_cast<float>(static_cast<double>(value) / steps), 1.0f);
  auto failure = DDCIO::WriteFailure::none;
  if (const auto result = setBuiltInBrightnessViaDisplayServices(displayID, level)) {
    log(displayID, [&] { return "built-in set via DisplayServices brightness=" + levelText(level) + " result=" + std::to_string(*result); });
    if (*result != 0) failure = builtInFailureFor(*result);
  } else {
    DeviceRegistry* registry = systemPorts().registry;
    PanelBrightnessServices* panel = systemPorts().panelBrightness;
    const auto entry = info.ioLocation && registry ? registry->entryFromPath(*info.ioLocation) : std::nullopt;
    if (!entry || !panel) {
      log(displayID, "built-in service not found");
      failure = DDCIO::WriteFailure::noChannel;
    } else {
      const std::int32_t code = panel->setFloatParameter(*entry, "brightness", level);
      log(displayID, [&] { return "built-in set via IODisplay brightness=" + levelText(level) + " result=0x" + hexCode(code) + " " +
                         panel->errorText(code); });
      if (code != 0) failure = builtInFailureFor(code);
    }
  }
  if (failure != DDCIO::WriteFailure::none) forget(displayID);
  return failure;
}

std::optional<double> fractionToPercent(float level) {
  return static_cast<double>(std::clamp(level, 0.0f, 1.0f)) * 100.0;
}

}  // namespace

std::optional<double> DDCIO::detail::currentBuiltInBrightnessPercent(const DisplayInfo& info) {
  const DisplayID displayID = info.displayID;
  PanelBrightnessServices* panel = systemPorts().panelBrightness;
  if (!panel || !panel->hasCanChangeBrightness() || !panel->canChangeBrightness(displayID)) {
    log(displayID, "DisplayServices canChangeBrightness unavailable or false for read");
  } else if (!panel->hasGetBrightness()) {
    log(displayID, "DisplayServices getBrightness symbol unavailable");
  } else {
    float level = 0;
    const std::int32_t result = panel->getBrightness(displayID, level);
    log(displayID, [&] { return "built-in get via DisplayServices result=" + std::to_string(result) + " value=" + levelText(level); });
    if (result != 0) return std::nullopt;
    return fractionToPercent(level);
  }

  DeviceRegistry* registry = systemPorts().registry;
  const auto entry = info.ioLocation && registry ? registry->entryFromPath(*info.ioLocation) : std::nullopt;
  if (!entry || !panel) {
    log(displayID, "built-in service not found for read");
    return std::nullopt;
  }
  float level = 0;
  const std::int32_t code = panel->getFloatParameter(*entry, "brightness", level);
  log(displayID, [&] { return "built-in get via IODisplay result=0x" + hexCode(code) + " " + panel->errorText(code) +
                     " value=" + levelText(level); });
  if (code != 0) return std::nullopt;
  return fractionToPercent(level);
}

std::array<std::uint8_t, 6> DDCIO::setVCPFeaturePacket(std::uint16_t value) {
  std::array<std::uint8_t, 6> packet = {0x84, 0x03, kBrightnessCode, static_cast<std::uint8_t>(value >> 8),
                                        static_cast<std::uint8_t>(value & 0xFF), 0};
  packet[5] = checksum(packet);
  return packet;
}

std::array<std::uint8_t, 4> DDCIO::getVCPFeatureRequest() {
  std::array<std::uint8_t, 4> request = {0x82, 0x01, kBrightnessCode, 0};
  request[3] = checksum(request);
  return request;
}

std::optional<DDCIO::VCPValue> DDCIO::parseVCPFeatureReply(const std::uint8_t* bytes, std::size_t length) {
  // Source, length (0x80 | 8), Get VCP reply, result 0 (supported), VCP code;
  // the checksum is to the host (0x50) over everything before it.
  if (!bytes || length < 11 || bytes[0] != kWireWriteAddress || bytes[1] != 0x88 || bytes[2] != 0x02 ||
      bytes[3] != 0x00 || bytes[4] != kBrightnessCode || checksum(0x50, 0x00, bytes, 10) != bytes[10])
    return std::nullopt;
  const auto maximum = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  const auto current = static_cast<std::uint16_t>((bytes[8] << 8) | bytes[9]);
  if (maximum == 0) return std::nullopt;
  return VCPValue{maximum, current};
}

bool DDCIO::isIntactHostMessage(const std::uint8_t* bytes, std::size_t length) {
  return bytes && length >= 2 &&
         bytes[length - 1] ==
             checksum(kWireWriteAddress, static_cast<std::uint8_t>(DDCIO::kDataAddress), bytes, length - 1);
}

std::array<std::uint8_t, 11> DDCIO::vcpFeatureReply(std::uint16_t maximum, std::uint16_t current) {
  std::array<std::uint8_t, 11> reply = {kWireWriteAddress,
                                        0x88,
                                        0x02,
                                        0x00,
                                        kBrightnessCode,
                                        0x00,
                                        static_cast<std::uint8_t>(maximum >> 8),
                                        static_cast<std::uint8_t>(maximum),
                                        static_cast<std::uint8_t>(current >> 8),
                                        static_cast<std::uint8_t>(current),
                                        0};
  // To the host (0x50 on the wire), over everything from the monitor's own address on.
  reply[10] = checksum(0x50, 0x00, reply.data(), 10);
  return reply;
}

std::uint32_t DDCIO::brightnessSteps(DisplayID displayID) {
  PanelBrightnessServices* panel = systemPorts().panelBrightness;
  const auto info = displayInfo(displayID);
  const std::uint32_t steps = info && info->isBuiltIn && panel ? panel->brightnessSteps(displayID) : 0;
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
  if (info->isBuiltIn) return outcome(setBuiltInBrightness(*info, value, steps));

  log(displayID, [&] { return "vendor=" + std::to_string(info->vendor) + " model=" + std::to_string(info->model) +
                     " serial=" + std::to_string(info->serial) + " uuid=" + orNil(info->uuid) +
                     " ioLocation=" + orNil(info->ioLocation) + " name=" + orNil(info->productName); });
  const auto service = displayAVService(*info);
  if (!service) {
    log(displayID, "IOAVService not found");
    return outcome(WriteFailure::noChannel);
  }
  // The monitor would ignore a message that comes too soon after the last
  // one (and one inside a read would break it): the caller comes back.
  if (const double wait = messageWait(displayID); wait > 0) {
    log(displayID, [&] { return "bus not free for another " + std::to_string(std::lround(wait * 1000)) + " ms"; });
    return outcome(WriteFailure::busy);
  }
  const std::uint32_t maximum = brightnessMaximum(displayID).value_or(kPercentSteps);
  const auto scaled = std::lround(static_cast<double>(value) * maximum / steps);
  const auto packet = setVCPFeaturePacket(static_cast<std::uint16_t>(std::clamp<long>(scaled, 1, maximum)));
  log(displayID, [&] { return "writing via IOAVService bytes=" + std::to_string(packet.size()); });
  const std::int32_t result = ioavWriteI2C(displayID, *service, packet.data(), packet.size());
  log(displayID, [&] { return "IOAVServiceWriteI2C result=0x" + hexCode(result); });
  if (result == 0) {
    hurryPatientRead(displayID);  // it answers again: so may its read
    return outcome(WriteFailure::none);
  }
  const auto failure = failureFor(result);
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

void DDCIO::clearCaches() {
  caches().displayInfos.clear();
  caches().avServices.clear();
}

void DDCIO::resetBusTiming() {
  caches().lastMessageAt.clear();
  caches().writeFailures.clear();
  caches().replyWaitIndex.clear();
  caches().brightnessMaximums.clear();
  caches().assumedMaximums.clear();
  caches().patientReads.clear();
}

const std::map<DisplayID, DisplayInfo>& DDCIO::cachedDisplayInfos() { return caches().displayInfos; }

bool DDCIO::hasCachedAVService(DisplayID displayID) { return caches().avServices.contains(displayID); }
