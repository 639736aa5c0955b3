// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The DDC/CI messages for brightness (VCP 0x10), byte for byte from the
// host's source address on: built and checked here, sent by DDCTransport.
namespace DDCPackets {

inline constexpr std::uint8_t kChipAddress = 0x37;  // 0x6E on the wire as a write address
inline constexpr std::uint8_t kDataAddress = 0x51;  // the host's source address, first byte of every message
inline constexpr std::uint32_t kReplyLength = 12;

std::array<std::uint8_t, 7> setVCPFeaturePacket(std::uint16_t value);
std::array<std::uint8_t, 5> getVCPFeatureRequest();

// A Get VCP Feature reply's values, or nothing unless the reply is the
// monitor's (source 0x6E), eight bytes long, a Get VCP reply for brightness
// with result "supported", its checksum intact and its maximum not 0.
struct VCPValue {
  std::uint16_t maximum;
  std::uint16_t current;
  double percent() const { return current * 100.0 / maximum; }  // not clamped
  bool operator==(const VCPValue&) const = default;
};
std::optional<VCPValue> parseVCPFeatureReply(const std::uint8_t* bytes, std::size_t length);

}  // namespace DDCPackets
