// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a monitor's brightness: the request, then the reply after a wait
// that grows while the monitor is not ready, and reads again until it
// answers. Every wait is a main-loop timer, so a slow monitor holds up
// nothing else.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "base/Numbers.hpp"
#include "display/DDCBrightness/DDCIO+State.hpp"
#include "ports/SystemPorts.hpp"

namespace {
using namespace DDCIO::detail;
using DDCIO::BrightnessReading;
using DDCIO::ReadFailure;

constexpr int kReplyAttempts = 5;
// Between failed reads: a monitor that does not acknowledge (standby, DDC/CI
// switched off) is asked again after half a second, doubling up to 5 s; a bus
// another program holds after 50 ms, doubling up to a second.
constexpr double kFirstRetrySeconds = 0.5;
constexpr double kLongestRetrySeconds = 5;
constexpr double kFirstBusyRetrySeconds = 0.05;
constexpr double kLongestBusyRetrySeconds = 1;

std::string hexBytes(const std::uint8_t* bytes, std::size_t length) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
    if (i) text += ' ';
    text += byte;
  }
  return text;
}

// Work whose cancellation runs `cancel`; `cancel` may keep state alive until then.
ScheduledWork cancellable(std::function<void()> cancel) {
  auto state = std::make_shared<::detail::WorkState>();
  state->onCancel = std::move(cancel);
  return ScheduledWork(std::move(state));
}

// One read of a monitor: request, wait, reply; again with a longer wait
// after a null message or a reply that fails its checks.
class ReadRound : public std::enable_shared_from_this<ReadRound> {
 public:
  ReadRound(DisplayID displayID, int bus, std::function<void(const BrightnessReading&)> done)
      : displayID_(displayID), bus_(bus), done_(std::move(done)) {
    const auto worked = caches().replyWaitIndex.find(displayID);
    waitIndex_ = worked != caches().replyWaitIndex.end() ? worked->second : 0;
  }

  void start() { schedule(DDCIO::messageWait(displayID_), &ReadRound::query); }
  void cancel() {
    timer_.cancel();
    done_ = nullptr;
    caches().awaitingReply.erase(displayID_);
  }

 private:
  void query() {
    // Another message may have gone out meanwhile (a write on this bus).
    if (const double wait = DDCIO::messageWait(displayID_); wait > 0) return schedule(wait, &ReadRound::query);
    const auto request = DDCIO::getVCPFeatureRequest();
    const auto result = transfer(displayID_, bus_, {request.begin(), request.end()}, 0, true);
    logLine(displayID_, "brightness read query attempt " + std::to_string(attempt_) + " result=" + resultText(result));
    if (result.status != I2CStatus::ok)
      return finish({std::nullopt, result.status == I2CStatus::busy ? ReadFailure::busy : ReadFailure::noAnswer});
    caches().awaitingReply.insert(displayID_);
    schedule(DDCIO::kReplyWaitSeconds[waitIndex_], &ReadRound::readReply);
  }

  void readReply() {
    caches().awaitingReply.erase(displayID_);
    auto result = transfer(displayID_, bus_, {}, DDCIO::kReplyLength);
    if (result.status != I2CStatus::ok) result.read.assign(DDCIO::kReplyLength, 0);
    const auto& reply = result.read;
    logLine(displayID_, "brightness read reply attempt " + std::to_string(attempt_) + " result=" + resultText(result) +
                        " bytes=" + hexBytes(reply.data(), reply.size()));
    if (result.status == I2CStatus::ok) {
      if (const auto value = DDCIO::parseVCPFeatureReply(reply.data(), reply.size())) {
        caches().replyWaitIndex[displayID_] = waitIndex_;
        caches().brightnessMaximums[displayID_] = value->maximum;
        return finish({value->percent(), ReadFailure::none});
      }
    }
    if (++attempt_ > kReplyAttempts) {
      logLine(displayID_, "brightness read parse failed");
      return finish({std::nullopt, ReadFailure::noReply});
    }
    // Not ready, or garbled on the wire: give the monitor longer next time.
    waitIndex_ = std::min(waitIndex_ + 1, DDCIO::kReplyWaitSeconds.size() - 1);
    schedule(DDCIO::messageWait(displayID_), &ReadRound::query);
  }

  void schedule(double seconds, void (ReadRound::*step)()) {
    timer_ = systemPorts().mainLoop->after(seconds, [self = weak_from_this(), step] {
      if (const auto round = self.lock()) ((*round).*step)();
    });
  }

  void finish(const BrightnessReading& reading) {
    const auto keepAlive = shared_from_this();  // `done` may cancel this round
    if (auto done = std::exchange(done_, nullptr)) done(reading);
  }

  DisplayID displayID_;
  int bus_;
  std::function<void(const BrightnessReading&)> done_;
  std::size_t waitIndex_ = 0;
  int attempt_ = 1;
  ScheduledWork timer_;
};

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
    caches().brightnessMaximums[displayID] = DDCIO::kPercentSteps;
    return endPatientRead(displayID, read, std::nullopt);
  }
  const double doubling = std::ldexp(1.0, std::min(read->failedReads - 1, 16));
  const double delay = reading.failure == ReadFailure::busy
                           ? std::min(kLongestBusyRetrySeconds, kFirstBusyRetrySeconds * doubling)
                           : std::min(kLongestRetrySeconds, kFirstRetrySeconds * doubling);
  logLine(displayID, "brightness read failed, next read in " + formatShortest(delay) + " s");
  read->waitingToRetry = true;
  read->step = systemPorts().mainLoop->after(delay, [displayID, weak = std::weak_ptr(read)] {
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
  MainLoop* loop = systemPorts().mainLoop;
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
  if (channel == Channel::panelBacklight || channel == Channel::monitorBacklight) {
    const auto percent = channel == Channel::panelBacklight ? backlightPercent(*info) : monitorBacklightPercent(*info);
    return deliver({percent, percent ? ReadFailure::none : ReadFailure::noAnswer});
  }
  if (channel == Channel::none) {
    logLine(displayID, info->isBuiltIn ? "no backlight device for read" : "no DDC/CI bus for read");
    return deliver({std::nullopt, ReadFailure::noChannel});
  }
  auto round = std::make_shared<ReadRound>(displayID, *info->i2cBus, std::move(done));
  round->start();
  return cancellable([round] { round->cancel(); });
}

std::optional<double> DDCIO::currentBrightnessPercent(DisplayID displayID) {
  const auto info = displayInfo(displayID);
  if (!info) {
    logLine(displayID, "no display info for read");
    return std::nullopt;
  }
  return channelFor(*info) == Channel::panelBacklight ? backlightPercent(*info) : std::nullopt;
}

ScheduledWork DDCIO::readBrightnessUntilAnswered(DisplayID displayID, std::function<void(std::optional<double>)> done) {
  if (!systemPorts().mainLoop) return {};
  auto read = std::make_shared<PatientRead>();
  read->done = std::move(done);
  caches().patientReads[displayID] = read;
  caches().assumedMaximums.erase(displayID);
  startRound(displayID, read);
  return cancellable([displayID, weak = std::weak_ptr(read)] {
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
  const auto found = caches().brightnessMaximums.find(displayID);
  return found == caches().brightnessMaximums.end() ? std::nullopt : std::optional(found->second);
}
