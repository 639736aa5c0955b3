// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>

#include "base/DisplayID.hpp"

// A display's colour transfer tables: three channels of single-precision
// entries (0 to 1) that the system applies to every pixel. Each function is
// resolved by name at run time and may be missing; a missing function behaves
// like a display without gamma (capacity 0, or an error code).
class GammaTables {
 public:
  virtual ~GammaTables() = default;

  // Result codes, as the system returns them. 0 is success.
  static constexpr std::int32_t success = 0;
  static constexpr std::int32_t failure = 1000;          // generic failure
  static constexpr std::int32_t illegalArgument = 1001;  // bad sample count or buffers
  static constexpr std::int32_t invalidDisplay = 1002;   // the display is not online
  static constexpr std::int32_t notImplemented = 1006;   // no gamma on this display, or function missing

  // Number of entries per channel the display accepts; 0 when it has no
  // gamma table or the function is missing.
  virtual bool hasCapacity() = 0;
  virtual std::uint32_t capacity(DisplayID displayID) = 0;

  // Reads up to `capacity` entries into each of the three buffers and stores
  // the number of entries read in `sampleCount`. Returns a result code.
  virtual bool hasGetTransfer() = 0;
  virtual std::int32_t getTransfer(DisplayID displayID, std::uint32_t capacity, float* red, float* green, float* blue,
                                   std::uint32_t& sampleCount) = 0;

  // Installs `sampleCount` entries of each channel. Returns a result code.
  virtual bool hasSetTransfer() = 0;
  virtual std::int32_t setTransfer(DisplayID displayID, std::uint32_t sampleCount, const float* red,
                                   const float* green, const float* blue) = 0;

  // Why a display has no usable gamma, as a control-status key; empty when
  // it has, or when the system gives no reason.
  virtual std::string_view unavailableReason(DisplayID) { return {}; }
};
