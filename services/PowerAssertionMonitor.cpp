// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/PowerAssertionMonitor.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "base/Numbers.hpp"
#include "ports/PowerAssertions.hpp"
#include "ports/SystemPorts.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"

namespace {
constexpr const char* kMediaPlaybackAssertion = "PreventUserIdleDisplaySleep";
constexpr const char* kSleepRelatedMarkers[] = {"PreventUserIdleDisplaySleep", "PreventSystemSleep", "NoDisplaySleep",
                                                "Audio"};

// How many of an assertion are held, when the value says so; flags count as one.
std::optional<std::int64_t> activeCount(const PropertyValue& value) {
  if (const auto* flag = std::get_if<bool>(&value.value)) return *flag ? std::optional<std::int64_t>(1) : std::nullopt;
  if (const auto* number = std::get_if<double>(&value.value)) {
    if (!std::isfinite(*number) || *number < 1) return std::nullopt;
    // Counts beyond 2^62 are nonsense from the system; keep the conversion defined.
    return static_cast<std::int64_t>(std::min(std::trunc(*number), 4.6e18));
  }
  return std::nullopt;
}

bool detailedLoggingActive() { return DDCDebug::state().enabled || DiagnosticCapture::shared().active; }

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (const auto& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}
}  // namespace

std::string describePropertyValue(const PropertyValue& value) {
  if (const auto* text = value.string()) return *text;
  if (const auto* flag = std::get_if<bool>(&value.value)) return *flag ? "1" : "0";
  if (const auto* number = std::get_if<double>(&value.value)) return formatShortest(*number);
  std::vector<std::string> members;
  for (const auto& [key, member] : *value.dictionary()) members.push_back(key + " = " + describePropertyValue(member));
  return "{" + join(members, "; ") + "}";
}

void PowerAssertionMonitor::start() {
  if (started_) return;
  started_ = true;
  if (!systemPorts().powerAssertions) {
    AppLog::power.error("Power assertions are not available; media playback is not detected");
    return;
  }
  poll();
  if (MainLoop* loop = systemPorts().mainLoop) {
    timer_ = loop->every(pollInterval, pollTolerance, [this] { poll(); });
  }
}

void PowerAssertionMonitor::poll() {
  logAssertionStatusIfChanged();
  if (detailedLoggingActive()) logAssertionsByProcessIfChanged();
}

void PowerAssertionMonitor::logAssertionStatusIfChanged() {
  PowerAssertions* assertions = systemPorts().powerAssertions;
  if (!assertions) return;
  const auto summary = assertions->copyAssertionsStatus();
  if (summary.result != 0) {
    AppLog::power.error("IOPMCopyAssertionsStatus failed: " + std::to_string(summary.result));
    return;
  }
  // The dictionary is ordered by name, so the pairs come out sorted.
  std::vector<std::pair<std::string, std::int64_t>> active;
  if (summary.assertionsByType) {
    for (const auto& [name, value] : *summary.assertionsByType) {
      if (const auto count = activeCount(value)) active.emplace_back(name, *count);
    }
  }
  const bool mediaPlayback = std::any_of(active.begin(), active.end(), [](const auto& pair) {
    return pair.first == kMediaPlaybackAssertion && pair.second >= 1;
  });
  if (mediaPlayback != isMediaPlaybackAssertionActive.get()) isMediaPlaybackAssertionActive = mediaPlayback;

  std::vector<std::string> parts;
  for (const auto& [name, count] : active) parts.push_back(name + "=" + std::to_string(count));
  std::string digest = join(parts, ", ");
  if (digest == lastStatusDigest_) return;
  lastStatusDigest_ = std::move(digest);
  AppLog::power.log("Assertion status: " + (lastStatusDigest_.empty() ? std::string("none") : lastStatusDigest_));
}

void PowerAssertionMonitor::logAssertionsByProcessIfChanged() {
  PowerAssertions* assertions = systemPorts().powerAssertions;
  if (!assertions) return;
  const auto byProcess = assertions->copyAssertionsByProcess();
  if (byProcess.result != 0) {
    AppLog::power.error("IOPMCopyAssertionsByProcess failed: " + std::to_string(byProcess.result));
    return;
  }
  std::vector<std::string> lines;
  if (byProcess.assertionsByProcess) {
    for (const auto& [process, value] : *byProcess.assertionsByProcess) {
      const std::string description = describePropertyValue(value);
      const bool sleepRelated = std::any_of(std::begin(kSleepRelatedMarkers), std::end(kSleepRelatedMarkers),
                                            [&](const char* marker) { return description.find(marker) != std::string::npos; });
      if (sleepRelated) lines.push_back(process + ": " + description);
    }
  }
  std::sort(lines.begin(), lines.end());
  std::string digest = join(lines, " | ");
  if (digest == lastProcessDigest_) return;
  lastProcessDigest_ = std::move(digest);
  AppLog::power.log("Assertion processes: " + (lastProcessDigest_.empty() ? std::string("none") : lastProcessDigest_));
}
