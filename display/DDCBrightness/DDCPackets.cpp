// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/DDCBrightness/DDCPackets.hpp"

namespace {
constexpr std::uint8_t kWireWriteAddress = 0x6E;
constexpr std::uint8_t kBrightnessCode = 0x10;

// A message's checksum covers its destination address and every byte before the checksum.
std::uint8_t checksum(std::uint8_t destination, const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t sum = destination;
  for (std::size_t i = 0; i < length; ++i) sum ^= bytes[i];
  return sum;
}
template <std::size_t N>
std::uint8_t checksum(const std::array<std::uint8_t, N>& packet) {
  return checksum(kWireWriteAddress, packet.data(), N - 1);
}
}  // namespace

std::array<std::uint8_t, 7> DDCPackets::setVCPFeaturePacket(std::uint16_t value) {
  std::array<std::uint8_t, 7> packet = {kDataAddress, 0x84, 0x03, kBrightnessCode, static_cast<std::uint8_t>(value >> 8),
                                        static_cast<std::uint8_t>(value & 0xFF), 0};
  packet[6] = checksum(packet);
  return packet;
}

std::array<std::uint8_t, 5> DDCPackets::getVCPFeatureRequest() {
  std::array<std::uint8_t, 5> request = {kDataAddress, 0x82, 0x01, kBrightnessCode, 0};
  request[4] = checksum(request);
  return request;
}

std::optional<DDCPackets::VCPValue> DDCPackets::parseVCPFeatureReply(const std::uint8_t* bytes, std::size_t length) {
  // Source, length (0x80 | 8), Get VCP reply, result 0 (supported), VCP code;
  // the checksum is to the host (0x50) over everything before it.
  if (!bytes || length < 11 || bytes[0] != kWireWriteAddress || bytes[1] != 0x88 || bytes[2] != 0x02 ||
      bytes[3] != 0x00 || bytes[4] != kBrightnessCode || checksum(0x50, bytes, 10) != bytes[10])
    return std::nullopt;
  const auto maximum = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  const auto current = static_cast<std::uint16_t>((bytes[8] << 8) | bytes[9]);
  if (maximum == 0) return std::nullopt;
  return VCPValue{maximum, current};
}
