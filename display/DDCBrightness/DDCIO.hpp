// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "display/DisplayInfo.hpp"
#include "ports/PropertyValue.hpp"

// The lowest layer of display control: DDC/CI brightness (VCP 0x10) over a
// display's audio-video service, and the built-in panel's brightness. All
// calls are synchronous and block for the transfers' short pauses.
namespace DDCIO {

inline constexpr std::uint32_t kChipAddress = 0x37;  // 0x6E on the wire as a write address
inline constexpr std::uint32_t kDataAddress = 0x51;  // the host's source address
inline constexpr std::uint32_t kReplyLength = 12;
// The least time between two messages on one monitor's bus: monitors ignore
// what comes sooner after a Set VCP Feature or a reply.
inline constexpr double kMessageIntervalSeconds = 0.05;

// Why the last write to a display failed; the controller decides from it
// when to try again and what to tell the user.
enum class WriteFailure {
  none,
  busy,           // another program holds the bus: try again shortly
  noChannel,      // no information, or no DDC/CI channel: nothing changes that before the display list does
  driverMissing,  // the channel's device node is missing (its driver is not loaded)
  notPermitted,   // no access to the channel's device node
  backlightNotPermitted,  // the panel's backlight may be set neither through the session nor its device file
  kernelDriver,   // a kernel driver owns the monitor's channel
  noAnswer,       // the monitor or panel did not take the value
};

// How finely a display's brightness is set: the panel backlight's own number
// of levels, else 100 (whole percents, what DDC/CI monitors take).
inline constexpr std::uint32_t kPercentSteps = 100;
std::uint32_t brightnessSteps(DisplayID displayID);
// Writes brightness `value` of `steps` (the controller passes a monitor a
// percent from 1 to 100, a panel its backlight's own levels). True when the
// display accepted it.
bool setBrightness(DisplayID displayID, std::uint32_t value, std::uint32_t steps = kPercentSteps);
// The display's current brightness in percent (not clamped for external monitors).
std::optional<double> currentBrightnessPercent(DisplayID displayID);
// Why the last setBrightness for the display failed (none after a success).
WriteFailure lastWriteFailure(DisplayID displayID);
// Seconds until the display's bus may carry the next message; 0 when it may now.
// A caller that cannot wait comes back later; the transfers themselves wait
// out what is left rather than send too soon.
double messageWait(DisplayID displayID);

// Discovery: cached per display until the caches are emptied.
std::optional<DisplayInfo> displayInfo(DisplayID displayID);
std::vector<DisplayInfo> onlineDisplayInfos();
std::optional<std::string> normalizedConnectionLabel(std::string_view raw);
std::optional<PropertyDictionary> coreDisplayInfoDictionary(DisplayID displayID);

// Empties the display-information and audio-video service caches, so the
// next call looks every display up afresh (refresh, display changes).
// Tests call it between cases too.
void clearCaches();
// Also forgets when each bus last carried a message (the buses themselves
// keep their pace across display changes). For tests starting a new clock.
void resetBusTiming();
// Cache contents, for tests and diagnostics.
const std::map<DisplayID, DisplayInfo>& cachedDisplayInfos();
bool hasCachedAVService(DisplayID displayID);

// The DDC/CI messages, byte for byte.
std::array<std::uint8_t, 6> setVCPFeaturePacket(std::uint16_t value);
std::array<std::uint8_t, 4> getVCPFeatureRequest();
// current / maximum * 100 from a Get VCP Feature reply, or nothing when the
// reply is short, has the wrong opcode or VCP code, or a maximum of 0.
std::optional<double> parseVCPFeatureReply(const std::uint8_t* bytes, std::size_t length);
// The monitor's side, for channels that stand in for one (a kernel driver's
// backlight device): whether a message from the host carries its checksum
// intact, and the reply to a Get VCP Feature request, source address first.
bool isIntactHostMessage(const std::uint8_t* bytes, std::size_t length);
std::array<std::uint8_t, 11> vcpFeatureReply(std::uint16_t maximum, std::uint16_t current);

}  // namespace DDCIO
