#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a monitor says about itself in the base block of its EDID.
struct EdidInfo {
  std::uint32_t vendor = 0;   // the three-letter maker code packed into 16 bits
  std::uint32_t product = 0;  // the maker's product code
  std::uint32_t serial = 0;   // the numeric serial (often 0)
  std::optional<std::string> monitorName;  // display descriptor 0xFC
  std::optional<std::string> serialText;   // display descriptor 0xFF
  std::vector<std::uint8_t> baseBlock;     // the 128 bytes the facts came from

  // "DEL", "SAM", ...: the vendor code as letters.
  std::string vendorLetters() const;
};

inline constexpr std::size_t kEdidBlockSize = 128;

// Parses the base block. A block that is short, lacks the fixed header or fails
// its checksum is rejected with the reason, because a garbled EDID must not
// become a display identity.
std::optional<EdidInfo> parseEdid(std::span<const std::uint8_t> bytes, std::string* whyNot = nullptr);

// A UUID-shaped key that stays the same for the same monitor across
// reconnections and restarts. `disambiguator` is mixed in only when two
// connected monitors carry identical EDIDs, so each keeps its own settings.
std::string edidStableKey(std::span<const std::uint8_t> baseBlock, std::string_view disambiguator = {});

// True when both byte runs hold the same base block.
bool sameEdid(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
