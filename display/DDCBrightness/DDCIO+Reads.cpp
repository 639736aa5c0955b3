// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a display's brightness through its channel, and reading again
// until it answers. Every wait is a main-loop timer.
#include <algorithm>
#include <cmath>

#include "base/Numbers.hpp"
#include "display/DDCBrightness/DDCIO+State.hpp"

namespace {
using namespace DDCIO::detail;
using DDCIO::BrightnessReading;
using DDCIO::ReadFailure;

// Between failed reads: a monitor that does not acknowledge (standby, DDC/CI
// switched off) is asked again after half a second, doubling up to 5 s; a bus
// another program holds after 50 ms, doubling up to a second.
constexpr double kFirstRetrySeconds = 0.5;
constexpr double kLongestRetrySeconds = 5;
constexpr double kFirstBusyRetrySeconds = 0.05;
constexpr double kLongestBusyRetrySeconds = 1;

void startRound(DisplayID displayID, const std::shared_ptr<PatientRead>& read);

void endPatientRead(DisplayID displayID, const std::shared_ptr<PatientRead>& read, std::optional<double> percent) {
  if (const auto found = caches().patientReads.find(displayID);
      found != caches().patientReads.end() && found->second == read)
    caches().patientReads.erase(found);
  if (auto done = std::exchange(read->done, nullptr)) done(percent);
}

void roundDone(DisplayID displayID, const std::shared_ptr<PatientRead>& read, const BrightnessReading& reading) {
  if (reading.percent) return endPatientRead(displayID, read, reading.percent);
  read->lastFailure = reading.failure;
  ++read->failedReads;
  if (reading.failure == ReadFailure::noChannel) return endPatientRead(displayID, read, std::nullopt);
  if (reading.failure == ReadFailure::noReply && ++read->unrepliedReads >= DDCIO::kUnrepliedReadsBeforeAssuming) {
    logLine(displayID, "takes requests but never replies with its brightness: its maximum is assumed to be 100");
    caches().assumedMaximums.insert(displayID);
    DDCTransport::setBrightnessMaximum(displayID, DDCIO::kPercentSteps);
    return endPatientRead(displayID, read, std::nullopt);
  }
  const double doubling = std::ldexp(1.0, std::min(read->failedReads - 1, 16));
  const double delay = reading.failure == ReadFailure::busy
                           ? std::min(kLongestBusyRetrySeconds, kFirstBusyRetrySeconds * doubling)
                           : std::min(kLongestRetrySeconds, kFirstRetrySeconds * doubling);
  logLine(displayID, "brightness read failed, next read in " + formatShortest(delay) + " s");
  read->waitingToRetry = true;
  read->step = ports().mainLoop->after(delay, [displayID, weak = std::weak_ptr(read)] {
    if (const auto again = weak.lock()) startRound(displayID, again);
  });
}

void startRound(DisplayID displayID, const std::shared_ptr<PatientRead>& read) {
  read->waitingToRetry = false;
  read->step = DDCIO::readBrightness(displayID, [displayID, weak = std::weak_ptr(read)](const BrightnessReading& reading) {
    if (const auto current = weak.lock()) roundDone(displayID, current, reading);
  });
}
}  // namespace

ScheduledWork DDCIO::readBrightness(DisplayID displayID, std::function<void(const BrightnessReading&)> done) {
  MainLoop* loop = ports().mainLoop;
  if (!loop) return {};
  const auto deliver = [&](BrightnessReading reading) {
    return loop->post([reading, done = std::move(done)] { done(reading); });
  };
  const auto info = displayInfo(displayID);
  if (!info) {
    logLine(displayID, "no display info for read");
    return deliver({std::nullopt, ReadFailure::noChannel});
  }
  const Channel channel = channelFor(*info);
  if (channel == Channel::desktopService) {
    const auto percent = desktopPercent(*info);
    return deliver({percent, percent ? ReadFailure::none : ReadFailure::noChannel});
  }
  if (channel == Channel::panelBacklight || channel == Channel::monitorBacklight) {
    const auto percent = channel == Channel::panelBacklight ? backlightPercent(*info) : monitorBacklightPercent(*info);
    return deliver({percent, percent ? ReadFailure::none : ReadFailure::noAnswer});
  }
  if (channel == Channel::none) {
    logLine(displayID, info->isBuiltIn ? "no backlight device for read" : "no DDC/CI bus for read");
    return deliver({std::nullopt, ReadFailure::noChannel});
  }
  return DDCTransport::readBrightness(displayID, *info->i2cBus, std::move(done));
}

std::optional<double> DDCIO::currentBrightnessPercent(DisplayID displayID) {
  const auto info = displayInfo(displayID);
  if (!info) {
    logLine(displayID, "no display info for read");
    return std::nullopt;
  }
  switch (channelFor(*info)) {
    case Channel::panelBacklight: return backlightPercent(*info);
    case Channel::desktopService: return desktopPercent(*info);
    default: return std::nullopt;
  }
}

ScheduledWork DDCIO::readBrightnessUntilAnswered(DisplayID displayID, std::function<void(std::optional<double>)> done) {
  if (!ports().mainLoop) return {};
  auto read = std::make_shared<PatientRead>();
  read->done = std::move(done);
  caches().patientReads[displayID] = read;
  caches().assumedMaximums.erase(displayID);
  startRound(displayID, read);
  return ScheduledWork::cancelling([displayID, weak = std::weak_ptr(read)] {
    const auto read = weak.lock();
    if (!read) return;
    read->done = nullptr;
    read->step.cancel();
    if (const auto found = caches().patientReads.find(displayID);
        found != caches().patientReads.end() && found->second == read)
      caches().patientReads.erase(found);
  });
}

void DDCIO::detail::hurryPatientRead(DisplayID displayID) {
  const auto found = caches().patientReads.find(displayID);
  if (found == caches().patientReads.end() || !found->second->waitingToRetry) return;
  const auto read = found->second;
  read->failedReads = 0;
  startRound(displayID, read);
}

bool DDCIO::isReadingBrightness(DisplayID displayID) { return caches().patientReads.contains(displayID); }

DDCIO::ReadFailure DDCIO::lastReadFailure(DisplayID displayID) {
  const auto found = caches().patientReads.find(displayID);
  return found == caches().patientReads.end() ? ReadFailure::none : found->second->lastFailure;
}

bool DDCIO::isMaximumAssumed(DisplayID displayID) { return caches().assumedMaximums.contains(displayID); }

std::optional<std::uint16_t> DDCIO::brightnessMaximum(DisplayID displayID) {
  return DDCTransport::brightnessMaximum(displayID);
}
