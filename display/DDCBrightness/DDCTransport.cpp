// SPDX-License-Identifier: GPL-3.0-or-later
// The DDC/CI transport: transfers through the port, paced per bus, and
// reads whose reply is fetched after a main-loop timer, so a slow monitor
// holds up nothing else.
#include "display/DDCBrightness/DDCTransport.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "base/ProcessWide.hpp"
#include "display/DDCBrightness/DDCPackets.hpp"
#include "services/DDCDebug.hpp"

namespace {
using DDCTransport::BrightnessReading;
using DDCTransport::ReadFailure;
using DDCTransport::logLine;

constexpr int kReplyAttempts = 5;
constexpr int kWriteAttempts = 2;
// Below a microsecond a wait is clock arithmetic, not time to wait.
constexpr double kClockSlack = 1e-6;

// What the buses did, kept across display changes.
struct Buses {
  std::map<DisplayID, double> lastMessageAt;  // monotonic seconds when each bus's last transfer ended
  std::map<DisplayID, int> underWay;           // transfers submitted and not yet answered
  std::map<std::uint64_t, ScheduledWork> submitted;  // the port's handles, by submission
  std::uint64_t nextSubmission = 1;
  std::set<DisplayID> awaitingReply;  // a read's request is out: the bus is the read's until its reply
  std::map<DisplayID, std::size_t> replyWaitIndex;  // into kReplyWaitSeconds: the wait that last worked
  std::map<DisplayID, std::uint16_t> brightnessMaximums;
};
Buses& buses() { return processWide<Buses>(); }

struct Ports {
  MainLoop* loop = nullptr;
  I2CBuses* i2c = nullptr;
};
Ports& ports() { return processWide<Ports>(); }

std::string busName(int bus) { return "i2c-" + std::to_string(bus); }

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
    if (i) text += ' ';
    text += byte;
  }
  return text;
}

// Counts the bus as under way (a transfer, or a write between its attempts).
void holdBus(DisplayID displayID) { ++buses().underWay[displayID]; }
void releaseBus(DisplayID displayID) {
  if (--buses().underWay[displayID] <= 0) buses().underWay.erase(displayID);
}

// One transfer with the monitor on the display's bus. Its end stamps the
// bus's clock whether or not the caller still listens; without an I2C
// facility, no device answers.
ScheduledWork transfer(DisplayID displayID, int bus, std::vector<std::uint8_t> bytes, std::size_t readLength,
                       bool replyFollows, std::function<void(const I2CResult&)> done) {
  MainLoop* loop = ports().loop;
  if (!loop) return {};
  I2CBuses* port = ports().i2c;
  if (!port)
    return loop->post([done = std::move(done)] { done({I2CStatus::noDevice, {}, "no I2C facility"}); });
  auto listener = std::make_shared<std::function<void(const I2CResult&)>>(std::move(done));
  const std::uint64_t submission = buses().nextSubmission++;
  holdBus(displayID);
  auto submit = [port, displayID, submission, listener,
                 message = I2CMessage{bus, DDCPackets::kChipAddress, std::move(bytes), readLength, replyFollows}] {
    auto work = port->submit(message, [displayID, submission, listener](I2CResult result) {
      releaseBus(displayID);
      buses().submitted.erase(submission);
      DDCTransport::stampBus(displayID);
      if (auto caller = std::exchange(*listener, nullptr)) caller(result);
    });
    buses().submitted.insert_or_assign(submission, std::move(work));
  };
  if (buses().lastMessageAt.contains(displayID)) {
    submit();
  } else {
    // The first message on a bus waits a moment: a monitor just plugged in
    // or woken may not be listening on DDC/CI at once. The bus counts as
    // under way meanwhile.
    buses().submitted.emplace(submission, loop->after(DDCTransport::kFirstMessageWaitSeconds, std::move(submit)));
  }
  return ScheduledWork::cancelling([listener] { *listener = nullptr; });
}

// A failure a second attempt may mend: the message may have been lost on the
// wire. One the bus's device or another program stands behind stays.
bool worthAnotherAttempt(I2CStatus status) {
  return status == I2CStatus::noAnswer || status == I2CStatus::noDevice || status == I2CStatus::ioError;
}

// One Set VCP Feature: up to kWriteAttempts transfers, the bus kept between them.
class WriteRound : public std::enable_shared_from_this<WriteRound> {
 public:
  WriteRound(DisplayID displayID, int bus, std::vector<std::uint8_t> packet, std::function<void(const I2CResult&)> done)
      : displayID_(displayID), bus_(bus), packet_(std::move(packet)), done_(std::move(done)) {}

  void send() {
    logLine(displayID_, "writing Set VCP brightness to " + busName(bus_) + (attempt_ > 1 ? " again" : ""));
    step_ = transfer(displayID_, bus_, packet_, 0, false, [self = weak_from_this()](const I2CResult& result) {
      if (const auto round = self.lock()) round->sent(result);
    });
  }
  void cancel() {
    step_.cancel();  // a wait between attempts gives the bus back
    done_ = nullptr;
  }

 private:
  void sent(const I2CResult& result) {
    logLine(displayID_, busName(bus_) + " write result=" + DDCTransport::resultText(result));
    if (worthAnotherAttempt(result.status) && attempt_ < kWriteAttempts && ports().loop) {
      ++attempt_;
      holdBus(displayID_);
      auto held = std::make_shared<bool>(true);
      const auto release = [displayID = displayID_, held] {
        if (std::exchange(*held, false)) releaseBus(displayID);
      };
      auto wait = ports().loop->after(DDCTransport::kMessageIntervalSeconds, [self = weak_from_this(), release] {
        release();
        if (const auto round = self.lock()) round->send();
      });
      step_ = ScheduledWork::cancelling([wait = std::make_shared<ScheduledWork>(std::move(wait)), release] {
        wait->cancel();
        release();
      });
      return;
    }
    const auto keepAlive = shared_from_this();  // `done` may cancel this round
    if (auto done = std::exchange(done_, nullptr)) done(result);
  }

  DisplayID displayID_;
  int bus_;
  std::vector<std::uint8_t> packet_;
  std::function<void(const I2CResult&)> done_;
  int attempt_ = 1;
  ScheduledWork step_;  // the transfer under way or the wait before the next
};

// One read of a monitor: request, wait, reply; again with a longer wait
// after a null message or a reply that fails its checks.
class ReadRound : public std::enable_shared_from_this<ReadRound> {
 public:
  ReadRound(DisplayID displayID, int bus, std::function<void(const BrightnessReading&)> done)
      : displayID_(displayID), bus_(bus), done_(std::move(done)) {
    const auto worked = buses().replyWaitIndex.find(displayID);
    waitIndex_ = worked != buses().replyWaitIndex.end() ? worked->second : 0;
  }

  void start() { schedule(DDCTransport::messageWait(displayID_), &ReadRound::query); }
  void cancel() {
    step_.cancel();
    done_ = nullptr;
    buses().awaitingReply.erase(displayID_);
  }

 private:
  void query() {
    // Another message may have gone out meanwhile (a write on this bus).
    if (const double wait = DDCTransport::messageWait(displayID_); wait > 0) return schedule(wait, &ReadRound::query);
    const auto request = DDCPackets::getVCPFeatureRequest();
    step_ = transfer(displayID_, bus_, {request.begin(), request.end()}, 0, true,
                     [self = weak_from_this()](const I2CResult& result) {
                       if (const auto round = self.lock()) round->queried(result);
                     });
  }

  void queried(const I2CResult& result) {
    logLine(displayID_, "brightness read query attempt " + std::to_string(attempt_) +
                            " result=" + DDCTransport::resultText(result));
    if (result.status != I2CStatus::ok)
      return finish({std::nullopt, result.status == I2CStatus::busy ? ReadFailure::busy : ReadFailure::noAnswer});
    buses().awaitingReply.insert(displayID_);
    schedule(DDCTransport::kReplyWaitSeconds[waitIndex_], &ReadRound::fetchReply);
  }

  void fetchReply() {
    buses().awaitingReply.erase(displayID_);
    step_ = transfer(displayID_, bus_, {}, DDCPackets::kReplyLength, false,
                     [self = weak_from_this()](const I2CResult& result) {
                       if (const auto round = self.lock()) round->replied(result);
                     });
  }

  void replied(I2CResult result) {
    if (result.status != I2CStatus::ok) result.read.assign(DDCPackets::kReplyLength, 0);
    const auto& reply = result.read;
    logLine(displayID_, "brightness read reply attempt " + std::to_string(attempt_) +
                            " result=" + DDCTransport::resultText(result) + " bytes=" + hexBytes(reply));
    if (result.status == I2CStatus::ok) {
      if (const auto value = DDCPackets::parseVCPFeatureReply(reply.data(), reply.size())) {
        buses().replyWaitIndex[displayID_] = waitIndex_;
        buses().brightnessMaximums[displayID_] = value->maximum;
        return finish({value->percent(), ReadFailure::none});
      }
    }
    if (++attempt_ > kReplyAttempts) {
      logLine(displayID_, "brightness read parse failed");
      return finish({std::nullopt, ReadFailure::noReply});
    }
    // Not ready, or garbled on the wire: give the monitor longer next time.
    waitIndex_ = std::min(waitIndex_ + 1, DDCTransport::kReplyWaitSeconds.size() - 1);
    schedule(DDCTransport::messageWait(displayID_), &ReadRound::query);
  }

  void schedule(double seconds, void (ReadRound::*step)()) {
    step_ = ports().loop->after(seconds, [self = weak_from_this(), step] {
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
  ScheduledWork step_;  // the transfer under way or the wait before the next
};
}  // namespace

std::string DDCTransport::resultText(const I2CResult& result) {
  std::string text = i2cStatusText(result.status);
  if (!result.error.empty()) text += " (" + result.error + ")";
  return text;
}

void DDCTransport::logLine(DisplayID displayID, const std::string& text) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, text); });
}

void DDCTransport::usePorts(MainLoop* loop, I2CBuses* i2c) { ports() = {loop, i2c}; }

double DDCTransport::messageWait(DisplayID displayID) {
  const auto& state = buses();
  if (state.underWay.contains(displayID) || state.awaitingReply.contains(displayID)) return kMessageIntervalSeconds;
  const auto last = state.lastMessageAt.find(displayID);
  const MainLoop* loop = ports().loop;
  if (last == state.lastMessageAt.end() || !loop) return 0;
  const double wait = last->second + kMessageIntervalSeconds - loop->uptime();
  return wait > kClockSlack ? wait : 0;
}

void DDCTransport::stampBus(DisplayID displayID) {
  if (const MainLoop* loop = ports().loop) buses().lastMessageAt[displayID] = loop->uptime();
}

ScheduledWork DDCTransport::writeBrightness(DisplayID displayID, int bus, std::uint32_t value, std::uint32_t steps,
                                            std::function<void(const I2CResult&)> done) {
  const std::uint32_t maximum = brightnessMaximum(displayID).value_or(100);
  const auto scaled = std::lround(static_cast<double>(value) * maximum / steps);
  const auto packet = DDCPackets::setVCPFeaturePacket(static_cast<std::uint16_t>(std::clamp<long>(scaled, 1, maximum)));
  auto round = std::make_shared<WriteRound>(displayID, bus, std::vector<std::uint8_t>(packet.begin(), packet.end()),
                                            std::move(done));
  round->send();
  return ScheduledWork::cancelling([round] { round->cancel(); });
}

ScheduledWork DDCTransport::readBrightness(DisplayID displayID, int bus,
                                           std::function<void(const BrightnessReading&)> done) {
  auto round = std::make_shared<ReadRound>(displayID, bus, std::move(done));
  round->start();
  return ScheduledWork::cancelling([round] { round->cancel(); });
}

std::optional<std::uint16_t> DDCTransport::brightnessMaximum(DisplayID displayID) {
  const auto found = buses().brightnessMaximums.find(displayID);
  return found == buses().brightnessMaximums.end() ? std::nullopt : std::optional(found->second);
}

void DDCTransport::setBrightnessMaximum(DisplayID displayID, std::uint16_t maximum) {
  buses().brightnessMaximums[displayID] = maximum;
}

void DDCTransport::reset() {
  auto submitted = std::move(buses().submitted);  // cancelled once the state is clean again
  buses() = {};
}
