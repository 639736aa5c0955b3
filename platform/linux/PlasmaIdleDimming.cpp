// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/PlasmaIdleDimming.hpp"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <tuple>
#include <utility>
#include <vector>

#include "services/AppLog.hpp"

namespace fs = std::filesystem;

namespace {
constexpr const char* kProfiles[] = {"AC", "Battery", "LowBattery"};
constexpr const char* kPlasma6Key = "DimDisplayWhenIdle";

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool isHeader(const std::string& line) { return !line.empty() && line.front() == '['; }
bool isComment(const std::string& line) { return line.empty() || line.front() == '#'; }

// A KDE configuration file as lines, edited in place so that whatever else it
// holds (other groups, comments, the order) is kept as written.
class ConfigText {
 public:
  // An absent file reads as empty.
  static std::optional<ConfigText> read(const fs::path& file, std::string& error) {
    ConfigText text;
    std::ifstream in(file);
    if (!in) {
      if (errno == ENOENT) return text;
      error = file.string() + ": " + std::strerror(errno);
      return std::nullopt;
    }
    for (std::string line; std::getline(in, line);) text.lines_.push_back(line);
    return text;
  }

  // The key=value entries of `group` ("AC][Display"), in file order.
  std::vector<std::pair<std::string, std::string>> entries(const std::string& group) const {
    std::vector<std::pair<std::string, std::string>> found;
    const auto [begin, end] = range(group);
    for (std::size_t i = begin; i < end; ++i)
      if (auto entry = entryAt(i)) found.push_back(std::move(*entry));
    return found;
  }

  std::optional<std::string> value(const std::string& group, const std::string& key) const {
    for (auto& [name, value] : entries(group))
      if (name == key) return value;
    return std::nullopt;
  }

  // Sets or (nullopt) removes one entry; a group left without entries goes too.
  void set(const std::string& group, const std::string& key, const std::optional<std::string>& value) {
    auto [begin, end] = range(group);
    const bool groupExists = begin > 0 || group.empty();
    std::size_t lastEntry = begin;
    for (std::size_t i = begin; i < end; ++i) {
      const auto entry = entryAt(i);
      if (!entry) continue;
      lastEntry = i + 1;
      if (entry->first != key) continue;
      if (value) {
        lines_[i] = key + "=" + *value;
        return;
      }
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      if (entries(group).empty() && !group.empty()) {
        std::tie(begin, end) = range(group);
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(begin - 1), lines_.begin() + static_cast<std::ptrdiff_t>(end));
      }
      return;
    }
    if (!value) return;
    if (groupExists) {
      lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastEntry), key + "=" + *value);
      return;
    }
    if (!lines_.empty() && !trimmed(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + group + "]");
    lines_.push_back(key + "=" + *value);
  }

  // Replaces the file as a whole (a new file renamed over it), keeping its mode.
  bool write(const fs::path& file, std::string& error) const {
    std::error_code made;
    fs::create_directories(file.parent_path(), made);
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
      error = file.parent_path().string() + ": " + std::strerror(errno);
      return false;
    }
    struct stat existing {};
    fchmod(fd, stat(file.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600);
    std::string content;
    for (const auto& line : lines_) content += line + "\n";
    bool ok = true;
    for (std::size_t done = 0; ok && done < content.size();) {
      const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
      if (written < 0 && errno == EINTR) continue;
      ok = written > 0;
      if (ok) done += static_cast<std::size_t>(written);
    }
    ok = ok && fsync(fd) == 0;
    const int cause = errno;
    close(fd);
    if (!ok || rename(temporary.c_str(), file.c_str()) != 0) {
      error = file.string() + ": " + std::strerror(ok ? errno : cause);
      unlink(temporary.c_str());
      return false;
    }
    return true;
  }

 private:
  // The lines of `group` after its header, up to the next header; for the
  // global group ("") those before the first header; {0, 0} when absent.
  std::pair<std::size_t, std::size_t> range(const std::string& group) const {
    std::size_t i = 0;
    if (!group.empty()) {
      for (; i < lines_.size(); ++i) {
        const std::string line = trimmed(lines_[i]);
        if (isHeader(line) && line.back() == ']' && line.substr(1, line.size() - 2) == group) break;
      }
      if (i == lines_.size()) return {0, 0};
      ++i;
    }
    std::size_t end = i;
    while (end < lines_.size() && !isHeader(trimmed(lines_[end]))) ++end;
    return {i, end};
  }

  std::optional<std::pair<std::string, std::string>> entryAt(std::size_t index) const {
    const std::string line = trimmed(lines_[index]);
    const auto equals = line.find('=');
    if (isComment(line) || isHeader(line) || equals == std::string::npos) return std::nullopt;
    return std::pair{trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1))};
  }

  std::vector<std::string> lines_;
};

std::string dimGroup(PlasmaIdleDimming::Version version, const char* profile) {
  return std::string(profile) + (version == PlasmaIdleDimming::Version::plasma5 ? "][DimDisplay" : "][Display");
}

void onFileEvent(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent, gpointer self) {
  static_cast<PlasmaIdleDimming*>(self)->reread();
}

int onReloadReply(sd_bus_message* reply, void*, sd_bus_error*) {
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  if (!error) return 0;
  if (sd_bus_error_has_name(error, SD_BUS_ERROR_SERVICE_UNKNOWN) || sd_bus_error_has_name(error, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
    AppLog::app.log("PowerDevil is not on the session bus: it reads its changed configuration when it starts");
  else
    AppLog::app.error(std::string("PowerDevil did not reload its configuration: ") + (error->message ? error->message : error->name));
  return 0;
}
}  // namespace

PlasmaIdleDimming::Version PlasmaIdleDimming::versionFor(const fs::path& configHome,
                                                         const std::optional<std::string>& sessionVersion) {
  if (sessionVersion == "5") return Version::plasma5;
  if (sessionVersion && !sessionVersion->empty()) return Version::plasma6;
  std::error_code error;
  if (!fs::exists(configHome / "powerdevilrc", error) && fs::exists(configHome / "powermanagementprofilesrc", error))
    return Version::plasma5;
  return Version::plasma6;
}

PlasmaIdleDimming::PlasmaIdleDimming(const fs::path& configHome, Version version, sd_bus* sessionBus)
    : file_(configHome / (version == Version::plasma5 ? "powermanagementprofilesrc" : "powerdevilrc")),
      version_(version),
      bus_(sessionBus) {
  GFile* file = g_file_new_for_path(file_.c_str());
  GError* error = nullptr;
  monitor_ = g_file_monitor_file(file, G_FILE_MONITOR_NONE, nullptr, &error);
  g_object_unref(file);
  if (monitor_) {
    g_signal_connect(monitor_, "changed", G_CALLBACK(onFileEvent), this);
  } else {
    AppLog::app.error("Cannot watch " + file_.string() + ": " + (error ? error->message : "no file monitor"));
    g_clear_error(&error);
  }
  on_ = readIsOn();
}

PlasmaIdleDimming::~PlasmaIdleDimming() {
  if (!monitor_) return;
  g_signal_handlers_disconnect_by_data(monitor_, this);
  g_file_monitor_cancel(monitor_);
  g_object_unref(monitor_);
}

bool PlasmaIdleDimming::readIsOn() const {
  std::string error;
  const auto text = ConfigText::read(file_, error);
  if (!text) {
    AppLog::app.error("Cannot read PowerDevil's configuration " + error);
    return false;
  }
  for (const char* profile : kProfiles) {
    const std::string group = dimGroup(version_, profile);
    if (version_ == Version::plasma5 ? !text->entries(group).empty() : text->value(group, kPlasma6Key) != "false")
      return true;
  }
  return false;
}

void PlasmaIdleDimming::reread() {
  const bool on = readIsOn();
  if (on == on_) return;
  on_ = on;
  changed.emit();
}

std::variant<std::vector<DesktopIdleDimming::Setting>, std::string> PlasmaIdleDimming::turnOff() {
  std::string error;
  auto text = ConfigText::read(file_, error);
  if (!text) return error;
  std::vector<Setting> previous;
  for (const char* profile : kProfiles) {
    const std::string group = dimGroup(version_, profile);
    if (version_ == Version::plasma5) {
      for (const auto& [key, value] : text->entries(group)) {
        previous.push_back({group, key, value});
        text->set(group, key, std::nullopt);
      }
    } else if (auto value = text->value(group, kPlasma6Key); value != "false") {
      previous.push_back({group, kPlasma6Key, value});
      text->set(group, kPlasma6Key, "false");
    }
  }
  if (!text->write(file_, error)) return error;
  askToReload();
  reread();
  return previous;
}

std::optional<std::string> PlasmaIdleDimming::restore(const std::vector<Setting>& previous) {
  std::string error;
  auto text = ConfigText::read(file_, error);
  if (!text) return error;
  for (const Setting& setting : previous) text->set(setting.group, setting.key, setting.value);
  if (!text->write(file_, error)) return error;
  askToReload();
  reread();
  return std::nullopt;
}

void PlasmaIdleDimming::askToReload() {
  if (!bus_) return;
  // Read the files again, then apply the current profile as they now say.
  for (const char* method : {"reparseConfiguration", "refreshStatus"}) {
    const int r = sd_bus_call_method_async(bus_, nullptr, kService, kPath, kService, method, onReloadReply, nullptr, "");
    if (r < 0) AppLog::app.error(std::string("Cannot ask PowerDevil to reload its configuration: ") + std::strerror(-r));
  }
}
