// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A 128-bit identifier; text is the canonical 8-4-4-4-12 upper-case form.
class Uuid {
 public:
  Uuid() = default;  // all zero
  explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

  // A random version-4 identifier.
  static Uuid random();
  // Accepts either case; anything but the 36-character hyphenated form fails.
  static std::optional<Uuid> parse(std::string_view text);

  std::string uuidString() const;
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  auto operator<=>(const Uuid&) const = default;

 private:
  std::array<std::uint8_t, 16> bytes_{};
};
