// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The kernel interface a program meets on a machine with monitors, emulated
// with umockdev: /sys/class/drm connectors with their EDID and "ddc" links,
// i2c adapters under /sys/bus/i2c/devices, and /dev/i2c-N nodes whose
// transfers (I2C_SLAVE, I2C_FUNCS, I2C_RDWR, read, write) a MonitorModel
// answers. Programs see it when started with environment(); the handlers
// run on umockdev's worker thread, so the test's own thread stays free to
// drive and observe them.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorModel.hpp"

typedef struct _UMockdevTestbed UMockdevTestbed;

class KernelTestbed {
 public:
  KernelTestbed();
  ~KernelTestbed();
  KernelTestbed(const KernelTestbed&) = delete;
  KernelTestbed& operator=(const KernelTestbed&) = delete;

  // A connector card0-<name> (as "DP-1", "HDMI-A-1") with its status and
  // EDID and, when given, its "ddc" link to an adapter.
  std::filesystem::path addConnector(const std::string& name, const std::vector<std::uint8_t>& edid,
                                     std::optional<int> ddcBus);
  // A connector with an i2c adapter (its sysfs "name", its /dev/i2c-N) and
  // a monitor answering there, as one cable plugs them together.
  struct Plugged {
    int bus;
    MonitorModel* monitor;
  };
  Plugged plugMonitor(const std::string& connector, const std::vector<std::uint8_t>& edid,
                      MonitorBehaviour behaviour = {});

  // A built-in panel's backlight, /sys/class/backlight/<name> under the
  // connector as the GPU's driver makes it (type raw). Its actual_brightness
  // follows brightness, as the kernel's does. Returns the device's path.
  std::filesystem::path addBacklight(const std::filesystem::path& connector, const std::string& name,
                                     std::uint32_t maxBrightness, std::uint32_t brightness);
  // The file behind a device's attribute, which programs in the testbed read and write.
  std::filesystem::path attributeFile(const std::filesystem::path& device, const std::string& attribute) const;

  // The testbed's root and its files (the "real" paths, for the test's own eyes).
  std::filesystem::path root() const;
  std::filesystem::path deviceNode(int bus) const;
  // NAME=value entries a child process needs to see the testbed: the
  // umockdev preload library, the testbed's folder, and a sanitized
  // program's leave to have its runtime come after that library.
  std::vector<std::string> environment() const;
  // `command` run through the shell inside the testbed; what it printed (stdout and stderr).
  std::string run(const std::string& command, int* status = nullptr) const;

  // Another program's hold on a bus: the same advisory lock DDC/CI tools
  // take on the node, kept until the returned object is destroyed.
  class BusLock {
   public:
    explicit BusLock(int fd) : fd_(fd) {}
    ~BusLock();
    BusLock(const BusLock&) = delete;
    BusLock& operator=(const BusLock&) = delete;

   private:
    int fd_;
  };
  std::unique_ptr<BusLock> holdBus(int bus) const;

  struct Bus;

 private:
  // A device under `parent` (a sysfs path this testbed returned, or empty
  // for a top-level one); `properties` go to its uevent file.
  std::filesystem::path addDevice(const std::string& subsystem, const std::string& name,
                                  const std::filesystem::path& parent,
                                  const std::map<std::string, std::string>& attributes,
                                  const std::map<std::string, std::string>& properties = {});

  UMockdevTestbed* testbed_ = nullptr;
  std::string card_;  // sysfs path of card0
  std::vector<std::unique_ptr<Bus>> buses_;
  int nextBus_ = 3;
};
