// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/MainLoop.hpp"
#include "display/DDCBrightness/DDCTransport.hpp"
#include "display/DisplayInfo.hpp"

class Backlights;
class DesktopBrightness;
class Displays;

// Display control by channel: each display's one brightness channel, chosen
// from its facts (the desktop's brightness service where it drives the
// display, DDC/CI on its I2C bus through DDCTransport, the ddcci driver's
// backlight device for a monitor whose bus it owns, or a panel's backlight
// device), the connected displays' information, and reads that go on until a
// monitor answers. No call waits.
namespace DDCIO {

// The platform facilities display control uses, given once at start (tests
// give their machine's, and nothing again at the end). Without a loop no
// write or read is answered; without displays none is known; without I2C
// buses no monitor answers on its bus; without backlights no panel, and no
// monitor driven through the ddcci driver, is read or set; without the
// desktop's brightness service every display is driven through its own channel.
struct Ports {
  MainLoop* mainLoop = nullptr;
  Displays* displays = nullptr;
  I2CBuses* i2c = nullptr;
  Backlights* backlights = nullptr;
  DesktopBrightness* desktopBrightness = nullptr;
};
// Also forgets the display information found through the earlier ports.
void usePorts(const Ports& ports);

// Why the last write to a display failed; the controller decides from it
// when to try again and what to tell the user.
enum class WriteFailure {
  none,
  busy,           // another program holds the bus: try again shortly
  noChannel,      // no information, no DDC/CI bus or no backlight device (yet: looked up again at the next write)
  driverMissing,  // the channel's device node is missing (its driver is not loaded)
  notPermitted,   // no access to the channel's device node
  backlightNotPermitted,  // the panel's backlight may be set neither through the session nor its device file
  kernelDriver,   // a kernel driver owns the monitor's channel
  noAnswer,       // the monitor or panel did not take the value
};

// How finely a display's brightness is set: the panel backlight's own number
// of levels, or the desktop's brightness service's for a display it drives,
// else 100 (whole percents, what DDC/CI monitors take).
inline constexpr std::uint32_t kPercentSteps = 100;
std::uint32_t brightnessSteps(DisplayID displayID);

// Writes brightness `value` of `steps` (the controller passes a monitor a
// percent from 1 to 100, a panel its backlight's own levels). A backlight
// device is set at once; a monitor's Set VCP goes to its bus (see
// DDCTransport::writeBrightness), and not at all while the bus may not carry
// a message yet (see DDCTransport::messageWait): that write fails as busy.
// `done` gets the outcome on the main loop, never inside this call, unless
// the returned work is cancelled first.
[[nodiscard]] ScheduledWork setBrightness(DisplayID displayID, std::uint32_t value, std::uint32_t steps,
                                          std::function<void(WriteFailure)> done);
// The brightness in percent of a display whose level is read at once (see
// followsOwnLevel); nothing for a monitor on its bus, which readBrightness reads.
std::optional<double> currentBrightnessPercent(DisplayID displayID);
// Why the last answered setBrightness for the display failed (none after a success).
WriteFailure lastWriteFailure(DisplayID displayID);

using ReadFailure = DDCTransport::ReadFailure;
using BrightnessReading = DDCTransport::BrightnessReading;
// One read of the display's brightness through its channel (a monitor's bus:
// DDCTransport::readBrightness). `done` runs on the main loop, never inside
// this call, unless the returned work is cancelled first.
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
  desktopService,    // the desktop's brightness service, which drives the display itself
};
Channel channelFor(const DisplayInfo& info);
// Whether the display's own level is what its user sets (the desktop's
// brightness keys and slider): read at once, it is followed before each dim
// from rest rather than kept as the display's maximum. A built-in panel's is,
// and so is that of any display the desktop's brightness service drives.
bool followsOwnLevel(const DisplayInfo& info);

// Discovery: cached per display until the caches are emptied. A display the
// desktop's brightness service offers is paired with it where that is
// certain (see DDCIO+Discovery.cpp), and the log says why where it is not.
std::optional<DisplayInfo> displayInfo(DisplayID displayID);
std::vector<DisplayInfo> onlineDisplayInfos();

// Empties the display-information cache, so the next call looks every
// display up afresh (refresh, display changes). Tests call it between
// cases too.
void clearCaches();
// Also forgets what the buses did (DDCTransport::reset), the write failures,
// whether maximums were assumed and the reads under way (all kept across
// display changes). For tests starting a new clock.
void resetBusTiming();
// Cache contents, for tests and diagnostics.
const std::map<DisplayID, DisplayInfo>& cachedDisplayInfos();

}  // namespace DDCIO
