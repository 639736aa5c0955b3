// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/GlobalHotKeyManager.hpp"

#include <algorithm>

#include "services/AppLog.hpp"

namespace {
using Modifier = GlobalShortcuts::Modifier;

std::string lowercased(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

bool isBrightnessKey(const std::string& key) {
  const std::string lower = lowercased(key);
  return lower == "brightness_up" || lower == "brightness_down";
}

const HotKeyTableRow* hotKeyRow(std::string_view key) {
  const std::string lower = lowercased(key);
  for (const auto& row : hotKeyTable()) {
    if (row.key == lower) return &row;
  }
  return nullptr;
}

bool isFunctionKey(std::string_view key) { return key == "f1" || key == "f2"; }
}  // namespace

const std::array<HotKeyTableRow, 49>& hotKeyTable() {
  static constexpr std::array<HotKeyTableRow, 49> table{{
      {"f1", "F1"},          {"f2", "F2"},          {"a", "a"},           {"b", "b"},          {"c", "c"},
      {"d", "d"},            {"e", "e"},            {"f", "f"},           {"g", "g"},          {"h", "h"},
      {"i", "i"},            {"j", "j"},            {"k", "k"},           {"l", "l"},          {"m", "m"},
      {"n", "n"},            {"o", "o"},            {"p", "p"},           {"q", "q"},          {"r", "r"},
      {"s", "s"},            {"t", "t"},            {"u", "u"},           {"v", "v"},          {"w", "w"},
      {"x", "x"},            {"y", "y"},            {"z", "z"},           {"0", "0"},          {"1", "1"},
      {"2", "2"},            {"3", "3"},            {"4", "4"},           {"5", "5"},          {"6", "6"},
      {"7", "7"},            {"8", "8"},            {"9", "9"},           {"=", "equal"},      {"-", "minus"},
      {"]", "bracketright"}, {"[", "bracketleft"},  {"'", "apostrophe"},  {";", "semicolon"},  {"\\", "backslash"},
      {",", "comma"},        {"/", "slash"},        {".", "period"},      {"`", "grave"},
  }};
  return table;
}

std::vector<Modifier> hotKeyModifiers(std::string_view key) {
  if (isFunctionKey(lowercased(key))) return {Modifier::control, Modifier::alt, Modifier::shift};
  return {Modifier::control, Modifier::alt};
}

std::optional<GlobalShortcuts::Combination> hotKeyCombination(std::string_view key) {
  const HotKeyTableRow* row = hotKeyRow(key);
  if (!row) return std::nullopt;
  return GlobalShortcuts::Combination{std::string(row->keyName), hotKeyModifiers(key)};
}

std::string hotKeyModifierLabel(std::string_view key) {
  std::string label;
  for (const Modifier modifier : hotKeyModifiers(key)) {
    switch (modifier) {
      case Modifier::control: label += "Ctrl+"; break;
      case Modifier::alt: label += "Alt+"; break;
      case Modifier::shift: label += "Shift+"; break;
    }
  }
  return label;
}

std::string_view refusalText(GlobalShortcuts::Refusal refusal) {
  switch (refusal) {
    case GlobalShortcuts::Refusal::unknownKey: return "no key carries that name";
    case GlobalShortcuts::Refusal::taken: return "the combination is taken";
    case GlobalShortcuts::Refusal::notBound: return "the desktop did not bind it";
    case GlobalShortcuts::Refusal::connectionLost: return "the connection to the display server is lost";
  }
  return "refused";
}

GlobalHotKeyManager::GlobalHotKeyManager(GlobalShortcuts* service) : service_(service) {
  if (!service_) return;
  lost_ = service_->registrationLost.connect([this](const GlobalShortcuts::Handle& handle) {
    if (std::erase_if(handles_, [&](const auto& entry) { return entry.second == handle; }) && onRegistrationLost)
      onRegistrationLost();
  });
}

GlobalHotKeyManager::~GlobalHotKeyManager() { unregisterAll(); }

void GlobalHotKeyManager::update(const std::string& increaseKey, const std::string& decreaseKey) {
  unregisterAll();
  registerKey("r", HotKeyID::restore);
  if (!isBrightnessKey(increaseKey)) registerKey(increaseKey, HotKeyID::increaseMax);
  if (!isBrightnessKey(decreaseKey)) registerKey(decreaseKey, HotKeyID::decreaseMax);
}

void GlobalHotKeyManager::registerKey(const std::string& key, HotKeyID id) {
  const auto combination = hotKeyCombination(key);
  if (!combination) {
    AppLog::app.error("Unsupported hotkey character: " + key);
    return;
  }
  if (!service_) return;
  // The registration ends before the manager does, so the handler never outlives it.
  const auto result = service_->registerShortcut(id, *combination, [this, id] {
    if (onHotKey) onHotKey(id);
  });
  if (const auto* handle = std::get_if<GlobalShortcuts::Handle>(&result)) {
    handles_[id] = *handle;
    return;
  }
  AppLog::app.error("Cannot register the global shortcut " + hotKeyModifierLabel(key) + combination->keyName + ": " +
                    std::string(refusalText(std::get<GlobalShortcuts::Refusal>(result))));
}

void GlobalHotKeyManager::unregisterAll() {
  if (service_) {
    for (const auto& [id, handle] : handles_) service_->unregisterShortcut(handle);
  }
  handles_.clear();
}
