// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/I2CDevice.hpp"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
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

std::int32_t i2cResultForErrno(int error, const std::filesystem::path& device) {
  if (error == EACCES || error == EPERM) {
    explainOnce(explained().permission, "No permission to open " + device.string() +
                            ": install the udev rule that comes with the Dimmora package, or add your user to the "
                            "i2c group (sudo usermod -aG i2c $USER), then log in again; the i2c-dev module must be "
                            "loaded too (sudo modprobe i2c-dev)");
  }
  if (error == ENOENT && !anyI2CDevice(device.parent_path())) {
    explainOnce(explained().missingModule, "There is no " + device.string() +
                            ": the i2c-dev module is not loaded. Load it now with sudo modprobe i2c-dev, and at "
                            "every boot with: echo i2c-dev | sudo tee /etc/modules-load.d/i2c-dev.conf");
    return IOResult::notAttached;
  }
  if (error == EBUSY) {
    explainOnce(explained().kernelDriver, "The kernel's ddcci driver holds " + device.string() +
                            " and offers no backlight device for it: load ddcci_backlight (sudo modprobe "
                            "ddcci_backlight) and Dimmora drives the monitor through /sys/class/backlight, or "
                            "unload the driver (sudo modprobe -r ddcci_backlight ddcci)");
    return IOResult::exclusiveAccess;
  }
  return ioResultForErrno(error);
}

void resetI2CExplanations() { explained() = {}; }

std::string ioResultText(std::int32_t code) {
  switch (code) {
    case IOResult::success: return "success";
    case IOResult::error: return "general error";
    case IOResult::noDevice: return "no such device";
    case IOResult::unsupported: return "unsupported";
    case IOResult::notResponding: return "device not responding";
    case IOResult::ioError: return "I/O error";
    case IOResult::notPermitted: return "not permitted";
    case IOResult::notAttached: return "no device node";
    case IOResult::exclusiveAccess: return "held by a kernel driver";
    case IOResult::busy: return "held by another program";
    default: return "";
  }
}

std::int32_t ioResultForErrno(int error) {
  switch (error) {
    case 0: return IOResult::success;
    case EACCES:
    case EPERM: return IOResult::notPermitted;
    case ENOENT:
    case ENODEV:
    case ENXIO: return IOResult::noDevice;
    case ENOTTY:
    case EINVAL:
    case EISDIR: return IOResult::unsupported;
    case EREMOTEIO:
    case ETIMEDOUT:
    case EAGAIN: return IOResult::notResponding;
    case EIO: return IOResult::ioError;
    default: return IOResult::error;
  }
}

I2CTransfer::I2CTransfer(const std::filesystem::path& device, std::uint8_t chip) : device_(device), chip_(chip) {
  fd_ = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    result_ = i2cResultForErrno(errno, device);
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) < 0) {
    result_ = errno == EWOULDBLOCK ? IOResult::busy : i2cResultForErrno(errno, device);
    return;
  }
  if (::ioctl(fd_, I2C_SLAVE, static_cast<unsigned long>(chip)) < 0) result_ = i2cResultForErrno(errno, device);
}

I2CTransfer::~I2CTransfer() {
  if (fd_ >= 0) ::close(fd_);  // lets go of the lock too
}

std::int32_t I2CTransfer::write(std::uint8_t dataAddress, std::span<const std::uint8_t> bytes) const {
  if (result_ != IOResult::success) return result_;
  std::vector<std::uint8_t> message;
  message.reserve(bytes.size() + 1);
  message.push_back(dataAddress);
  message.insert(message.end(), bytes.begin(), bytes.end());
  const auto written = ::write(fd_, message.data(), message.size());
  if (written < 0) return i2cResultForErrno(errno, device_);
  return static_cast<std::size_t>(written) == message.size() ? IOResult::success : IOResult::ioError;
}

std::int32_t I2CTransfer::read(std::span<std::uint8_t> out) const {
  if (result_ != IOResult::success) return result_;
  const auto got = ::read(fd_, out.data(), out.size());
  if (got < 0) return i2cResultForErrno(errno, device_);
  return static_cast<std::size_t>(got) == out.size() ? IOResult::success : IOResult::ioError;
}

I2CDevice::I2CDevice(std::filesystem::path devRoot) : devRoot_(std::move(devRoot)) {}

std::filesystem::path I2CDevice::devicePath(int bus) const { return devRoot_ / ("i2c-" + std::to_string(bus)); }

std::unique_ptr<I2CTransfer> I2CDevice::open(int bus, std::uint8_t chip) const {
  return std::make_unique<I2CTransfer>(devicePath(bus), chip);
}

std::int32_t I2CDevice::read(int bus, std::uint8_t chip, std::span<std::uint8_t> out) const {
  return I2CTransfer(devicePath(bus), chip).read(out);
}

std::optional<std::vector<std::uint8_t>> I2CDevice::readEdid(int bus) const {
  const I2CTransfer transfer(devicePath(bus), 0x50);
  // The EDID's offset 0, then its base block, in one transaction.
  if (transfer.write(0x00, {}) != IOResult::success) return std::nullopt;
  std::vector<std::uint8_t> block(128);
  if (transfer.read(block) != IOResult::success) return std::nullopt;
  return block;
}
