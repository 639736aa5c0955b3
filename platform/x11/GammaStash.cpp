// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/GammaStash.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/linux/DrmConnectors.hpp"
#include "platform/linux/PrivateFolder.hpp"
#include "services/AppLog.hpp"
#include "settings/AtomicFile.hpp"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {
constexpr std::string_view kPrefix = "gamma-";
// Sixteen outputs of 4096-entry ramps take about 1.2 MiB.
constexpr std::size_t kLargestFileBytes = 4 << 20;
// The kernel's largest possible process ID (PID_MAX_LIMIT).
constexpr std::int64_t kLargestPid = 4194304;

// Why a recovery file's document is not one this program writes; nothing when it is.
std::optional<std::string> malformedBecause(const json& document) {
  if (!document.is_object()) return "it is not a JSON object";
  const auto pid = document.find("pid");
  if (pid == document.end() || !pid->is_number_integer() || pid->get<std::int64_t>() < 1 ||
      pid->get<std::int64_t>() > kLargestPid)
    return "its \"pid\" is not a process ID";
  for (const char* key : {"started", "display"}) {
    const auto field = document.find(key);
    if (field == document.end() || !field->is_string()) return "its \"" + std::string(key) + "\" is not a text";
  }
  const auto outputs = document.find("outputs");
  if (outputs == document.end() || !outputs->is_object()) return std::string("its \"outputs\" is not an object");
  return std::nullopt;
}

// Moves a file that cannot be used out of the way of every later start.
void setAside(const fs::path& file, const std::string& reason) {
  const fs::path aside = file.string() + ".bad";
  if (::rename(file.c_str(), aside.c_str()) == 0)
    AppLog::app.error("Set the gamma recovery file " + file.string() + " aside as " + aside.filename().string() +
                      ": " + reason);
  else
    AppLog::app.error("Cannot use the gamma recovery file " + file.string() + " (" + reason +
                      ") nor set it aside: " + std::strerror(errno));
}

std::optional<GammaRamps> rampsFrom(const json& value) {
  if (!value.is_object()) return std::nullopt;
  GammaRamps ramps;
  for (auto [key, channel] : {std::pair{"red", &ramps.red}, {"green", &ramps.green}, {"blue", &ramps.blue}}) {
    const auto it = value.find(key);
    if (it == value.end() || !it->is_array()) return std::nullopt;
    for (const auto& entry : *it) {
      if (!entry.is_number_unsigned() || entry.get<std::uint64_t>() > 0xFFFF) return std::nullopt;
      channel->push_back(static_cast<std::uint16_t>(entry.get<std::uint64_t>()));
    }
  }
  if (ramps.red.empty() || ramps.red.size() != ramps.green.size() || ramps.red.size() != ramps.blue.size())
    return std::nullopt;
  return ramps;
}

std::string randomSuffix() {
  std::random_device random;
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
  return text;
}

// Writes `text` to `path` whole: a temporary file renamed over. Not flushed
// to disk: the file outlives a crash of this program, which the page cache
// survives, and a crash of the machine resets the gamma ramps anyway; an
// fsync here would only stall the main thread on a loaded disk. The temporary name is new each time and opened exclusively without
// following links, so nothing prepared in the folder can be written through.
bool writeAtomically(const fs::path& path, const std::string& text) {
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
    temporary = path.string() + "." + randomSuffix() + ".tmp";
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}
}  // namespace

bool couldBeOriginal(const GammaRamps& ramps) {
  for (const auto* channel : {&ramps.red, &ramps.green, &ramps.blue})
    if (channel->size() < 2 || !std::is_sorted(channel->begin(), channel->end()) || channel->back() == channel->front())
      return false;
  return !looksDimmed(ramps);
}

std::optional<fs::path> GammaStash::recoveryFolder(const std::optional<fs::path>& runtime, const fs::path& temporary,
                                                   unsigned owner, std::string& why) {
  if (runtime && ensurePrivateFolder(*runtime / "Dimmora", owner, why)) return *runtime / "Dimmora";
  // No usable runtime folder: a private one of ours in the temporary folder stands in.
  const std::string runtimeProblem = runtime ? why + "; " : std::string();
  const auto base = privateTemporaryFolder(temporary, owner, why);
  if (base && ensurePrivateFolder(*base / "Dimmora", owner, why)) return *base / "Dimmora";
  why = runtimeProblem + why;
  return std::nullopt;
}

GammaStash::GammaStash(fs::path folder, fs::path procRoot, std::string displayName, int pid)
    : folder_(std::move(folder)), procRoot_(std::move(procRoot)), displayName_(std::move(displayName)), pid_(pid) {}

fs::path GammaStash::filePath() const { return folder_ / (std::string(kPrefix) + std::to_string(pid_) + ".json"); }

// The process start time in clock ticks (field 22 of /proc/<pid>/stat): a pid
// that was reused by another program has a different one.
std::optional<std::string> GammaStash::startTime(int pid) const {
  const auto stat = readTextFile(procRoot_ / std::to_string(pid) / "stat");
  if (!stat) return std::nullopt;
  const auto close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(close + 1));
  std::string field;
  for (int index = 3; index <= 22 && (fields >> field); ++index) {
    if (index == 22) return field;
  }
  return std::nullopt;
}

int GammaStash::recoverAbandoned(const ApplyRamps& apply) {
  int restored = 0;
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const auto name = it->path().filename().string();
    if (name.compare(0, kPrefix.size(), kPrefix) == 0 && it->path().extension() == ".json") files.push_back(it->path());
  }
  for (const auto& file : files) {
    // Read without waiting on a FIFO and never past the limit: a device behind a link is refused.
    const FileContents contents = readWholeFile(file, kLargestFileBytes);
    if (!contents.bytes) {
      if (contents.missing) continue;  // its owner removed it meanwhile
      setAside(file, contents.tooLarge ? std::to_string(contents.size) + " bytes is more than any recovery file holds"
                                       : "it cannot be read: " + contents.unreadable.value_or("unknown error"));
      continue;
    }
    const json document = json::parse(*contents.bytes, nullptr, false);
    if (const auto why = malformedBecause(document)) {
      setAside(file, *why);
      continue;
    }
    const int pid = static_cast<int>(document["pid"].get<std::int64_t>());
    const auto running = startTime(pid);
    if (pid == pid_ || (running && *running == document["started"].get_ref<const std::string&>()))
      continue;  // its owner still runs
    if (document["display"].get_ref<const std::string&>() != displayName_) continue;  // another X server's
    for (const auto& [name, value] : document["outputs"].items()) {
      const auto ramps = rampsFrom(value);
      if (!ramps) continue;
      if (!couldBeOriginal(*ramps)) {
        AppLog::app.error("Ignoring recovered gamma of " + name + " from " + file.string() +
                          ": a display's own ramps rise from dark to at least half brightness");
        continue;
      }
      const int code = apply(name, *ramps);
      AppLog::app.log("Restored gamma of " + name + " left by process " + std::to_string(pid) +
                      " result=" + std::to_string(code));
      if (code == 0) ++restored;
    }
    fs::remove(file, ec);
  }
  return restored;
}

bool GammaStash::rememberOriginal(const std::string& outputName, const GammaRamps& original) {
  if (hasOriginal(outputName)) return true;
  originals_[outputName] = original;
  if (save()) return true;
  originals_.erase(outputName);
  AppLog::app.error("Could not write the gamma recovery file " + filePath().string());
  return false;
}

void GammaStash::noteWritten(const std::string& outputName, const GammaRamps& written) {
  const auto it = originals_.find(outputName);
  if (it == originals_.end() || !(it->second == written)) return;
  originals_.erase(it);
  save();
}

bool GammaStash::save() const {
  std::error_code ec;
  if (originals_.empty()) {
    fs::remove(filePath(), ec);
    return !ec;
  }
  json outputs = json::object();
  for (const auto& [name, ramps] : originals_)
    outputs[name] = {{"red", ramps.red}, {"green", ramps.green}, {"blue", ramps.blue}};
  const json document = {{"pid", pid_},
                         {"started", startTime(pid_).value_or("")},
                         {"display", displayName_},
                         {"outputs", outputs}};
  return writeAtomically(filePath(), document.dump());
}
