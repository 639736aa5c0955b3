// SPDX-License-Identifier: GPL-3.0-or-later
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
// Causes the user can fix, reported so the display's status can say how.
inline constexpr std::int32_t notAttached = static_cast<std::int32_t>(0xE00002D9u);      // no device node: its driver is not loaded
inline constexpr std::int32_t notPermitted = static_cast<std::int32_t>(0xE00002E2u);     // no access to the device
inline constexpr std::int32_t exclusiveAccess = static_cast<std::int32_t>(0xE00002C5u);  // another driver owns the device
// Another program holds the channel for the moment: try again later.
inline constexpr std::int32_t busy = static_cast<std::int32_t>(0xE00002D5u);
}  // namespace IOResult
