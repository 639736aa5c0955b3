// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/Edid.hpp"

#include <algorithm>
#include <array>

#include "base/Uuid.hpp"

namespace {
constexpr std::array<std::uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Descriptor text is up to 13 bytes, ended by a line feed and padded with spaces.
std::optional<std::string> descriptorText(std::span<const std::uint8_t> descriptor) {
  std::string text;
  for (std::size_t i = 5; i < 18; ++i) {
    const auto c = descriptor[i];
    if (c == 0x0A || c == 0x00) break;
    text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

std::uint64_t fnv1a(std::span<const std::uint8_t> bytes, std::string_view extra, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (auto b : bytes) hash = (hash ^ b) * 0x100000001B3ULL;
  for (auto c : extra) hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001B3ULL;
  return hash;
}
}  // namespace

std::string EdidInfo::vendorLetters() const {
  std::string letters;
  for (int shift : {10, 5, 0}) letters.push_back(static_cast<char>('A' - 1 + ((vendor >> shift) & 0x1F)));
  return letters;
}

bool EdidInfo::hasUnitSerial() const {
  if (serialText && serialText->find_first_not_of("0 ") != std::string::npos) return true;
  return serial != 0 && serial != 1 && serial != 0x01010101u && serial != 0xFFFFFFFFu;
}

std::optional<EdidInfo> parseEdid(std::span<const std::uint8_t> bytes, std::string* whyNot) {
  auto reject = [&](const char* reason) -> std::optional<EdidInfo> {
    if (whyNot) *whyNot = reason;
    return std::nullopt;
  };
  if (bytes.size() < kEdidBlockSize) return reject("truncated");
  const auto block = bytes.first(kEdidBlockSize);
  if (!std::equal(kHeader.begin(), kHeader.end(), block.begin())) return reject("bad header");
  std::uint8_t sum = 0;
  for (auto b : block) sum = static_cast<std::uint8_t>(sum + b);
  if (sum != 0) return reject("bad checksum");

  EdidInfo info;
  info.vendor = (std::uint32_t{block[8]} << 8) | block[9];
  info.product = std::uint32_t{block[10]} | (std::uint32_t{block[11]} << 8);
  info.serial = std::uint32_t{block[12]} | (std::uint32_t{block[13]} << 8) | (std::uint32_t{block[14]} << 16) |
                (std::uint32_t{block[15]} << 24);
  for (std::size_t offset = 54; offset + 18 <= 126; offset += 18) {
    const auto descriptor = block.subspan(offset, 18);
    // Display descriptors start with a zero pixel clock.
    if (descriptor[0] != 0 || descriptor[1] != 0) continue;
    if (descriptor[3] == 0xFC && !info.monitorName) info.monitorName = descriptorText(descriptor);
    if (descriptor[3] == 0xFF && !info.serialText) info.serialText = descriptorText(descriptor);
  }
  info.baseBlock.assign(block.begin(), block.end());
  return info;
}

std::string edidStableKey(std::span<const std::uint8_t> baseBlock, std::string_view disambiguator) {
  const auto high = fnv1a(baseBlock, disambiguator, 0xCBF29CE484222325ULL);
  const auto low = fnv1a(baseBlock, disambiguator, 0x84222325CBF29CE4ULL);
  std::array<std::uint8_t, 16> bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
    bytes[8 + i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  }
  // Mark it as a name-based (version 8, RFC 9562 custom) UUID of the standard variant.
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x80);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  return Uuid(bytes).uuidString();
}

std::string displayStableKey(const EdidInfo& edid, std::string_view connectorName) {
  return edidStableKey(edid.baseBlock, edid.hasUnitSerial() ? std::string_view() : connectorName);
}

std::vector<std::string> formerStableKeys(const EdidInfo& edid, std::string_view outputName,
                                          std::string_view currentKey) {
  std::vector<std::string> keys;
  for (const auto& key : {edidStableKey(edid.baseBlock, outputName), edidStableKey(edid.baseBlock)})
    if (key != currentKey && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  return keys;
}

bool sameEdid(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  if (a.size() < kEdidBlockSize || b.size() < kEdidBlockSize) return false;
  return std::equal(a.begin(), a.begin() + kEdidBlockSize, b.begin());
}
