// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/MainLoop.hpp"

// How a transfer ended. The causes a user can fix have their own values.
enum class I2CStatus {
  ok,
  noAccess,         // the bus's device node may not be opened (permissions)
  noModule,         // there is no /dev/i2c-* at all: the i2c-dev module is not loaded
  noDevice,         // no such bus, or nothing at the address
  busy,             // another program holds the bus for the moment
  claimedByDriver,  // a kernel driver owns the address
  noAnswer,         // the device did not acknowledge or timed out
  ioError,          // the transfer failed otherwise, or moved fewer bytes
};

// One transfer: `write` is sent to `address` (if not empty), then
// `readLength` bytes are read from it (if not 0).
struct I2CMessage {
  int bus = 0;
  std::uint8_t address = 0;
  std::vector<std::uint8_t> write = {};
  std::size_t readLength = 0;
  // A reply follows in the next transfer on this bus: the bus stays this
  // program's until then, so no other tool's message lands between them.
  bool replyFollows = false;
};

struct I2CResult {
  I2CStatus status = I2CStatus::ok;
  std::vector<std::uint8_t> read;  // readLength bytes when ok
  std::string error;               // the system's text for the failure, for the log
};

// Transfers on the system's I2C buses (/dev/i2c-N). A transfer can take as
// long as the device stretches it (100 ms and more), so none is made on the
// main thread: each bus carries its transfers one at a time, in the order
// they were submitted, and buses do not wait for each other.
class I2CBuses {
 public:
  virtual ~I2CBuses() = default;

  // Queues the transfer on its bus and returns at once. `done` runs on the
  // main loop with the result, never inside this call, unless the returned
  // work is cancelled first: a transfer not started yet is then dropped, one
  // under way ends on the bus and its result goes nowhere. Never waits for a
  // bus another program holds: that is `busy`.
  [[nodiscard]] virtual ScheduledWork submit(I2CMessage message, std::function<void(I2CResult)> done) = 0;
};

// "ok", "no access", ...: for log lines.
inline const char* i2cStatusText(I2CStatus status) {
  switch (status) {
    case I2CStatus::ok: return "ok";
    case I2CStatus::noAccess: return "no access";
    case I2CStatus::noModule: return "no i2c-dev module";
    case I2CStatus::noDevice: return "no such device";
    case I2CStatus::busy: return "held by another program";
    case I2CStatus::claimedByDriver: return "held by a kernel driver";
    case I2CStatus::noAnswer: return "no answer";
    case I2CStatus::ioError: return "I/O error";
  }
  return "";
}
