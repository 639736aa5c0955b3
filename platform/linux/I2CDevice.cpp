// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/I2CDevice.hpp"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
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

I2CStatus i2cStatusOf(int error, const std::filesystem::path& device) {
  switch (error) {
    case EACCES:
    case EPERM: return I2CStatus::noAccess;
    case ENOENT: return anyI2CDevice(device.parent_path()) ? I2CStatus::noDevice : I2CStatus::noModule;
    case EBUSY: return I2CStatus::claimedByDriver;
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

void explainI2CStatus(I2CStatus status, const std::filesystem::path& device) {
  switch (status) {
    case I2CStatus::noAccess:
      explainOnce(explained().permission,
                  "No permission to open " + device.string() +
                      ": install the udev rule that comes with the Dimmora package, or add your user to the "
                      "i2c group (sudo usermod -aG i2c $USER), then log in again; the i2c-dev module must be "
                      "loaded too (sudo modprobe i2c-dev)");
      break;
    case I2CStatus::noModule:
      explainOnce(explained().missingModule,
                  "There is no " + device.string() +
                      ": the i2c-dev module is not loaded. Load it now with sudo modprobe i2c-dev, and at "
                      "every boot with: echo i2c-dev | sudo tee /etc/modules-load.d/i2c-dev.conf");
      break;
    case I2CStatus::claimedByDriver:
      explainOnce(explained().kernelDriver,
                  "The kernel's ddcci driver holds " + device.string() +
                      " and offers no backlight device for it: load ddcci_backlight (sudo modprobe "
                      "ddcci_backlight) and Dimmora drives the monitor through /sys/class/backlight, or "
                      "unload the driver (sudo modprobe -r ddcci_backlight ddcci)");
      break;
    default: break;
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
  return {i2cStatusOf(error, device_), {}, device_.string() + ": " + std::strerror(error)};
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

// One bus's thread: its transfers one after another, in the order submitted.
class I2CDevice::BusThread {
 public:
  BusThread(I2CDevice& device, int bus) : device_(device), bus_(bus), thread_([this] { run(); }) {}
  ~BusThread() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
      queue_.clear();
    }
    wake_.notify_one();
    thread_.join();
  }
  BusThread(const BusThread&) = delete;
  BusThread& operator=(const BusThread&) = delete;

  void push(std::uint64_t id, I2CMessage message) {
    {
      const std::lock_guard lock(mutex_);
      queue_.emplace_back(id, std::move(message));
    }
    wake_.notify_one();
  }
  // A transfer not started yet is not made.
  void drop(std::uint64_t id) {
    const std::lock_guard lock(mutex_);
    std::erase_if(queue_, [id](const auto& queued) { return queued.first == id; });
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      auto [id, message] = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      I2CResult result = transfer(message);
      device_.finish(id, std::move(result));
      lock.lock();
    }
  }

  // On this bus's thread only, as is the transaction a reply awaits.
  I2CResult transfer(const I2CMessage& message) {
    // The reply a request awaits is read inside the request's transaction;
    // anything else on the bus lets go of it first.
    std::unique_ptr<I2CTransfer> transaction = std::move(awaitingReply_);
    if (transaction && (!message.write.empty() || transaction->chip() != message.address)) transaction.reset();
    if (!transaction) transaction = device_.open(bus_, message.address);
    I2CResult result;
    if (!message.write.empty()) result = transaction->write(message.write);
    if (result.status == I2CStatus::ok && message.readLength > 0) result = transaction->read(message.readLength);
    if (result.status == I2CStatus::ok && message.replyFollows) awaitingReply_ = std::move(transaction);
    return result;
  }

  I2CDevice& device_;
  const int bus_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::uint64_t, I2CMessage>> queue_;
  bool stopping_ = false;
  std::unique_ptr<I2CTransfer> awaitingReply_;  // a request whose reply is still to be read, the bus locked meanwhile
  std::thread thread_;  // last: starts once the rest is in place
};

I2CDevice::I2CDevice(std::filesystem::path devRoot)
    : devRoot_(std::move(devRoot)), wakeup_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeup_ < 0) AppLog::ddc.error(std::string("No eventfd for I2C results: ") + std::strerror(errno));
}

I2CDevice::~I2CDevice() {
  buses_.clear();  // joins the threads before what they finish into goes
  if (wakeup_ >= 0) ::close(wakeup_);
}

std::filesystem::path I2CDevice::devicePath(int bus) const { return devRoot_ / ("i2c-" + std::to_string(bus)); }

std::unique_ptr<I2CTransfer> I2CDevice::open(int bus, std::uint8_t chip) const {
  return std::make_unique<I2CTransfer>(devicePath(bus), chip);
}

ScheduledWork I2CDevice::submit(I2CMessage message, std::function<void(I2CResult)> done) {
  const std::uint64_t id = nextID_++;
  const int bus = message.bus;
  auto& thread = buses_[bus];
  if (!thread) thread = std::make_shared<BusThread>(*this, bus);
  auto state = std::make_shared<detail::WorkState>();
  // The work may outlive this device (a cache emptied at exit): it holds it weakly.
  state->onCancel = [id, waiting = std::weak_ptr(waiting_), thread = std::weak_ptr(thread)] {
    if (const auto busThread = thread.lock()) busThread->drop(id);
    if (const auto map = waiting.lock()) map->erase(id);
  };
  waiting_->emplace(id, Waiting{std::move(done), state, bus});
  thread->push(id, std::move(message));
  return ScheduledWork(std::move(state));
}

void I2CDevice::finish(std::uint64_t id, I2CResult result) {
  {
    const std::lock_guard lock(finishedMutex_);
    finished_.emplace_back(id, std::move(result));
  }
  const std::uint64_t one = 1;
  // Fails only when the counter is full, which wakes the main thread as well.
  [[maybe_unused]] const auto written = ::write(wakeup_, &one, sizeof one);
}

void I2CDevice::deliverResults() {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read = ::read(wakeup_, &count, sizeof count);
  std::vector<std::pair<std::uint64_t, I2CResult>> results;
  {
    const std::lock_guard lock(finishedMutex_);
    results.swap(finished_);
  }
  for (auto& [id, result] : results) {
    const auto found = waiting_->find(id);
    if (found == waiting_->end()) continue;  // cancelled while under way
    Waiting waiting = std::move(found->second);
    waiting_->erase(found);
    waiting.state->markDone();
    explainI2CStatus(result.status, devicePath(waiting.bus));
    waiting.done(std::move(result));
  }
}

std::optional<std::vector<std::uint8_t>> I2CDevice::readEdid(int bus) const {
  const I2CTransfer transfer(devicePath(bus), 0x50);
  // The EDID's offset 0, then its base block, in one transaction.
  const std::uint8_t offset = 0x00;
  const auto written = transfer.write({&offset, 1});
  auto block = written.status == I2CStatus::ok ? transfer.read(128) : written;
  if (block.status != I2CStatus::ok) {
    explainI2CStatus(block.status, devicePath(bus));
    return std::nullopt;
  }
  return std::move(block.read);
}
