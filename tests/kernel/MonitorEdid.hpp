// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

// EDID base blocks built byte by byte from the standard's layout, so the
// parser (and what emulated monitors answer at 0x50) are checked against the
// layout rather than against the program's own code.
inline std::vector<std::uint8_t> makeEdid(const std::string& vendor, std::uint16_t product, std::uint32_t serial,
                                          const std::string& name, const std::string& serialText = {}) {
  std::vector<std::uint8_t> b(128, 0);
  const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(std::begin(header), std::end(header), b.begin());
  const unsigned packed = ((vendor[0] - 'A' + 1) << 10) | ((vendor[1] - 'A' + 1) << 5) | (vendor[2] - 'A' + 1);
  b[8] = static_cast<std::uint8_t>(packed >> 8);
  b[9] = static_cast<std::uint8_t>(packed & 0xFF);
  b[10] = static_cast<std::uint8_t>(product & 0xFF);
  b[11] = static_cast<std::uint8_t>(product >> 8);
  for (int i = 0; i < 4; ++i) b[12 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
  b[18] = 1;
  b[19] = 4;
  // Descriptor 1 is a detailed timing (non-zero clock) that must be skipped.
  b[54] = 0x01;
  b[55] = 0x1D;
  auto descriptor = [&](std::size_t offset, std::uint8_t tag, const std::string& text) {
    b[offset + 3] = tag;
    std::size_t i = 0;
    for (; i < text.size() && i < 13; ++i) b[offset + 5 + i] = static_cast<std::uint8_t>(text[i]);
    if (i < 13) b[offset + 5 + i++] = 0x0A;
    for (; i < 13; ++i) b[offset + 5 + i] = ' ';
  };
  descriptor(72, 0xFC, name);
  if (!serialText.empty()) descriptor(90, 0xFF, serialText);
  std::uint8_t sum = 0;
  for (int i = 0; i < 127; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
  b[127] = static_cast<std::uint8_t>(0x100 - sum);
  return b;
}
