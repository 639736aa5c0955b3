// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ports/I2CBuses.hpp"

// The status for an errno from opening or using /dev/i2c-N. The causes a
// user can fix (no permission, no i2c-dev module, a kernel ddcci driver
// holding the bus) are explained in the log, once per process each, on the
// main thread (explainI2CStatus), never by the bus threads (i2cStatusOf).
I2CStatus i2cStatusOf(int error, const std::filesystem::path& device);
void explainI2CStatus(I2CStatus status, const std::filesystem::path& device);
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

// Transfers on /dev/i2c-N (the i2c-dev module), each bus on a thread of its
// own, so a monitor that stretches its transfers holds up neither the main
// thread nor another bus. A transfer whose reply follows keeps its bus
// locked until the next transfer on that bus. Results wait until the main
// thread, woken through resultDescriptor(), calls deliverResults().
class I2CDevice final : public I2CBuses {
 public:
  explicit I2CDevice(std::filesystem::path devRoot);
  // Lets the transfers under way end, drops those not started and joins the bus threads.
  ~I2CDevice() override;
  I2CDevice(const I2CDevice&) = delete;
  I2CDevice& operator=(const I2CDevice&) = delete;

  ScheduledWork submit(I2CMessage message, std::function<void(I2CResult)> done) override;

  // Readable (an eventfd) while results wait for deliverResults().
  int resultDescriptor() const { return wakeup_; }
  // On the main thread: hands each finished transfer's result to its `done`.
  void deliverResults();
  // Whether a submitted transfer's result is still to be delivered.
  bool hasTransfersUnderWay() const { return !waiting_->empty(); }

  // A transaction of one or more messages to `chip`, the bus locked until it
  // ends; never waits for the lock.
  std::unique_ptr<I2CTransfer> open(int bus, std::uint8_t chip) const;
  // The 128-byte EDID base block from address 0x50; nullopt when it cannot be read.
  std::optional<std::vector<std::uint8_t>> readEdid(int bus) const;

  std::filesystem::path devicePath(int bus) const;

 private:
  class BusThread;
  // What waits for a submitted transfer's result, on the main thread only.
  struct Waiting {
    std::function<void(I2CResult)> done;
    std::shared_ptr<detail::WorkState> state;
    int bus;
  };
  using WaitingByID = std::map<std::uint64_t, Waiting>;
  // From a bus thread: the transfer's result, for the main thread to deliver.
  void finish(std::uint64_t id, I2CResult result);

  std::filesystem::path devRoot_;
  int wakeup_ = -1;
  std::uint64_t nextID_ = 1;
  std::shared_ptr<WaitingByID> waiting_ = std::make_shared<WaitingByID>();
  std::mutex finishedMutex_;
  std::vector<std::pair<std::uint64_t, I2CResult>> finished_;  // guarded by finishedMutex_
  std::map<int, std::shared_ptr<BusThread>> buses_;  // last: their threads go first
};
