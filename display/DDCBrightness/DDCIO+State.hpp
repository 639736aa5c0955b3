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
#include "ports/DesktopBrightness.hpp"

// Display control's process-wide caches, shared by discovery, writes and reads.
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
  // Not caches: what the displays did, kept across display changes.
  std::map<DisplayID, DDCIO::WriteFailure> writeFailures;
  std::set<DisplayID> assumedMaximums;
  std::map<DisplayID, std::shared_ptr<PatientRead>> patientReads;
  // What the last pairing with the desktop's brightness service found, as logged.
  std::string desktopPairing;
};
Caches& caches();
const Ports& ports();

using DDCTransport::logLine;
inline std::string orNil(const std::optional<std::string>& text) { return text ? *text : "nil"; }
// The level of a panel's backlight device in percent, read at once.
std::optional<double> backlightPercent(const DisplayInfo& info);
// The level of the ddcci driver's device for a monitor, as the monitor's
// current value of its maximum, in percent.
std::optional<double> monitorBacklightPercent(const DisplayInfo& info);
// The display as the desktop's brightness service offers it now, when it
// drives it and gives it a range.
std::optional<DesktopBrightness::Display> offeredDisplay(const DisplayInfo& info);
// Its level there in percent.
std::optional<double> desktopPercent(const DisplayInfo& info);
// A patient read's next round starts now rather than after its back-off.
void hurryPatientRead(DisplayID displayID);
}  // namespace DDCIO::detail
