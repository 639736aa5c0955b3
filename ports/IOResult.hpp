#pragma once

#include <cstdint>

// Result codes of the I/O facilities (I2C transfers, panel parameters).
// Logs print them as their 32-bit pattern in hexadecimal.
namespace IOResult {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t error = static_cast<std::int32_t>(0xE00002BCu);
inline constexpr std::int32_t noDevice = static_cast<std::int32_t>(0xE00002C0u);
inline constexpr std::int32_t unsupported = static_cast<std::int32_t>(0xE00002C7u);
inline constexpr std::int32_t notResponding = static_cast<std::int32_t>(0xE00002EDu);
}  // namespace IOResult
