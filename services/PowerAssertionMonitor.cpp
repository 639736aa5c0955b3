// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/PowerAssertionMonitor.hpp"

#include <algorithm>
#include <vector>

#include "ports/Inhibitors.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"

namespace {
bool detailedLoggingActive() { return DDCDebug::state().enabled || DiagnosticCapture::shared().active; }

const char* name(Inhibitors::What what) { return what == Inhibitors::What::idle ? "idle" : "sleep"; }

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (const auto& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

// "idle=2, sleep=1": how many inhibitors of each kind are held; empty when none is.
std::string statusDigest(const std::vector<Inhibitors::Holder>& holders) {
  std::vector<std::string> parts;
  for (const auto what : {Inhibitors::What::idle, Inhibitors::What::sleep}) {
    const auto count = std::count_if(holders.begin(), holders.end(), [&](const auto& h) { return h.what == what; });
    if (count > 0) parts.push_back(std::string(name(what)) + "=" + std::to_string(count));
  }
  return join(parts, ", ");
}

// "4321 mpv: idle (Playing video) | compositor: idle", sorted.
std::string holderDigest(const std::vector<Inhibitors::Holder>& holders) {
  std::vector<std::string> lines;
  for (const auto& holder : holders)
    lines.push_back(holder.who + ": " + name(holder.what) + (holder.why.empty() ? "" : " (" + holder.why + ")"));
  std::sort(lines.begin(), lines.end());
  return join(lines, " | ");
}
}  // namespace

void PowerAssertionMonitor::start() {
  if (started_) return;
  started_ = true;
  if (!inhibitors_) {
    AppLog::power.error("Inhibitors cannot be read; media playback is not detected");
    return;
  }
  changed_ = inhibitors_->changed.connect([this] { refresh(); });
  captureStarted_ = DiagnosticCapture::shared().active.changed.connect([this](bool active) {
    if (!active) return;
    lastHolderDigest_.reset();
    refresh();
  });
  refresh();
}

void PowerAssertionMonitor::refresh() {
  const auto holders = inhibitors_->held();
  if (!holders) {
    AppLog::power.error("Cannot read the inhibitors: no source answers");
    return;
  }
  const bool mediaPlayback = std::any_of(holders->begin(), holders->end(),
                                         [](const auto& holder) { return holder.what == Inhibitors::What::idle; });
  if (mediaPlayback != isMediaPlaybackAssertionActive.get()) isMediaPlaybackAssertionActive = mediaPlayback;

  if (std::string digest = statusDigest(*holders); digest != lastStatusDigest_) {
    lastStatusDigest_ = std::move(digest);
    AppLog::power.log("Inhibitors held: " + (lastStatusDigest_.empty() ? std::string("none") : lastStatusDigest_));
  }
  if (!detailedLoggingActive()) return;
  if (std::string digest = holderDigest(*holders); digest != lastHolderDigest_) {
    lastHolderDigest_ = std::move(digest);
    AppLog::power.log("Inhibitor holders: " + (lastHolderDigest_->empty() ? std::string("none") : *lastHolderDigest_));
  }
}
