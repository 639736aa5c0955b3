// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/GnomeIdleDimming.hpp"

#include <gio/gio.h>

namespace {
constexpr const char* kIdleDim = "idle-dim";
constexpr const char* kIdleDelay = "idle-delay";

GSettings* settingsFor(const char* schemaID, const char* key) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  // GSettings aborts the process on a schema that is not installed: look first.
  GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, schemaID, TRUE) : nullptr;
  if (!schema) return nullptr;
  GSettings* settings = g_settings_schema_has_key(schema, key) ? g_settings_new_full(schema, nullptr, nullptr) : nullptr;
  g_settings_schema_unref(schema);
  return settings;
}

void emitChanged(GSettings*, const char*, gpointer self) { static_cast<GnomeIdleDimming*>(self)->changed.emit(); }
}  // namespace

std::unique_ptr<GnomeIdleDimming> GnomeIdleDimming::open() {
  GSettings* power = settingsFor(kPowerSchema, kIdleDim);
  if (!power) return nullptr;
  return std::unique_ptr<GnomeIdleDimming>(new GnomeIdleDimming(power, settingsFor(kSessionSchema, kIdleDelay)));
}

GnomeIdleDimming::GnomeIdleDimming(GSettings* power, GSettings* session) : power_(power), session_(session) {
  g_signal_connect(power_, "changed::idle-dim", G_CALLBACK(emitChanged), this);
  if (session_) g_signal_connect(session_, "changed::idle-delay", G_CALLBACK(emitChanged), this);
  // GSettings signals a change only of a key read since a handler was connected.
  isOn();
}

GnomeIdleDimming::~GnomeIdleDimming() {
  g_signal_handlers_disconnect_by_data(power_, this);
  g_object_unref(power_);
  if (session_) {
    g_signal_handlers_disconnect_by_data(session_, this);
    g_object_unref(session_);
  }
}

bool GnomeIdleDimming::isOn() const {
  const bool dims = g_settings_get_boolean(power_, kIdleDim);
  const bool blanks = !session_ || g_settings_get_uint(session_, kIdleDelay) != 0;
  return dims && blanks;
}

std::variant<std::vector<DesktopIdleDimming::Setting>, std::string> GnomeIdleDimming::turnOff() {
  Setting previous{kPowerSchema, kIdleDim, std::nullopt};
  if (GVariant* user = g_settings_get_user_value(power_, kIdleDim)) {
    gchar* text = g_variant_print(user, FALSE);
    previous.value = text;
    g_free(text);
    g_variant_unref(user);
  }
  if (!g_settings_set_boolean(power_, kIdleDim, FALSE))
    return std::string(kPowerSchema) + " " + kIdleDim + " is not writable (locked by the administrator)";
  g_settings_sync();
  return std::vector<Setting>{previous};
}

std::optional<std::string> GnomeIdleDimming::restore(const std::vector<Setting>& previous) {
  for (const Setting& setting : previous) {
    if (setting.group != kPowerSchema || setting.key != kIdleDim)
      return "no such GNOME setting: " + setting.group + " " + setting.key;
    if (!setting.value) {
      g_settings_reset(power_, kIdleDim);
      continue;
    }
    GVariant* value = g_variant_parse(G_VARIANT_TYPE_BOOLEAN, setting.value->c_str(), nullptr, nullptr, nullptr);
    if (!value) return "not a value of " + setting.key + ": " + *setting.value;
    const bool written = g_settings_set_value(power_, kIdleDim, value);
    g_variant_unref(value);
    if (!written) return std::string(kPowerSchema) + " " + kIdleDim + " is not writable (locked by the administrator)";
  }
  g_settings_sync();
  return std::nullopt;
}
