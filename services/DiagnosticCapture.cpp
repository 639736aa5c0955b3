// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/DiagnosticCapture.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

#include "base/Uuid.hpp"
#include "ports/SystemNotifications.hpp"
#include "services/DDCDebug.hpp"
#include "base/ProcessWide.hpp"

namespace {
std::shared_ptr<DiagnosticCapture>& instance() {
  return processWide<std::shared_ptr<DiagnosticCapture>>();
}

struct CapturePorts {
  MainLoop* loop = nullptr;
  SystemNotifications* notifications = nullptr;
};
CapturePorts& ports() { return processWide<CapturePorts>(); }

std::string lastSystemError() { return std::strerror(errno); }
}  // namespace

std::string iso8601UTC(WallClock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto day = floor<days>(seconds);
  const year_month_day date{day};
  const hh_mm_ss clock{seconds - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

DiagnosticCapture& DiagnosticCapture::shared() {
  auto& capture = instance();
  if (!capture) capture = std::shared_ptr<DiagnosticCapture>(new DiagnosticCapture());
  return *capture;
}

void DiagnosticCapture::usePorts(MainLoop* loop, SystemNotifications* notifications) {
  ports() = {loop, notifications};
  if (const auto& capture = instance()) {
    capture->stop();
    capture->observeTermination();
  }
}

void DiagnosticCapture::resetForTesting() { instance().reset(); }

DiagnosticCapture::DiagnosticCapture() { observeTermination(); }

DiagnosticCapture::~DiagnosticCapture() { stop(); }

void DiagnosticCapture::observeTermination() {
  terminationObserver_.reset();
  if (SystemNotifications* notifications = ports().notifications)
    terminationObserver_ = notifications->willTerminate.connect([this] { stop(); });
}

void DiagnosticCapture::start(const std::filesystem::path& directory, const std::string& summary, double duration) {
  if (active) return;
  error = std::nullopt;
  MainLoop* loop = ports().loop;
  if (!loop) {
    error = std::string("No main loop is running.");
    stop();
    return;
  }

  std::error_code folderError;
  std::filesystem::create_directories(directory, folderError);
  if (folderError) {
    error = folderError.message();
    stop();
    return;
  }

  std::string stamp = iso8601UTC(loop->now());
  std::replace(stamp.begin(), stamp.end(), ':', '-');
  const auto file = directory / ("Dimmora-Log-" + stamp + "-" + Uuid::random().uuidString().substr(0, 8) + ".log");
  // "x": never overwrite a file that is already there.
  handle_ = std::fopen(file.c_str(), "wbx");
  if (!handle_) {
    error = lastSystemError();
    stop();
    return;
  }

  logURL = file;
  bytesWritten_ = 0;
  // Capped so the deadline stays within the clock's range (about 31 years).
  const double allowed = std::isfinite(duration) ? std::clamp(duration, 0.0, 1e9) : 0.0;
  deadline_ = loop->now() + std::chrono::duration_cast<WallClock::duration>(std::chrono::duration<double>(allowed));
  active = true;
  append(firstLine + summary);
  if (!active) return;

  std::weak_ptr<DiagnosticCapture> weak = instance();
  const auto mainThread = std::this_thread::get_id();
  DDCDebug::setCapture([weak, loop, mainThread](const std::string& line) {
    if (std::this_thread::get_id() == mainThread) {
      if (auto capture = weak.lock()) capture->append(line);
      return;
    }
    loop->post([weak, line] {
          if (auto capture = weak.lock()) capture->append(line);
        }).detach();
  });
  timer_ = loop->after(allowed, [this] { stop(); });
}

void DiagnosticCapture::append(const std::string& line) {
  if (!active || !handle_) return;
  const auto now = ports().loop->now();  // a capture runs only while the loop it started on is given
  if (deadline_ && now >= *deadline_) {
    stop();
    return;
  }
  const std::string entry = iso8601UTC(now) + " " + line + "\n";
  const auto length = static_cast<std::int64_t>(entry.size());
  // The file never grows past the limit; the capture ends without a closing line.
  if (bytesWritten_ + length > sizeLimit) {
    stop();
    return;
  }
  if (std::fwrite(entry.data(), 1, entry.size(), handle_) != entry.size() || std::fflush(handle_) != 0) {
    error = lastSystemError();
    stop();
    return;
  }
  bytesWritten_ += length;
}

void DiagnosticCapture::stop() {
  DDCDebug::setCapture(nullptr);
  timer_.cancel();
  deadline_.reset();
  if (handle_) {
    if (std::fclose(handle_) != 0) error = lastSystemError();
    handle_ = nullptr;
  }
  active = false;
}
