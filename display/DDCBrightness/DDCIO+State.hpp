// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "display/DDCBrightness/DDCIO.hpp"
#include "ports/I2CBuses.hpp"

// The transport's process-wide caches, shared by discovery and transfers.
namespace DDCIO::detail {
// A display's read until it answers (readBrightnessUntilAnswered).
struct PatientRead {
  ScheduledWork step;  // the read under way, or the wait before the next
  int failedReads = 0;
  int unrepliedReads = 0;
  bool waitingToRetry = false;
  DDCIO::ReadFailure lastFailure = DDCIO::ReadFailure::none;
  std::function<void(std::optional<double>)> done;
};

struct Caches {
  std::map<DisplayID, DisplayInfo> displayInfos;
  // Not caches: what the buses did, kept across display changes.
  std::map<DisplayID, double> lastMessageAt;  // monotonic seconds of each bus's last transfer
  std::map<DisplayID, DDCIO::WriteFailure> writeFailures;
  std::set<DisplayID> awaitingReply;  // a read's request is out: the bus is the read's until its reply
  std::map<DisplayID, std::size_t> replyWaitIndex;  // into kReplyWaitSeconds: the wait that last worked
  std::map<DisplayID, std::uint16_t> brightnessMaximums;  // from verified replies, or 100 when assumed
  std::set<DisplayID> assumedMaximums;
  std::map<DisplayID, std::shared_ptr<PatientRead>> patientReads;
};
Caches& caches();

// Log texts: a transfer's outcome with the system's words for a failure, absent strings as "nil".
std::string resultText(const I2CResult& result);
inline std::string orNil(const std::optional<std::string>& text) { return text ? *text : "nil"; }
// Trace lines, built only when someone listens.
void logLine(DisplayID displayID, const std::string& text);
// The level of a panel's backlight device in percent, read at once.
std::optional<double> backlightPercent(const DisplayInfo& info);
// The level of the ddcci driver's device for a monitor, as the monitor's
// current value of its maximum, in percent.
std::optional<double> monitorBacklightPercent(const DisplayInfo& info);
// One transfer with the monitor on the display's bus, stamped on its bus's
// clock; without an I2C facility, no device answers.
I2CResult transfer(DisplayID displayID, int bus, std::vector<std::uint8_t> bytes, std::size_t readLength,
                   bool replyFollows = false);
// A patient read's next round starts now rather than after its back-off.
void hurryPatientRead(DisplayID displayID);
}  // namespace DDCIO::detail
