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
                            ": drive the monitor through its device under /sys/class/backlight (load "
                            "ddcci_backlight), or unload the driver (sudo modprobe -r ddcci_backlight ddcci)");
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

namespace {
// An open bus with the chip selected, closed on scope exit.
class OpenBus {
 public:
  OpenBus(const std::filesystem::path& path, std::uint8_t chip) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
      result_ = i2cResultForErrno(errno, path);
      return;
    }
    // Other DDC/CI tools take the same advisory lock, so no message of theirs
    // lands between ours. Held until close; never waited for.
    if (::flock(fd_, LOCK_EX | LOCK_NB) < 0) {
      result_ = errno == EWOULDBLOCK ? IOResult::busy : i2cResultForErrno(errno, path);
      return;
    }
    if (::ioctl(fd_, I2C_SLAVE, static_cast<unsigned long>(chip)) < 0) result_ = i2cResultForErrno(errno, path);
  }
  ~OpenBus() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenBus(const OpenBus&) = delete;
  OpenBus& operator=(const OpenBus&) = delete;

  std::int32_t result() const { return result_; }
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  std::int32_t result_ = IOResult::success;
};

std::int32_t writeAll(const OpenBus& bus, const std::vector<std::uint8_t>& bytes) {
  const auto written = ::write(bus.fd(), bytes.data(), bytes.size());
  if (written < 0) return i2cResultForErrno(errno, bus.path());
  return static_cast<std::size_t>(written) == bytes.size() ? IOResult::success : IOResult::ioError;
}

std::int32_t readAll(const OpenBus& bus, std::span<std::uint8_t> out) {
  const auto got = ::read(bus.fd(), out.data(), out.size());
  if (got < 0) return i2cResultForErrno(errno, bus.path());
  return static_cast<std::size_t>(got) == out.size() ? IOResult::success : IOResult::ioError;
}
}  // namespace

I2CDevice::I2CDevice(std::filesystem::path devRoot) : devRoot_(std::move(devRoot)) {}

std::filesystem::path I2CDevice::devicePath(int bus) const { return devRoot_ / ("i2c-" + std::to_string(bus)); }

std::int32_t I2CDevice::write(int bus, std::uint8_t chip, std::uint8_t dataAddress,
                              std::span<const std::uint8_t> bytes) const {
  OpenBus open(devicePath(bus), chip);
  if (open.result() != IOResult::success) return open.result();
  std::vector<std::uint8_t> message;
  message.reserve(bytes.size() + 1);
  message.push_back(dataAddress);
  message.insert(message.end(), bytes.begin(), bytes.end());
  return writeAll(open, message);
}

std::int32_t I2CDevice::read(int bus, std::uint8_t chip, std::span<std::uint8_t> out) const {
  OpenBus open(devicePath(bus), chip);
  if (open.result() != IOResult::success) return open.result();
  return readAll(open, out);
}

std::optional<std::vector<std::uint8_t>> I2CDevice::readEdid(int bus) const {
  OpenBus open(devicePath(bus), 0x50);
  if (open.result() != IOResult::success) return std::nullopt;
  if (writeAll(open, {0x00}) != IOResult::success) return std::nullopt;
  std::vector<std::uint8_t> block(128);
  if (readAll(open, block) != IOResult::success) return std::nullopt;
  return block;
}
