// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Uuid.hpp"

#include <random>

namespace {
constexpr bool isHyphenPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::mt19937_64& generator() {
  static std::mt19937_64 engine{std::random_device{}()};
  return engine;
}
}  // namespace

Uuid Uuid::random() {
  std::array<std::uint8_t, 16> bytes{};
  std::uniform_int_distribution<unsigned> byte(0, 255);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(generator()));
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHyphenPosition(i)) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int v = hexValue(text[i]);
    if (v < 0) return std::nullopt;
    auto& b = bytes[nibble / 2];
    b = static_cast<std::uint8_t>(nibble % 2 == 0 ? v << 4 : b | v);
    ++nibble;
  }
  return Uuid(bytes);
}

std::string Uuid::uuidString() const {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(digits[bytes_[i] >> 4]);
    text.push_back(digits[bytes_[i] & 0x0F]);
  }
  return text;
}
