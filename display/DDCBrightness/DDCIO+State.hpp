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
#include "ports/AVServices.hpp"

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
  std::map<DisplayID, std::shared_ptr<AVService>> avServices;  // kept retained while cached
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

// Log texts: result codes as their 32-bit pattern in lower-case hex, absent strings as "nil".
std::string hexCode(std::int32_t code);
inline std::string orNil(const std::optional<std::string>& text) { return text ? *text : "nil"; }
// Trace lines, built only when someone listens.
void logLine(DisplayID displayID, const std::string& text);
// The built-in panel's brightness, read at once.
std::optional<double> currentBuiltInBrightnessPercent(const DisplayInfo& info);
// The display's DDC/CI channel, looked up once and cached.
std::shared_ptr<AVService> displayAVService(const DisplayInfo& info);
// One transfer on the display's channel, stamped on its bus's clock; a
// missing function counts as unsupported.
std::int32_t ioavWriteI2C(DisplayID displayID, AVService& service, const std::uint8_t* bytes, std::uint32_t length);
std::int32_t ioavReadI2C(DisplayID displayID, AVService& service, std::uint8_t* bytes, std::uint32_t length);
// A patient read's next round starts now rather than after its back-off.
void hurryPatientRead(DisplayID displayID);
}  // namespace DDCIO::detail
