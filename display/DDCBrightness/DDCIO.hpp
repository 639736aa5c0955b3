// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/MainLoop.hpp"
#include "display/DisplayInfo.hpp"

// The lowest layer of display control: DDC/CI brightness (VCP 0x10) on a
// monitor's I2C bus, and backlight devices (a panel's, or the one the ddcci
// driver offers for a monitor whose bus it owns). No call waits: a write
// goes out only when the bus may carry it, and a read waits for the
// monitor's reply on main-loop timers.
namespace DDCIO {

inline constexpr std::uint8_t kChipAddress = 0x37;  // 0x6E on the wire as a write address
inline constexpr std::uint8_t kDataAddress = 0x51;  // the host's source address, first byte of every message
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
// How long a monitor may take to prepare a reply: after a null message or a
// reply that fails its checks, the next attempt waits for the next of these.
inline constexpr std::array<double, 5> kReplyWaitSeconds = {0.04, 0.06, 0.1, 0.15, 0.2};

// Writes brightness `value` of `steps` (the controller passes a monitor a
// percent from 1 to 100, a panel its backlight's own levels), in one
// transfer. True when the display accepted it. A monitor is sent the value
// scaled to the maximum it gave in its last verified reply (within 1 and
// that maximum), so callers read it first; until then, and when its maximum
// is assumed, it counts to 100. A bus that may not carry a message yet (see
// messageWait) is not written: the write fails as busy.
bool setBrightness(DisplayID displayID, std::uint32_t value, std::uint32_t steps = kPercentSteps);
// The built-in panel's brightness in percent, read at once (a panel has no
// bus to wait for); nothing for a monitor, which readBrightness reads.
std::optional<double> currentBrightnessPercent(DisplayID displayID);
// Why the last setBrightness for the display failed (none after a success).
WriteFailure lastWriteFailure(DisplayID displayID);
// Seconds until the display's bus may carry the next message; 0 when it may
// now. A caller that cannot wait comes back later.
double messageWait(DisplayID displayID);

// Why a read gave no brightness.
enum class ReadFailure {
  none,
  noChannel,  // no information or no DDC/CI channel
  busy,       // another program holds the bus
  noAnswer,   // the monitor did not acknowledge the request (standby, DDC/CI off)
  noReply,    // it took the request, but no reply passed the checks
};
struct BrightnessReading {
  std::optional<double> percent;  // current / maximum * 100, not clamped
  ReadFailure failure = ReadFailure::none;
};
// One read of the display's brightness: the Get VCP Feature request and up to
// five attempts at the reply, each waiting longer than the last (starting at
// the wait that last worked for this monitor). `done` runs on the main loop,
// never inside this call, unless the returned work is cancelled first.
[[nodiscard]] ScheduledWork readBrightness(DisplayID displayID, std::function<void(const BrightnessReading&)> done);
// Reads until the display answers: a failed read is tried again with back-off
// (sooner for a held bus) and at once when the monitor takes a write. A
// monitor that takes the request but never replies is given up after
// kUnrepliedReadsBeforeAssuming reads: `done` gets no percent, and its maximum
// counts as assumed. `done` runs on the main loop unless the work is cancelled.
inline constexpr int kUnrepliedReadsBeforeAssuming = 3;
[[nodiscard]] ScheduledWork readBrightnessUntilAnswered(DisplayID displayID,
                                                        std::function<void(std::optional<double>)> done);
// Whether readBrightnessUntilAnswered is still at work on the display, and why
// its last read failed (none before the first failure).
bool isReadingBrightness(DisplayID displayID);
ReadFailure lastReadFailure(DisplayID displayID);
// Whether the display's maximum was assumed because it never replied.
bool isMaximumAssumed(DisplayID displayID);
// What the monitor's brightness counts up to, as its last verified reply
// this session said (100 once assumed); nothing before it has been read.
// Kept across display changes, as the reply wait that worked is.
std::optional<std::uint16_t> brightnessMaximum(DisplayID displayID);

// How a display's brightness is driven, chosen in one place from its facts.
enum class Channel {
  none,
  ddc,               // DDC/CI on its I2C bus
  monitorBacklight,  // the ddcci driver's backlight device for a monitor whose bus it owns
  panelBacklight,    // a built-in panel's backlight device
};
Channel channelFor(const DisplayInfo& info);

// Discovery: cached per display until the caches are emptied.
std::optional<DisplayInfo> displayInfo(DisplayID displayID);
std::vector<DisplayInfo> onlineDisplayInfos();

// Empties the display-information cache, so the next call looks every
// display up afresh (refresh, display changes). Tests call it between
// cases too.
void clearCaches();
// Also forgets when each bus last carried a message, the reply waits that
// worked, each monitor's maximum and whether it was assumed (all kept across
// display changes). For tests starting a new clock.
void resetBusTiming();
// Cache contents, for tests and diagnostics.
const std::map<DisplayID, DisplayInfo>& cachedDisplayInfos();

// The DDC/CI messages, byte for byte, from the host's source address on.
std::array<std::uint8_t, 7> setVCPFeaturePacket(std::uint16_t value);
std::array<std::uint8_t, 5> getVCPFeatureRequest();
// A Get VCP Feature reply's values, or nothing unless the reply is the
// monitor's (source 0x6E), eight bytes long, a Get VCP reply for brightness
// with result "supported", its checksum intact and its maximum not 0.
struct VCPValue {
  std::uint16_t maximum;
  std::uint16_t current;
  double percent() const { return current * 100.0 / maximum; }  // not clamped
  bool operator==(const VCPValue&) const = default;
};
std::optional<VCPValue> parseVCPFeatureReply(const std::uint8_t* bytes, std::size_t length);

}  // namespace DDCIO
