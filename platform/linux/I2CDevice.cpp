// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/I2CDevice.hpp"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "services/AppLog.hpp"

namespace {
// Which causes the log has explained already: each is said once per process.
struct Explained {
  bool permission = false;
  bool missingModule = false;
  bool kernelDriver = false;
};
Explained& explained() {
  static Explained flags;
  return flags;
}

void explainOnce(bool& done, const std::string& text) {
  if (done) return;
  done = true;
  AppLog::ddc.error(text);
}

bool anyI2CDevice(const std::filesystem::path& devRoot) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(devRoot, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind("i2c-", 0) == 0) return true;
  return false;
}
}  // namespace

I2CStatus i2cStatusForErrno(int error, const std::filesystem::path& device) {
  switch (error) {
    case EACCES:
    case EPERM:
      explainOnce(explained().permission,
                  "No permission to open " + device.string() +
                      ": install the udev rule that comes with the Dimmora package, or add your user to the "
                      "i2c group (sudo usermod -aG i2c $USER), then log in again; the i2c-dev module must be "
                      "loaded too (sudo modprobe i2c-dev)");
      return I2CStatus::noAccess;
    case ENOENT:
      if (anyI2CDevice(device.parent_path())) return I2CStatus::noDevice;
      explainOnce(explained().missingModule,
                  "There is no " + device.string() +
                      ": the i2c-dev module is not loaded. Load it now with sudo modprobe i2c-dev, and at "
                      "every boot with: echo i2c-dev | sudo tee /etc/modules-load.d/i2c-dev.conf");
      return I2CStatus::noModule;
    case EBUSY:
      explainOnce(explained().kernelDriver,
                  "The kernel's ddcci driver holds " + device.string() +
                      " and offers no backlight device for it: load ddcci_backlight (sudo modprobe "
                      "ddcci_backlight) and Dimmora drives the monitor through /sys/class/backlight, or "
                      "unload the driver (sudo modprobe -r ddcci_backlight ddcci)");
      return I2CStatus::claimedByDriver;
    case ENODEV:
    case ENXIO:
    case ENOTTY:  // not an i2c adapter
    case EINVAL:
    case EISDIR: return I2CStatus::noDevice;
    case EREMOTEIO:
    case ETIMEDOUT:
    case EAGAIN: return I2CStatus::noAnswer;
    default: return I2CStatus::ioError;
  }
}

void resetI2CExplanations() { explained() = {}; }

I2CTransfer::I2CTransfer(const std::filesystem::path& device, std::uint8_t chip) : device_(device), chip_(chip) {
  fd_ = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    opened_ = failure(errno);
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) < 0) {
    opened_ = errno == EWOULDBLOCK ? I2CResult{I2CStatus::busy, {}, device.string() + " is locked by another program"}
                                   : failure(errno);
    return;
  }
  if (::ioctl(fd_, I2C_SLAVE, static_cast<unsigned long>(chip)) < 0) opened_ = failure(errno);
}

I2CTransfer::~I2CTransfer() {
  if (fd_ >= 0) ::close(fd_);  // lets go of the lock too
}

I2CResult I2CTransfer::failure(int error) const {
  return {i2cStatusForErrno(error, device_), {}, device_.string() + ": " + std::strerror(error)};
}

I2CResult I2CTransfer::write(std::span<const std::uint8_t> bytes) const {
  if (opened_.status != I2CStatus::ok) return opened_;
  const auto written = ::write(fd_, bytes.data(), bytes.size());
  if (written < 0) return failure(errno);
  if (static_cast<std::size_t>(written) == bytes.size()) return {};
  return {I2CStatus::ioError, {}, device_.string() + ": wrote " + std::to_string(written) + " of " +
                                      std::to_string(bytes.size()) + " bytes"};
}

I2CResult I2CTransfer::read(std::size_t length) const {
  if (opened_.status != I2CStatus::ok) return opened_;
  I2CResult result;
  result.read.resize(length);
  const auto got = ::read(fd_, result.read.data(), length);
  if (got < 0) return failure(errno);
  if (static_cast<std::size_t>(got) == length) return result;
  return {I2CStatus::ioError, {}, device_.string() + ": read " + std::to_string(got) + " of " +
                                      std::to_string(length) + " bytes"};
}

I2CDevice::I2CDevice(std::filesystem::path devRoot) : devRoot_(std::move(devRoot)) {}

std::filesystem::path I2CDevice::devicePath(int bus) const { return devRoot_ / ("i2c-" + std::to_string(bus)); }

std::unique_ptr<I2CTransfer> I2CDevice::open(int bus, std::uint8_t chip) const {
  return std::make_unique<I2CTransfer>(devicePath(bus), chip);
}

I2CResult I2CDevice::transfer(const I2CMessage& message) {
  // The reply a request awaits is read inside the request's transaction;
  // anything else on the bus lets go of it first.
  auto held = awaitingReply_.extract(message.bus);
  std::unique_ptr<I2CTransfer> transaction;
  if (held && message.write.empty() && held.mapped()->chip() == message.address) transaction = std::move(held.mapped());
  held = {};
  if (!transaction) transaction = open(message.bus, message.address);
  I2CResult result;
  if (!message.write.empty()) result = transaction->write(message.write);
  if (result.status == I2CStatus::ok && message.readLength > 0) result = transaction->read(message.readLength);
  if (result.status == I2CStatus::ok && message.replyFollows) awaitingReply_[message.bus] = std::move(transaction);
  return result;
}

std::optional<std::vector<std::uint8_t>> I2CDevice::readEdid(int bus) const {
  const I2CTransfer transfer(devicePath(bus), 0x50);
  // The EDID's offset 0, then its base block, in one transaction.
  const std::uint8_t offset = 0x00;
  if (transfer.write({&offset, 1}).status != I2CStatus::ok) return std::nullopt;
  auto block = transfer.read(128);
  if (block.status != I2CStatus::ok) return std::nullopt;
  return std::move(block.read);
}
