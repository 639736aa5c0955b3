// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/VirtualDisplay.hpp"

#include <algorithm>


namespace {
constexpr std::uint8_t kChipAddress = 0x37;
constexpr std::uint8_t kHostAddress = 0x51;
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
  gammaRed.assign(gammaSize, 0.0f);
  for (std::uint32_t i = 0; i < gammaSize; ++i)
    gammaRed[i] = gammaSize > 1 ? static_cast<float>(i) / static_cast<float>(gammaSize - 1) : 1.0f;
  gammaGreen = gammaRed;
  gammaBlue = gammaRed;
}

double VirtualDisplay::gammaScale() const { return gammaRed.empty() ? 1.0 : static_cast<double>(gammaRed.back()); }

std::vector<std::uint8_t> VirtualDisplay::edid() const {
  if (edidOverride) return *edidOverride;
  if (!hasEdid) return {};
  std::vector<std::uint8_t> block = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  block.resize(128, 0);
  block[8] = static_cast<std::uint8_t>(vendor >> 8);
  block[9] = static_cast<std::uint8_t>(vendor);
  block[10] = static_cast<std::uint8_t>(model);
  block[11] = static_cast<std::uint8_t>(model >> 8);
  for (int i = 0; i < 4; ++i) block[12 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
  block[18] = 1;
  block[19] = 4;
  // Display descriptors: a zero pixel clock, the tag, then 13 bytes of text ended by a line feed.
  std::size_t offset = 54;
  const auto describe = [&](std::uint8_t tag, const std::string& text) {
    block[offset + 3] = tag;
    for (std::size_t i = 0; i < 13; ++i)
      block[offset + 5 + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : i == text.size() ? 0x0A : 0x20;
    offset += 18;
  };
  if (productName) describe(0xFC, *productName);
  if (serialText) describe(0xFF, *serialText);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 127; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
  block[127] = static_cast<std::uint8_t>(0x100 - sum);
  return block;
}

I2CResult VirtualDisplay::i2cTransfer(std::uint64_t now, const I2CMessage& message) {
  if (!connected_) return {I2CStatus::noDevice, {}, "no such bus"};
  if (busHeldElsewhere) return {I2CStatus::busy, {}, "locked by another program"};
  if (message.address != kChipAddress) return {I2CStatus::noAnswer, {}, "no device at the address"};
  I2CResult result;
  if (!message.write.empty()) result.status = i2cWrite(now, message.write);
  if (result.status == I2CStatus::ok && message.readLength > 0) {
    result.read.assign(message.readLength, 0);
    result.status = i2cRead(now, result.read);
  }
  if (result.status != I2CStatus::ok) result.read.clear();
  return result;
}

// A monitor that speaks DDC/CI: the host's source address, a length byte
// (0x80 | n), n payload bytes and a checksum over the wire address and
// everything before it.
I2CStatus VirtualDisplay::i2cWrite(std::uint64_t now, const std::vector<std::uint8_t>& message) {
  if (consume(failWrites_)) return faultStatus;
  if (message.front() != kHostAddress) return I2CStatus::noAnswer;
  const bool tooSoon = lastMessageAt_ && now - *lastMessageAt_ < minimumMessageIntervalMicroseconds;
  lastMessageAt_ = now;
  if (tooSoon) {
    ++droppedMessages_;
    return I2CStatus::ok;
  }
  const std::uint8_t* bytes = message.data() + 1;
  const std::size_t length = message.size() - 1;
  if (length < 3 || (bytes[0] & 0x80) == 0 || (bytes[0] & 0x7Fu) + 2u != length) return I2CStatus::ok;
  std::uint8_t sum = kWireWriteAddress ^ kHostAddress;
  for (std::size_t i = 0; i + 1 < length; ++i) sum ^= bytes[i];
  if (sum != bytes[length - 1]) return I2CStatus::ok;  // the bus acknowledged; the monitor ignores it

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
  return I2CStatus::ok;
}

I2CStatus VirtualDisplay::i2cRead(std::uint64_t now, std::vector<std::uint8_t>& bytes) {
  if (consume(failReads_)) return faultStatus;
  lastMessageAt_ = now;  // a reply counts: the next write waits its interval after it
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
  std::copy_n(reply.begin(), std::min(reply.size(), bytes.size()), bytes.begin());
  return I2CStatus::ok;
}
