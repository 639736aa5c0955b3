// SPDX-License-Identifier: GPL-3.0-or-later
#include "MonitorModel.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {
// DDC/CI addresses on the wire: the monitor is written at 0x6E and the host
// calls itself 0x51 as the source of its messages; replies are addressed to
// 0x50, and their checksum starts from that address.
constexpr std::uint8_t kMonitorWireAddress = 0x6E;
constexpr std::uint8_t kHostSourceAddress = 0x51;
constexpr std::uint8_t kHostWireAddress = 0x50;
constexpr std::uint8_t kLengthFlag = 0x80;

constexpr std::uint8_t kGetVCP = 0x01;
constexpr std::uint8_t kGetVCPReply = 0x02;
constexpr std::uint8_t kSetVCP = 0x03;
constexpr std::uint8_t kBrightness = 0x10;
constexpr std::uint8_t kContrast = 0x12;
constexpr std::uint8_t kVCPVersion = 0xDF;

std::uint8_t xorOf(std::uint8_t start, std::span<const std::uint8_t> bytes) {
  for (const auto b : bytes) start ^= b;
  return start;
}

std::string hex(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

// A monitor-to-host message: source address, length, payload, checksum.
std::vector<std::uint8_t> monitorMessage(const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> message = {kMonitorWireAddress, static_cast<std::uint8_t>(kLengthFlag | payload.size())};
  for (const auto b : payload) message.push_back(b);
  message.push_back(xorOf(kHostWireAddress, message));
  return message;
}

MonitorTransfer begin(int client, MonitorTransfer::Kind kind, std::uint8_t address) {
  MonitorTransfer record;
  record.at = record.end = MonitorClock::now();
  record.client = client;
  record.kind = kind;
  record.address = address;
  return record;
}
}  // namespace

MonitorModel::MonitorModel(std::vector<std::uint8_t> edid, MonitorBehaviour behaviour)
    : edid_(std::move(edid)),
      behaviour_(behaviour),
      registers_{{kBrightness, behaviour.brightness}, {kContrast, 50}, {kVCPVersion, 0x0201}},
      standbyUntil_(MonitorClock::now() + behaviour.standbyAtStart) {}

std::chrono::milliseconds MonitorModel::transferTime(std::uint8_t address) const {
  const std::lock_guard lock(mutex_);
  return address == kDDCCIAddress ? behaviour_.transferTime : std::chrono::milliseconds(0);
}

std::uint16_t MonitorModel::maximumOf(std::uint8_t code) const {
  switch (code) {
    case kBrightness: return behaviour_.maximum;
    case kVCPVersion: return 0;  // read-only: the version (2.1) is the current value
    default: return 100;
  }
}

// Switched off in its menu or asleep, the monitor NAKs every DDC/CI transfer.
bool MonitorModel::naks(MonitorTransfer& record) const {
  record.end = record.at + behaviour_.transferTime;
  if (behaviour_.ddcciEnabled && MonitorClock::now() >= standbyUntil_) return false;
  record.meaning = behaviour_.ddcciEnabled ? "nak (standby)" : "nak (DDC/CI off)";
  return true;
}

int MonitorModel::write(int client, std::uint8_t address, std::span<const std::uint8_t> bytes) {
  const std::lock_guard lock(mutex_);
  auto record = begin(client, MonitorTransfer::Kind::write, address);
  record.bytes.assign(bytes.begin(), bytes.end());
  if (address == kEdidAddress) {
    // The EEPROM takes the offset of the next read; it is not writable.
    if (!bytes.empty()) edidOffset_ = bytes[0];
    record.meaning = "edid offset " + hex(edidOffset_);
  } else if (address == kDDCCIAddress) {
    record.error = naks(record) ? EREMOTEIO : writeDDCCI(bytes, record);
  } else {
    record.error = EREMOTEIO;
  }
  transfers_.push_back(std::move(record));
  return transfers_.back().error;
}

int MonitorModel::read(int client, std::uint8_t address, std::span<std::uint8_t> out) {
  const std::lock_guard lock(mutex_);
  auto record = begin(client, MonitorTransfer::Kind::read, address);
  if (address == kEdidAddress) {
    for (auto& b : out) b = edid_.empty() ? 0xFF : edid_[edidOffset_++ % edid_.size()];
    record.meaning = "edid";
  } else if (address == kDDCCIAddress) {
    record.error = naks(record) ? EREMOTEIO : readDDCCI(out, record);
  } else {
    record.error = EREMOTEIO;
  }
  if (!record.error) record.bytes.assign(out.begin(), out.end());
  transfers_.push_back(std::move(record));
  return transfers_.back().error;
}

int MonitorModel::writeDDCCI(std::span<const std::uint8_t> bytes, MonitorTransfer& record) {
  if (behaviour_.answersEveryOtherTry && ++requests_ % 2 == 1) {
    record.meaning = "nak (every other try)";
    return EREMOTEIO;
  }
  const auto sinceLast = lastMessageAt_ ? record.at - *lastMessageAt_ : MonitorClock::duration::max();
  lastMessageAt_ = record.end;
  pending_.reset();
  // Source, length, payload and checksum; anything else is not a message to this monitor.
  const std::size_t length = bytes.size() >= 2 ? bytes[1] & ~kLengthFlag : 0;
  if (bytes.size() < 3 || bytes[0] != kHostSourceAddress || !(bytes[1] & kLengthFlag) || bytes.size() != length + 3 ||
      xorOf(kMonitorWireAddress, bytes.first(bytes.size() - 1)) != bytes.back()) {
    record.meaning = "garbled";
    return 0;
  }
  const auto payload = bytes.subspan(2, length);
  if (payload.size() == 2 && payload[0] == kGetVCP) {
    const std::uint8_t code = payload[1];
    record.meaning = "get " + hex(code);
    const auto reg = registers_.find(code);
    const std::uint16_t maximum = maximumOf(code);
    const std::uint16_t current = reg == registers_.end() ? 0 : reg->second;
    std::vector<std::uint8_t> reply = {kGetVCPReply, static_cast<std::uint8_t>(reg == registers_.end() ? 0x01 : 0x00),
                                       code, 0x00, static_cast<std::uint8_t>(maximum >> 8),
                                       static_cast<std::uint8_t>(maximum), static_cast<std::uint8_t>(current >> 8),
                                       static_cast<std::uint8_t>(current)};
    auto message = monitorMessage(reply);
    std::string meaning = reg == registers_.end() ? "reply " + hex(code) + " unsupported"
                                                  : "reply " + hex(code) + " " + std::to_string(current) + "/" +
                                                        std::to_string(maximum);
    if (behaviour_.corruptEveryNthReply > 0 && ++replies_ % behaviour_.corruptEveryNthReply == 0) {
      // Bits flipped on the wire after the monitor summed them.
      message[6] = message[7] = 0xFF;
      meaning += " corrupted";
    }
    pending_ = Reply{std::move(message), record.end + behaviour_.replyPreparation, std::move(meaning)};
  } else if (payload.size() == 4 && payload[0] == kSetVCP) {
    const std::uint8_t code = payload[1];
    const auto value = static_cast<std::uint16_t>((payload[2] << 8) | payload[3]);
    const std::string what = hex(code) + "=" + std::to_string(value);
    if (sinceLast < behaviour_.setQuietTime) {
      record.meaning = "ignored set " + what;
    } else if (const auto reg = registers_.find(code); reg != registers_.end()) {
      reg->second = std::min(value, maximumOf(code));
      record.meaning = "set " + what;
    } else {
      record.meaning = "unsupported set " + what;
    }
  } else {
    record.meaning = "unknown request " + hex(payload.empty() ? 0 : payload[0]);
  }
  return 0;
}

int MonitorModel::readDDCCI(std::span<std::uint8_t> out, MonitorTransfer& record) {
  lastMessageAt_ = record.end;
  std::vector<std::uint8_t> message;
  if (pending_ && record.at >= pending_->readyAt) {
    message = std::move(pending_->bytes);
    record.meaning = std::move(pending_->meaning);
    pending_.reset();
  } else {
    // Nothing to say (yet): the null message.
    message = monitorMessage({});
    record.meaning = pending_ ? "null reply (not ready)" : "null reply";
  }
  // Past the message the bus reads as released (all ones).
  std::fill(out.begin(), out.end(), 0xFF);
  std::copy_n(message.begin(), std::min(message.size(), out.size()), out.begin());
  return 0;
}

std::uint16_t MonitorModel::brightness() const {
  const std::lock_guard lock(mutex_);
  return registers_.at(kBrightness);
}

void MonitorModel::standbyFor(std::chrono::milliseconds duration) {
  const std::lock_guard lock(mutex_);
  standbyUntil_ = MonitorClock::now() + duration;
}

std::vector<MonitorTransfer> MonitorModel::transfers() const {
  const std::lock_guard lock(mutex_);
  return transfers_;
}

std::vector<BrightnessWrite> MonitorModel::brightnessWrites() const {
  const std::lock_guard lock(mutex_);
  std::vector<BrightnessWrite> writes;
  const std::string prefix = "set " + hex(kBrightness) + "=";
  for (const auto& t : transfers_)
    if (t.meaning.rfind(prefix, 0) == 0) writes.push_back({t.at, std::stoi(t.meaning.substr(prefix.size()))});
  return writes;
}
