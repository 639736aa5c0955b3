// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/GlobalHotKeyManager.hpp"

#include <algorithm>

#include "ports/SystemPorts.hpp"
#include "services/AppLog.hpp"

namespace {
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
}  // namespace

std::optional<HotKeyID> hotKeyIDFromRawValue(std::uint32_t rawValue) {
  if (rawValue >= 1 && rawValue <= 3) return static_cast<HotKeyID>(rawValue);
  return std::nullopt;
}

namespace {
// Control+Alt, and Control+Alt+Shift.
constexpr std::uint32_t kCA = HotKeyService::controlKey | HotKeyService::optionKey;
constexpr std::uint32_t kCAS = kCA | HotKeyService::shiftKey;

const HotKeyTableRow* hotKeyRow(std::string_view key) {
  const std::string lower = lowercased(key);
  for (const auto& row : hotKeyTable()) {
    if (row.key == lower) return &row;
  }
  return nullptr;
}
}  // namespace

const std::array<HotKeyTableRow, 49>& hotKeyTable() {
  static constexpr std::array<HotKeyTableRow, 49> table{{
      {"f1", 122, kCAS}, {"f2", 120, kCAS}, {"a", 0, kCA},   {"s", 1, kCA},   {"d", 2, kCA},   {"f", 3, kCA},
      {"h", 4, kCA},     {"g", 5, kCA},     {"z", 6, kCA},   {"x", 7, kCA},   {"c", 8, kCA},   {"v", 9, kCA},
      {"b", 11, kCA},    {"q", 12, kCA},    {"w", 13, kCA},  {"e", 14, kCA},  {"r", 15, kCA},  {"y", 16, kCA},
      {"t", 17, kCA},    {"1", 18, kCA},    {"2", 19, kCA},  {"3", 20, kCA},  {"4", 21, kCA},  {"6", 22, kCA},
      {"5", 23, kCA},    {"=", 24, kCA},    {"9", 25, kCA},  {"7", 26, kCA},  {"-", 27, kCA},  {"8", 28, kCA},
      {"0", 29, kCA},    {"]", 30, kCA},    {"o", 31, kCA},  {"u", 32, kCA},  {"[", 33, kCA},  {"i", 34, kCA},
      {"p", 35, kCA},    {"l", 37, kCA},    {"j", 38, kCA},  {"'", 39, kCA},  {"k", 40, kCA},  {";", 41, kCA},
      {"\\", 42, kCA},  {",", 43, kCA},    {"/", 44, kCA},  {"n", 45, kCA},  {"m", 46, kCA},  {".", 47, kCA},
      {"`", 50, kCA},
  }};
  return table;
}

std::optional<std::uint32_t> hotKeyCode(std::string_view key) {
  const HotKeyTableRow* row = hotKeyRow(key);
  if (!row) return std::nullopt;
  return row->keyCode;
}

std::uint32_t hotKeyModifiers(std::string_view key) {
  const HotKeyTableRow* row = hotKeyRow(key);
  return row ? row->modifiers : kCA;
}

std::string hotKeyModifierLabel(std::string_view key) {
  const std::uint32_t modifiers = hotKeyModifiers(key);
  std::string label;
  if (modifiers & HotKeyService::controlKey) label += "Ctrl+";
  if (modifiers & HotKeyService::optionKey) label += "Alt+";
  if (modifiers & HotKeyService::shiftKey) label += "Shift+";
  return label;
}

GlobalHotKeyManager::GlobalHotKeyManager() : service_(systemPorts().hotKeys) {
  if (!service_) return;
  lost_ = service_->registrationLost.connect([this](const HotKeyService::HotKeyRef& hotKey) {
    if (std::erase_if(hotKeyRefs_, [&](const auto& entry) { return entry.second == hotKey; }) && onRegistrationLost)
      onRegistrationLost();
  });
}

GlobalHotKeyManager::~GlobalHotKeyManager() { unregisterAll(); }

void GlobalHotKeyManager::installEventHandler() {
  if (eventHandler_) return;
  // Without a hot-key service there is nothing to fail: the binding said once what the desktop lacks.
  if (!service_) return;
  std::weak_ptr<int> alive = alive_;
  const auto result = service_->installEventHandler([this, alive](const HotKeyService::Event& event) {
    if (!alive.expired()) handleHotKeyEvent(event);
    return std::int32_t{0};  // always handled, so the press goes nowhere else
  });
  if (result.status != 0 || !result.handler) {
    AppLog::app.error("InstallEventHandler failed: " + std::to_string(result.status));
    return;
  }
  eventHandler_ = result.handler;
}

void GlobalHotKeyManager::handleHotKeyEvent(const HotKeyService::Event& event) {
  if (!event.identity) return;
  // The signature is not compared: the id alone names the key.
  const auto id = hotKeyIDFromRawValue(event.identity->id);
  if (id && onHotKey) onHotKey(*id);
}

void GlobalHotKeyManager::update(const std::string& increaseKey, const std::string& decreaseKey) {
  unregisterAll();
  registerKey("r", HotKeyID::restore);
  if (!isBrightnessKey(increaseKey)) registerKey(increaseKey, HotKeyID::increaseMax);
  if (!isBrightnessKey(decreaseKey)) registerKey(decreaseKey, HotKeyID::decreaseMax);
}

void GlobalHotKeyManager::registerKey(const std::string& key, HotKeyID id) {
  const auto code = hotKeyCode(key);
  if (!code) {
    AppLog::app.error("Unsupported hotkey character: " + key);
    return;
  }
  if (!service_) return;
  const auto result =
      service_->registerEventHotKey(*code, hotKeyModifiers(key), {signature, static_cast<std::uint32_t>(id)});
  if (result.status == 0 && result.hotKey) {
    hotKeyRefs_[id] = *result.hotKey;
    return;
  }
  AppLog::app.error("RegisterEventHotKey failed for " + key + ": " + std::to_string(result.status));
}

void GlobalHotKeyManager::unregisterAll() {
  if (service_) {
    for (const auto& [id, hotKey] : hotKeyRefs_) service_->unregisterEventHotKey(hotKey);
  }
  hotKeyRefs_.clear();
}
