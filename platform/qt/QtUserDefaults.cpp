// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtUserDefaults.hpp"

#include <cmath>

namespace {
// QSettings treats "/" as a group separator; the dotted keys stay flat.
QString keyText(const std::string& key) { return QString::fromStdString(key); }
}  // namespace

QtUserDefaults::QtUserDefaults(const QString& file)
    : settings_(file.isEmpty() ? QSettings(QSettings::IniFormat, QSettings::UserScope, "Dimmora", "Dimmora").fileName()
                               : file,
                QSettings::IniFormat) {}

std::optional<QVariant> QtUserDefaults::value(const std::string& key) const {
  const auto variant = settings_.value(keyText(key));
  if (!variant.isValid()) return std::nullopt;
  return variant;
}

std::optional<bool> QtUserDefaults::boolValue(const std::string& key) const {
  const auto v = value(key);
  if (!v) return std::nullopt;
  const auto text = v->toString().toLower();
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return std::nullopt;
}

std::optional<double> QtUserDefaults::doubleValue(const std::string& key) const {
  const auto v = value(key);
  if (!v) return std::nullopt;
  bool ok = false;
  const double number = v->toString().toDouble(&ok);
  if (!ok || !std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<std::string> QtUserDefaults::stringValue(const std::string& key) const {
  const auto v = value(key);
  if (!v) return std::nullopt;
  return v->toString().toStdString();
}

void QtUserDefaults::setBool(const std::string& key, bool value) { settings_.setValue(keyText(key), value); }
void QtUserDefaults::setDouble(const std::string& key, double value) { settings_.setValue(keyText(key), value); }
void QtUserDefaults::setString(const std::string& key, const std::string& value) {
  settings_.setValue(keyText(key), QString::fromStdString(value));
}
void QtUserDefaults::remove(const std::string& key) { settings_.remove(keyText(key)); }
