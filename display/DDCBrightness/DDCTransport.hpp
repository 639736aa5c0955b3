// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/DisplayID.hpp"
#include "base/MainLoop.hpp"
#include "ports/I2CBuses.hpp"

// DDC/CI on a monitor's I2C bus, above the transfer port: the pace of each
// bus, the transfer each bus has under way, a read's request and its reply
// after a wait that grows while the monitor is not ready, and what each
// monitor's verified replies said (its maximum, the wait that worked). No
// call waits: transfers run on the port's bus threads and every result and
// wait comes back on the main loop.
namespace DDCTransport {

// The least time between two messages on one monitor's bus: monitors ignore
// what comes sooner after a Set VCP Feature or a reply.
inline constexpr double kMessageIntervalSeconds = 0.05;
// How long a bus that has carried no message yet stays quiet before its first.
inline constexpr double kFirstMessageWaitSeconds = 0.01;
// How long a monitor may take to prepare a reply: after a null message or a
// reply that fails its checks, the next attempt waits for the next of these.
inline constexpr std::array<double, 5> kReplyWaitSeconds = {0.04, 0.06, 0.1, 0.15, 0.2};

// The loop every wait and result comes back on, and the transfer port, given
// by DDCIO::usePorts. Without a loop nothing is sent; without the port no
// monitor answers.
void usePorts(MainLoop* loop, I2CBuses* i2c);

// Seconds until the display's bus may carry the next message; 0 when it may
// now. While a transfer is under way on it, or a read's reply is still to be
// fetched, it is one message interval: a caller that cannot wait comes back.
double messageWait(DisplayID displayID);
// Marks the bus as having carried a message now (the ddcci driver's device
// talks on it too).
void stampBus(DisplayID displayID);

// Set VCP brightness: `value` of `steps`, scaled to the maximum the monitor
// gave in its last verified reply (within 1 and that maximum; 100 until
// then). Two attempts: one the monitor did not take (no answer, nothing at
// the address, an I/O error: a message lost on the wire) goes once more
// after the message interval, the bus kept for it meanwhile. `done` gets the
// last attempt's result on the main loop unless the returned work is
// cancelled; the bus's pace is kept either way.
[[nodiscard]] ScheduledWork writeBrightness(DisplayID displayID, int bus, std::uint32_t value, std::uint32_t steps,
                                            std::function<void(const I2CResult&)> done);

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
// One read: the Get VCP Feature request and up to five attempts at the
// reply, each waiting longer than the last (starting at the wait that last
// worked for this monitor). A verified reply's maximum is kept. `done` runs
// on the main loop unless the returned work is cancelled first.
[[nodiscard]] ScheduledWork readBrightness(DisplayID displayID, int bus,
                                           std::function<void(const BrightnessReading&)> done);

// What the monitor's brightness counts up to, as its last verified reply
// this session said (or as set); nothing before it has been read.
std::optional<std::uint16_t> brightnessMaximum(DisplayID displayID);
void setBrightnessMaximum(DisplayID displayID, std::uint16_t maximum);

// Forgets every bus's pace, the transfers under way (their results go
// nowhere), the reply waits that worked and the maximums. For tests
// starting a new clock.
void reset();

// Log texts: a transfer's outcome with the system's words for a failure;
// trace lines, built only when someone listens.
std::string resultText(const I2CResult& result);
void logLine(DisplayID displayID, const std::string& text);

}  // namespace DDCTransport
