// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxInhibitors.hpp"

#include <sstream>

namespace {
bool hasPart(const std::string& what, std::string_view part) {
  std::istringstream parts(what);
  std::string item;
  while (std::getline(parts, item, ':'))
    if (item == part) return true;
  return false;
}
}  // namespace

std::optional<std::vector<Inhibitors::Holder>> LinuxInhibitors::holders(
    const std::optional<std::vector<LogindInhibitor>>& inhibitors, std::optional<bool> gnome,
    std::optional<bool> compositor) {
  if (!inhibitors && !gnome && !compositor) return std::nullopt;
  std::vector<Holder> list;
  for (const auto& inhibitor : inhibitors.value_or(std::vector<LogindInhibitor>{})) {
    // Delay inhibitors only postpone sleep by a few seconds; they prevent nothing.
    if (inhibitor.mode != "block") continue;
    const auto who = std::to_string(inhibitor.pid) + " " + inhibitor.who;
    if (hasPart(inhibitor.what, "idle")) list.push_back({who, What::idle, inhibitor.why});
    if (hasPart(inhibitor.what, "sleep")) list.push_back({who, What::sleep, inhibitor.why});
  }
  if (gnome.value_or(false)) list.push_back({"session inhibitor", What::idle, "GNOME session"});
  if (compositor.value_or(false))
    list.push_back({"compositor", What::idle, "an application's idle inhibitor (zwp_idle_inhibitor_v1)"});
  return list;
}

std::unique_ptr<LinuxInhibitors> LinuxInhibitors::connect(DBusSession& bus, MainLoop& loop,
                                                          CompositorInhibitor compositor) {
  const bool logind = bus.hasLogind(), gnome = bus.hasGnomeSessionManager();
  if (!logind && !gnome && !compositor) return nullptr;
  return std::unique_ptr<LinuxInhibitors>(new LinuxInhibitors(bus, loop, logind, gnome, std::move(compositor)));
}

LinuxInhibitors::LinuxInhibitors(DBusSession& bus, MainLoop& loop, bool logind, bool gnome,
                                 CompositorInhibitor compositor)
    : bus_(bus), loop_(loop), logind_(logind), gnome_(gnome), compositor_(std::move(compositor)) {
  busChanged_ = bus_.inhibitorsChanged.connect([this] {
    if (!announce_.isActive()) announce_ = loop_.post([this] { changed.emit(); });
  });
  if (!compositor_) return;
  lastCompositorAnswer_ = compositor_();
  compositorPoll_ = loop_.every(kCompositorPollSeconds, kCompositorPollTolerance, [this] {
    const auto answer = compositor_();
    if (answer == lastCompositorAnswer_) return;
    lastCompositorAnswer_ = answer;
    changed.emit();
  });
}

std::optional<std::vector<Inhibitors::Holder>> LinuxInhibitors::held() {
  return holders(logind_ ? bus_.listInhibitors() : std::nullopt,
                 gnome_ ? bus_.gnomeIsInhibited(kGnomeInhibitIdle) : std::nullopt,
                 compositor_ ? compositor_() : std::nullopt);
}
