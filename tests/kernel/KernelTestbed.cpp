// SPDX-License-Identifier: GPL-3.0-or-later
#include "KernelTestbed.hpp"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

// One emulated /dev/i2c-N: its monitor, and what each open file of it selected.
struct KernelTestbed::Bus {
  int number = 0;
  std::unique_ptr<MonitorModel> monitor;
  std::mutex mutex;
  std::map<UMockdevIoctlClient*, int> clientIDs;
  std::map<UMockdevIoctlClient*, std::uint8_t> chips;  // I2C_SLAVE per open file
  int nextClientID = 1;

  int clientID(UMockdevIoctlClient* client) {
    const std::lock_guard lock(mutex);
    const auto [entry, added] = clientIDs.emplace(client, nextClientID);
    if (added) ++nextClientID;
    return entry->second;
  }
  std::optional<std::uint8_t> chip(UMockdevIoctlClient* client) {
    const std::lock_guard lock(mutex);
    const auto found = chips.find(client);
    return found == chips.end() ? std::nullopt : std::optional(found->second);
  }
};

namespace {
// The GObject that umockdev calls for the node's ioctl, read and write.
struct I2CHandler {
  UMockdevIoctlBase parent;
  KernelTestbed::Bus* bus;
};
struct I2CHandlerClass {
  UMockdevIoctlBaseClass parent;
};

GType i2cHandlerType();

KernelTestbed::Bus& busOf(UMockdevIoctlBase* self) { return *reinterpret_cast<I2CHandler*>(self)->bus; }

// Completes the call once the monitor has held the bus for `delay`, without
// holding up the other buses served by the same thread.
void completeAfter(UMockdevIoctlClient* client, long result, int error, std::chrono::milliseconds delay) {
  if (delay.count() <= 0) {
    umockdev_ioctl_client_complete(client, result, error);
    return;
  }
  struct Pending {
    UMockdevIoctlClient* client;
    long result;
    int error;
  };
  auto* pending = new Pending{static_cast<UMockdevIoctlClient*>(g_object_ref(client)), result, error};
  GSource* source = g_timeout_source_new(static_cast<guint>(delay.count()));
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        auto* p = static_cast<Pending*>(data);
        umockdev_ioctl_client_complete(p->client, p->result, p->error);
        g_object_unref(p->client);
        delete p;
        return G_SOURCE_REMOVE;
      },
      pending, nullptr);
  g_source_attach(source, g_main_context_get_thread_default());
  g_source_unref(source);
}

// A pointer inside `data`, fetched from the calling process.
UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
  GError* error = nullptr;
  UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
  if (error) g_error_free(error);
  return child;
}

// I2C_RDWR: the messages one after the other, as one transaction; stops at the first failure.
void combinedTransfer(KernelTestbed::Bus& bus, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* request = resolve(arg, 0, sizeof(i2c_rdwr_ioctl_data));
  if (!request) return umockdev_ioctl_client_complete(client, -1, EFAULT);
  const auto* header = reinterpret_cast<const i2c_rdwr_ioctl_data*>(request->data);
  const std::uint32_t count = header->nmsgs;
  if (count == 0 || count > I2C_RDWR_IOCTL_MAX_MSGS) return umockdev_ioctl_client_complete(client, -1, EINVAL);
  UMockdevIoctlData* messages = resolve(request, offsetof(i2c_rdwr_ioctl_data, msgs), count * sizeof(i2c_msg));
  if (!messages) return umockdev_ioctl_client_complete(client, -1, EFAULT);
  const int id = bus.clientID(client);
  std::chrono::milliseconds busTime{0};
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto message = reinterpret_cast<const i2c_msg*>(messages->data)[i];
    UMockdevIoctlData* buffer = resolve(messages, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), message.len);
    if (!buffer) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    auto* bytes = static_cast<std::uint8_t*>(buffer->data);
    const auto chip = static_cast<std::uint8_t>(message.addr);
    busTime += bus.monitor->transferTime(chip);
    const int error = message.flags & I2C_M_RD ? bus.monitor->read(id, chip, std::span(bytes, message.len))
                                               : bus.monitor->write(id, chip, std::span(bytes, message.len));
    if (error) return completeAfter(client, -1, error, busTime);
  }
  completeAfter(client, count, 0, busTime);
}

gboolean handleIoctl(UMockdevIoctlBase* self, UMockdevIoctlClient* client) {
  auto& bus = busOf(self);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const auto value = *reinterpret_cast<const unsigned long*>(arg->data);
  switch (umockdev_ioctl_client_get_request(client)) {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
      if (value > 0x7F) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
      } else {
        const std::lock_guard lock(bus.mutex);
        bus.chips[client] = static_cast<std::uint8_t>(value);
        umockdev_ioctl_client_complete(client, 0, 0);
      }
      break;
    case I2C_FUNCS:
      if (UMockdevIoctlData* funcs = resolve(arg, 0, sizeof(unsigned long))) {
        *reinterpret_cast<unsigned long*>(funcs->data) = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
        umockdev_ioctl_client_complete(client, 0, 0);
      } else {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
      }
      break;
    case I2C_RDWR: combinedTransfer(bus, client, arg); break;
    case I2C_TIMEOUT:
    case I2C_RETRIES: umockdev_ioctl_client_complete(client, 0, 0); break;
    default: umockdev_ioctl_client_complete(client, -1, ENOTTY);
  }
  return TRUE;
}

// A plain read or write goes to the chip the open file selected.
gboolean handleTransfer(UMockdevIoctlBase* self, UMockdevIoctlClient* client, bool reading) {
  auto& bus = busOf(self);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const auto chip = bus.chip(client);
  if (!chip) {
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return TRUE;
  }
  const std::span bytes(static_cast<std::uint8_t*>(arg->data), arg->data_len);
  const int id = bus.clientID(client);
  const int error = reading ? bus.monitor->read(id, *chip, bytes) : bus.monitor->write(id, *chip, bytes);
  completeAfter(client, error ? -1 : static_cast<long>(bytes.size()), error, bus.monitor->transferTime(*chip));
  return TRUE;
}

void clientVanished(UMockdevIoctlBase* self, UMockdevIoctlClient* client) {
  auto& bus = busOf(self);
  const std::lock_guard lock(bus.mutex);
  bus.chips.erase(client);
  bus.clientIDs.erase(client);
}

void i2cHandlerClassInit(gpointer klass, gpointer) {
  auto* base = static_cast<UMockdevIoctlBaseClass*>(klass);
  base->handle_ioctl = handleIoctl;
  base->handle_read = [](UMockdevIoctlBase* self, UMockdevIoctlClient* client) { return handleTransfer(self, client, true); };
  base->handle_write = [](UMockdevIoctlBase* self, UMockdevIoctlClient* client) {
    return handleTransfer(self, client, false);
  };
  base->client_vanished = clientVanished;
}

GType i2cHandlerType() {
  static const GType type = g_type_register_static_simple(
      umockdev_ioctl_base_get_type(), "DimmoraI2CHandler", sizeof(I2CHandlerClass), i2cHandlerClassInit,
      sizeof(I2CHandler), nullptr, GTypeFlags{});
  return type;
}

std::vector<gchar*> nullTerminated(const std::map<std::string, std::string>& entries) {
  std::vector<gchar*> list;
  for (const auto& [name, value] : entries) {
    list.push_back(const_cast<gchar*>(name.c_str()));
    list.push_back(const_cast<gchar*>(value.c_str()));
  }
  list.push_back(nullptr);
  return list;
}
}  // namespace

KernelTestbed::KernelTestbed() : testbed_(umockdev_testbed_new()) {
  const auto pci = addDevice("pci", "0000:00:02.0", {}, {{"vendor", "0x8086"}, {"class", "0x030000"}});
  card_ = addDevice("drm", "drm/card0", pci, {}).string();
}

KernelTestbed::~KernelTestbed() {
  for (const auto& bus : buses_) {
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(testbed_, deviceNode(bus->number).c_str(), &error);
    if (error) g_error_free(error);
  }
  g_object_unref(testbed_);
}

fs::path KernelTestbed::addDevice(const std::string& subsystem, const std::string& name, const fs::path& parent,
                                  const std::map<std::string, std::string>& attributes,
                                  const std::map<std::string, std::string>& properties) {
  auto attributeList = nullTerminated(attributes);
  auto propertyList = nullTerminated(properties);
  // umockdev checks a parent on the real /sys unless this process runs under
  // its preload library; a name with the parent's folders in it needs no parent.
  const auto relative = parent.empty() ? fs::path(name) : parent.lexically_relative("/sys/devices") / name;
  gchar* path = umockdev_testbed_add_devicev(testbed_, subsystem.c_str(), relative.c_str(), nullptr,
                                             attributeList.data(), propertyList.data());
  if (!path) throw std::runtime_error("umockdev could not add " + relative.string());
  fs::path result = path;
  g_free(path);
  return result;
}

fs::path KernelTestbed::addConnector(const std::string& name, const std::vector<std::uint8_t>& edid,
                                     std::optional<int> ddcBus) {
  const auto connector =
      addDevice("drm", "card0-" + name, card_, {{"status", "connected\n"}, {"enabled", "enabled\n"}, {"dpms", "On\n"}});
  std::vector<guint8> bytes(edid.begin(), edid.end());
  umockdev_testbed_set_attribute_binary(testbed_, connector.c_str(), "edid", bytes.data(),
                                        static_cast<gint>(bytes.size()));
  if (ddcBus) {
    // card0-<name> sits in .../drm/card0, the adapter beside drm/.
    umockdev_testbed_set_attribute_link(testbed_, connector.c_str(), "ddc",
                                        ("../../../i2c-" + std::to_string(*ddcBus)).c_str());
  }
  return connector;
}

fs::path KernelTestbed::addBacklight(const fs::path& connector, const std::string& name, std::uint32_t maxBrightness,
                                     std::uint32_t brightness) {
  const auto device = addDevice("backlight", name, connector,
                                {{"max_brightness", std::to_string(maxBrightness) + "\n"},
                                 {"brightness", std::to_string(brightness) + "\n"},
                                 {"type", "raw\n"},
                                 {"bl_power", "0\n"}});
  const auto actual = attributeFile(device, "actual_brightness");
  fs::remove(actual);
  fs::create_symlink("brightness", actual);
  return device;
}

fs::path KernelTestbed::attributeFile(const fs::path& device, const std::string& attribute) const {
  return root() / device.relative_path() / attribute;
}

KernelTestbed::Plugged KernelTestbed::plugMonitor(const std::string& connector, const std::vector<std::uint8_t>& edid,
                                                  MonitorBehaviour behaviour) {
  const int n = nextBus_++;
  const std::string busName = "i2c-" + std::to_string(n);
  const std::string adapterName = "DPDDC-" + connector;
  const auto adapter = addDevice("i2c", busName, fs::path(card_).parent_path().parent_path(), {{"name", adapterName}});
  // i2c-dev's node for the adapter: /sys/class/i2c-dev/i2c-N and /dev/i2c-N.
  addDevice("i2c-dev", "i2c-dev/" + busName, adapter, {{"dev", "89:" + std::to_string(n)}, {"name", adapterName}},
            {{"DEVNAME", "/dev/" + busName}});
  // The node itself: what opening /dev/i2c-N reaches, what flock locks and
  // what a listing of /dev shows.
  std::ofstream(root() / "dev" / busName);
  addConnector(connector, edid, n);
  auto& bus = *buses_.emplace_back(std::make_unique<Bus>());
  bus.number = n;
  bus.monitor = std::make_unique<MonitorModel>(edid, behaviour);
  auto* handler = static_cast<I2CHandler*>(g_object_new(i2cHandlerType(), nullptr));
  handler->bus = &bus;
  GError* error = nullptr;
  const bool attached = umockdev_testbed_attach_ioctl(testbed_, deviceNode(n).c_str(),
                                                      reinterpret_cast<UMockdevIoctlBase*>(handler), &error);
  g_object_unref(handler);  // the testbed holds it while attached
  if (!attached) {
    const std::string why = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    throw std::runtime_error("umockdev could not attach the monitor to " + busName + ": " + why);
  }
  return {n, bus.monitor.get()};
}

fs::path KernelTestbed::root() const {
  gchar* dir = umockdev_testbed_get_root_dir(testbed_);
  fs::path path = dir;
  g_free(dir);
  return path;
}

fs::path KernelTestbed::deviceNode(int bus) const { return "/dev/i2c-" + std::to_string(bus); }

std::vector<std::string> KernelTestbed::environment() const {
  std::string preload = "libumockdev-preload.so.0";
  if (const char* existing = std::getenv("LD_PRELOAD"); existing && *existing) preload += std::string(":") + existing;
  // A sanitized program checks that its runtime comes first among the
  // libraries; with the preload library before it, that check must be off.
  std::string asanOptions = "verify_asan_link_order=0";
  if (const char* existing = std::getenv("ASAN_OPTIONS"); existing && *existing)
    asanOptions = std::string(existing) + ":" + asanOptions;
  return {"LD_PRELOAD=" + preload, "UMOCKDEV_DIR=" + root().string(), "ASAN_OPTIONS=" + asanOptions};
}

std::string KernelTestbed::run(const std::string& command, int* status) const {
  std::string line = "env";
  for (const auto& entry : environment()) line += " '" + entry + "'";
  std::string quoted;
  for (const char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  line += " sh -c '" + quoted + "' 2>&1";
  std::string output;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

KernelTestbed::BusLock::~BusLock() { ::close(fd_); }

std::unique_ptr<KernelTestbed::BusLock> KernelTestbed::holdBus(int bus) const {
  const auto node = root() / deviceNode(bus).relative_path();
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + node.string());
  return std::make_unique<BusLock>(fd);
}
