// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ports/I2CBuses.hpp"

// The status for an errno from opening or using /dev/i2c-N. The causes a
// user can fix (no permission, no i2c-dev module, a kernel ddcci driver
// holding the bus) are explained in the log, once per process each.
I2CStatus i2cStatusForErrno(int error, const std::filesystem::path& device);
// Lets the next occurrence of each cause be explained again (tests).
void resetI2CExplanations();

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
  const I2CResult& opened() const { return opened_; }
  std::uint8_t chip() const { return chip_; }
  // Sends `bytes` as one message.
  I2CResult write(std::span<const std::uint8_t> bytes) const;
  // Reads `length` bytes.
  I2CResult read(std::size_t length) const;

 private:
  I2CResult failure(int error) const;

  std::filesystem::path device_;
  std::uint8_t chip_;
  int fd_ = -1;
  I2CResult opened_;
};

// Transfers on /dev/i2c-N (the i2c-dev module). A transfer whose reply
// follows keeps its bus locked until the next transfer on that bus.
class I2CDevice final : public I2CBuses {
 public:
  explicit I2CDevice(std::filesystem::path devRoot);

  I2CResult transfer(const I2CMessage& message) override;

  // A transaction of one or more messages to `chip`, the bus locked until it
  // ends; never waits for the lock.
  std::unique_ptr<I2CTransfer> open(int bus, std::uint8_t chip) const;
  // The 128-byte EDID base block from address 0x50; nullopt when it cannot be read.
  std::optional<std::vector<std::uint8_t>> readEdid(int bus) const;

  std::filesystem::path devicePath(int bus) const;

 private:
  std::filesystem::path devRoot_;
  // Per bus: a request whose reply is still to be read, with the bus locked meanwhile.
  std::map<int, std::unique_ptr<I2CTransfer>> awaitingReply_;
};
