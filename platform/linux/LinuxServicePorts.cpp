// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxServicePorts.hpp"

#include <X11/X.h>
#include <X11/keysym.h>

#include <sstream>

#include "ports/IOResult.hpp"
#include "services/GlobalHotKeyManager.hpp"

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

LinuxHotKeyService::LinuxHotKeyService(X11HotKeys& keys) : keys_(keys) {}

std::optional<unsigned long> LinuxHotKeyService::keySymbolFor(std::uint32_t keyCode) {
  for (const auto& row : hotKeyTable()) {
    if (row.keyCode != keyCode) continue;
    if (row.key == "f1") return XK_F1;
    if (row.key == "f2") return XK_F2;
    // Every other row is one printable character, whose X key symbol is its Latin-1 code.
    if (row.key.size() == 1) return static_cast<unsigned char>(row.key[0]);
  }
  return std::nullopt;
}

std::optional<unsigned int> LinuxHotKeyService::modifierMaskFor(std::uint32_t modifiers) {
  // Every hot key holds Control and Alt; Shift is the one addition the table uses.
  const std::uint32_t required = controlKey | optionKey;
  if ((modifiers & required) != required || (modifiers & ~(required | shiftKey)) != 0) return std::nullopt;
  return ControlMask | Mod1Mask | ((modifiers & shiftKey) ? ShiftMask : 0u);
}

HotKeyService::InstallResult LinuxHotKeyService::installEventHandler(Handler handler) {
  if (handler_) return {0, HandlerRef{1}};
  handler_ = std::move(handler);
  pressed_ = keys_.pressed.connect([this](const int& ref) {
    const auto it = identities_.find(static_cast<HotKeyRef>(ref));
    if (handler_) (*handler_)(Event{it == identities_.end() ? std::nullopt : std::optional<Identity>(it->second)});
  });
  return {0, HandlerRef{1}};
}

HotKeyService::RegisterResult LinuxHotKeyService::registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                                      Identity identity) {
  const auto symbol = keySymbolFor(keyCode);
  const auto mask = modifierMaskFor(modifiers);
  if (!symbol || !mask) return {kUnsupported, std::nullopt};
  const HotKeyRef ref = nextRef_++;
  const int status = keys_.grab(static_cast<int>(ref), *symbol, *mask);
  if (status != 0) return {status, std::nullopt};
  identities_[ref] = identity;
  return {0, ref};
}

std::int32_t LinuxHotKeyService::unregisterEventHotKey(HotKeyRef hotKey) {
  if (!identities_.erase(hotKey)) return kUnsupported;
  keys_.ungrab(static_cast<int>(hotKey));
  return 0;
}
