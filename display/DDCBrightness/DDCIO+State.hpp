// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>
#include <string>

#include "display/DDCBrightness/DDCIO.hpp"
#include "ports/AVServices.hpp"

// The transport's process-wide caches, shared by discovery and transfers.
namespace DDCIO::detail {
struct Caches {
  std::map<DisplayID, DisplayInfo> displayInfos;
  std::map<DisplayID, std::shared_ptr<AVService>> avServices;  // kept retained while cached
  // Not caches: what the buses did, kept across display changes.
  std::map<DisplayID, double> lastMessageAt;  // monotonic seconds of each bus's last transfer
  std::map<DisplayID, DDCIO::WriteFailure> writeFailures;
};
Caches& caches();

// Log texts: result codes as their 32-bit pattern in lower-case hex, absent strings as "nil".
std::string hexCode(std::int32_t code);
inline std::string orNil(const std::optional<std::string>& text) { return text ? *text : "nil"; }
}  // namespace DDCIO::detail
