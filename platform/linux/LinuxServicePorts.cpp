// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxServicePorts.hpp"

#include <sstream>

#include "ports/IOResult.hpp"

namespace {
bool hasPart(const std::string& what, std::string_view part) {
  std::istringstream parts(what);
  std::string item;
  while (std::getline(parts, item, ':'))
    if (item == part) return true;
  return false;
}
}  // namespace

std::optional<std::vector<LinuxPowerAssertions::Holder>> LinuxPowerAssertions::holders(
    const std::optional<std::vector<LogindInhibitor>>& inhibitors, std::optional<bool> gnome,
    std::optional<bool> compositor) {
  if (!inhibitors && !gnome && !compositor) return std::nullopt;
  std::vector<Holder> list;
  for (const auto& inhibitor : inhibitors.value_or(std::vector<LogindInhibitor>{})) {
    // Delay inhibitors only postpone sleep by a few seconds; they prevent nothing.
    if (inhibitor.mode != "block") continue;
    const auto process = std::to_string(inhibitor.pid) + " " + inhibitor.who;
    if (hasPart(inhibitor.what, "idle")) list.push_back({process, "PreventUserIdleDisplaySleep", inhibitor.why});
    if (hasPart(inhibitor.what, "sleep")) list.push_back({process, "PreventSystemSleep", inhibitor.why});
  }
  if (gnome.value_or(false)) list.push_back({"session inhibitor", "PreventUserIdleDisplaySleep", "GNOME session"});
  if (compositor.value_or(false))
    list.push_back({"compositor", "PreventUserIdleDisplaySleep", "an application's idle inhibitor (zwp_idle_inhibitor_v1)"});
  return list;
}

std::unique_ptr<LinuxPowerAssertions> LinuxPowerAssertions::connect(DBusSession& bus, CompositorInhibitor compositor) {
  const bool logind = bus.hasLogind(), gnome = bus.hasGnomeSessionManager();
  if (!logind && !gnome && !compositor) return nullptr;
  return std::unique_ptr<LinuxPowerAssertions>(new LinuxPowerAssertions(bus, logind, gnome, std::move(compositor)));
}

PowerAssertions::Summary LinuxPowerAssertions::copyAssertionsStatus() { return summary(query()); }
PowerAssertions::ByProcess LinuxPowerAssertions::copyAssertionsByProcess() { return byProcess(query()); }

PowerAssertions::Summary LinuxPowerAssertions::summary(const std::optional<std::vector<Holder>>& list) {
  if (!list) return {IOResult::notResponding, std::nullopt};
  PropertyDictionary counts{{"PreventUserIdleDisplaySleep", 0.0}, {"PreventSystemSleep", 0.0}};
  for (const auto& holder : *list) counts[holder.type] = std::get<double>(counts[holder.type].value) + 1;
  return {IOResult::success, counts};
}

PowerAssertions::ByProcess LinuxPowerAssertions::byProcess(const std::optional<std::vector<Holder>>& list) {
  if (!list) return {IOResult::notResponding, std::nullopt};
  PropertyDictionary byProcess;
  for (const auto& holder : *list) {
    auto& entry = byProcess[holder.process];
    if (!entry.dictionary()) entry = PropertyDictionary{};
    auto assertions = *entry.dictionary();
    assertions[std::to_string(assertions.size())] =
        PropertyDictionary{{"AssertType", holder.type}, {"AssertName", holder.reason}};
    entry = std::move(assertions);
  }
  return {IOResult::success, byProcess};
}
