// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The transport's short waits between I2C transfers. They block the main
// thread on purpose: monitors need the pause before they answer.
class BlockingSleep {
 public:
  virtual ~BlockingSleep() = default;
  virtual void sleepMicroseconds(std::uint32_t microseconds) = 0;
};
