// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "ports/IOResult.hpp"

// The result codes Linux adds to the shared ones.
namespace IOResult {
inline constexpr std::int32_t ioError = static_cast<std::int32_t>(0xE00002CAu);       // transfer failed
}  // namespace IOResult

// Maps an errno to a result code.
std::int32_t ioResultForErrno(int error);
// The same for opening or using /dev/i2c-N. The causes a user can fix (no
// permission, no i2c-dev module, a kernel ddcci driver holding the bus) get
// their own codes and are explained in the log, once per process each.
std::int32_t i2cResultForErrno(int error, const std::filesystem::path& device);
// Lets the next occurrence of each cause be explained again (tests).
void resetI2CExplanations();
// A short text for a result code ("not permitted"); empty for unknown codes.
std::string ioResultText(std::int32_t code);

// One transaction on /dev/i2c-N: the device open, the bus's advisory lock
// held (other DDC/CI tools take the same lock, so none of their messages
// lands inside it) and the chip selected, until it is destroyed.
class I2CTransfer {
 public:
  I2CTransfer(const std::filesystem::path& device, std::uint8_t chip);
  ~I2CTransfer();
  I2CTransfer(const I2CTransfer&) = delete;
  I2CTransfer& operator=(const I2CTransfer&) = delete;

  // Of opening, locking and selecting the chip; busy when another program holds the lock.
  std::int32_t result() const { return result_; }
  std::uint8_t chip() const { return chip_; }
  // Sends the data address followed by `bytes`.
  std::int32_t write(std::uint8_t dataAddress, std::span<const std::uint8_t> bytes) const;
  // Reads out.size() bytes.
  std::int32_t read(std::span<std::uint8_t> out) const;

 private:
  std::filesystem::path device_;
  std::uint8_t chip_;
  int fd_ = -1;
  std::int32_t result_ = 0;
};

// Transfers on /dev/i2c-N (the i2c-dev module): select the chip, then write
// or read bytes.
class I2CDevice {
 public:
  explicit I2CDevice(std::filesystem::path devRoot);

  // A transaction of one or more messages to `chip`, the bus locked until it
  // ends; never waits for the lock.
  std::unique_ptr<I2CTransfer> open(int bus, std::uint8_t chip) const;

  // Reads out.size() bytes from `chip`.
  std::int32_t read(int bus, std::uint8_t chip, std::span<std::uint8_t> out) const;
  // The 128-byte EDID base block from address 0x50; nullopt when it cannot be read.
  std::optional<std::vector<std::uint8_t>> readEdid(int bus) const;

  std::filesystem::path devicePath(int bus) const;

 private:
  std::filesystem::path devRoot_;
};
