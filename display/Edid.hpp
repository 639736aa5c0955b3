// SPDX-License-Identifier: GPL-3.0-or-later
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
  // Whether a serial number tells this unit from others of its model: the
  // serial descriptor, or a numeric serial that is not one of the fillers
  // makers put into every unit (0, 1, 0x01010101, all ones).
  bool hasUnitSerial() const;
};

inline constexpr std::size_t kEdidBlockSize = 128;

// Parses the base block. A block that is short, lacks the fixed header or fails
// its checksum is rejected with the reason, because a garbled EDID must not
// become a display identity.
std::optional<EdidInfo> parseEdid(std::span<const std::uint8_t> bytes, std::string* whyNot = nullptr);

// A UUID-shaped key from the base block and, when given, a text mixed in.
std::string edidStableKey(std::span<const std::uint8_t> baseBlock, std::string_view disambiguator = {});

// The key a monitor's settings are kept under, whatever else is connected:
// its EDID alone when that carries a unit serial, else its EDID and the
// connector it is plugged into (identical monitors then differ by port).
std::string displayStableKey(const EdidInfo& edid, std::string_view connectorName);

// The keys earlier versions gave the same monitor, most specific first and
// without `currentKey`: the EDID with the output's name (what identical
// monitors got while both were connected), then the EDID alone.
std::vector<std::string> formerStableKeys(const EdidInfo& edid, std::string_view outputName,
                                          std::string_view currentKey);

// True when both byte runs hold the same base block.
bool sameEdid(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
