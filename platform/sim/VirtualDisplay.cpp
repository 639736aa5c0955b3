// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/VirtualDisplay.hpp"

#include <algorithm>
#include <cstring>

#include "ports/IOResult.hpp"

namespace {
constexpr std::uint32_t kChipAddress = 0x37;
constexpr std::uint32_t kHostAddress = 0x51;
constexpr std::uint8_t kWireWriteAddress = 0x6E;
constexpr std::uint8_t kBrightness = 0x10;
}  // namespace

double VirtualDisplay::brightness() const {
  return builtIn_ ? static_cast<double>(panelLevel_) * 100.0 : static_cast<double>(vcpCurrent_);
}

bool VirtualDisplay::consume(int& count) {
  if (count == 0) return false;
  if (count > 0) --count;
  return true;
}

void VirtualDisplay::resetGamma() {
  gammaRed.assign(gammaCapacity, 0.0f);
  for (std::uint32_t i = 0; i < gammaCapacity; ++i)
    gammaRed[i] = gammaCapacity > 1 ? static_cast<float>(i) / static_cast<float>(gammaCapacity - 1) : 1.0f;
  gammaGreen = gammaRed;
  gammaBlue = gammaRed;
}

double VirtualDisplay::gammaScale() const { return gammaRed.empty() ? 1.0 : static_cast<double>(gammaRed.back()); }

// A monitor that speaks DDC/CI: a length byte (0x80 | n), n payload bytes and
// a checksum over the wire address, the host address and everything before it.
std::int32_t VirtualDisplay::i2cWrite(std::uint64_t now, std::uint32_t chip, std::uint32_t dataAddress,
                                      const std::uint8_t* bytes, std::uint32_t length) {
  if (!connected_) return IOResult::noDevice;
  if (busHeldElsewhere) return IOResult::busy;
  if (consume(failWrites_)) return faultResult;
  if (chip != kChipAddress || dataAddress != kHostAddress) return IOResult::notResponding;
  const bool tooSoon = lastMessageAt_ && now - *lastMessageAt_ < minimumMessageIntervalMicroseconds;
  lastMessageAt_ = now;
  if (tooSoon) {
    ++droppedMessages_;
    return IOResult::success;
  }
  if (length < 3 || (bytes[0] & 0x80) == 0 || (bytes[0] & 0x7F) + 2u != length) return IOResult::success;
  std::uint8_t sum = kWireWriteAddress ^ static_cast<std::uint8_t>(kHostAddress);
  for (std::uint32_t i = 0; i + 1 < length; ++i) sum ^= bytes[i];
  if (sum != bytes[length - 1]) return IOResult::success;  // the bus acknowledged; the monitor ignores it

  const std::uint8_t opcode = bytes[1];
  if (opcode == 0x03 && length == 6 && bytes[2] == kBrightness) {
    if (!dropWrites_) {
      const auto value = static_cast<std::uint16_t>((bytes[3] << 8) | bytes[4]);
      vcpCurrent_ = vcpMaximum_ > 0 ? std::min(value, vcpMaximum_) : value;
      ++acceptedWrites_;
    }
    replyPending_ = false;
  } else if (opcode == 0x01 && length == 4 && bytes[2] == kBrightness) {
    replyPending_ = true;
    queriedAt_ = now;
  }
  return IOResult::success;
}

std::int32_t VirtualDisplay::i2cRead(std::uint64_t now, std::uint32_t chip, std::uint32_t dataAddress,
                                     std::uint8_t* bytes, std::uint32_t length) {
  if (!connected_) return IOResult::noDevice;
  if (busHeldElsewhere) return IOResult::busy;
  if (consume(failReads_)) return faultResult;
  if (chip != kChipAddress || dataAddress != kHostAddress) return IOResult::notResponding;
  lastMessageAt_ = now;  // a reply counts: the next write waits its interval after it
  std::memset(bytes, 0, length);
  std::vector<std::uint8_t> reply;
  if (replyOverride_) {
    reply = *replyOverride_;
  } else if (!replyPending_ || now - queriedAt_ < replyDelayMicroseconds) {
    reply = {kWireWriteAddress, 0x80, 0xBE};  // the null message: nothing to report
  } else {
    reply = {kWireWriteAddress,
             0x88,
             0x02,
             0x00,
             kBrightness,
             0x00,
             static_cast<std::uint8_t>(vcpMaximum_ >> 8),
             static_cast<std::uint8_t>(vcpMaximum_ & 0xFF),
             static_cast<std::uint8_t>(vcpCurrent_ >> 8),
             static_cast<std::uint8_t>(vcpCurrent_ & 0xFF)};
    std::uint8_t sum = 0x50;
    for (const auto byte : reply) sum ^= byte;
    reply.push_back(sum);
    if (consume(garbageReplies_)) {
      reply[2] = 0xE1;  // a reply to some other request
      reply[4] = 0x62;
    }
    if (consume(corruptReplies_)) {
      reply[6] = 0xFF;
      reply[7] = 0xFF;
    }
  }
  std::memcpy(bytes, reply.data(), std::min<std::size_t>(reply.size(), length));
  return IOResult::success;
}
