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

const std::array<HotKeyTableRow, 49>& hotKeyTable() {
  static constexpr std::array<HotKeyTableRow, 49> table{{
      {"f1", 122}, {"f2", 120}, {"a", 0},   {"s", 1},   {"d", 2},   {"f", 3},   {"h", 4},  {"g", 5},   {"z", 6},
      {"x", 7},    {"c", 8},    {"v", 9},   {"b", 11},  {"q", 12},  {"w", 13},  {"e", 14}, {"r", 15},  {"y", 16},
      {"t", 17},   {"1", 18},   {"2", 19},  {"3", 20},  {"4", 21},  {"6", 22},  {"5", 23}, {"=", 24},  {"9", 25},
      {"7", 26},   {"-", 27},   {"8", 28},  {"0", 29},  {"]", 30},  {"o", 31},  {"u", 32}, {"[", 33},  {"i", 34},
      {"p", 35},   {"l", 37},   {"j", 38},  {"'", 39},  {"k", 40},  {";", 41},  {"\\", 42}, {",", 43}, {"/", 44},
      {"n", 45},   {"m", 46},   {".", 47},  {"`", 50},
  }};
  return table;
}

std::optional<std::uint32_t> hotKeyCode(std::string_view key) {
  const std::string lower = lowercased(key);
  for (const auto& row : hotKeyTable()) {
    if (row.key == lower) return row.keyCode;
  }
  return std::nullopt;
}

GlobalHotKeyManager::GlobalHotKeyManager() : service_(systemPorts().hotKeys) {}

GlobalHotKeyManager::~GlobalHotKeyManager() { unregisterAll(); }

void GlobalHotKeyManager::installEventHandler() {
  if (eventHandler_) return;
  if (!service_) {
    AppLog::app.error("InstallEventHandler failed: " + std::to_string(serviceUnavailable));
    return;
  }
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
  const auto result = service_ ? service_->registerEventHotKey(*code, modifiers,
                                                               {signature, static_cast<std::uint32_t>(id)})
                               : HotKeyService::RegisterResult{serviceUnavailable, std::nullopt};
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
