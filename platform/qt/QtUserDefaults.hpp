// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include <QSettings>

#include "ports/UserDefaults.hpp"

// Interface-only preferences ("menu.stepsExpanded", ...), kept by QSettings
// in the desktop's usual place, never in the configuration file.
class QtUserDefaults final : public UserDefaults {
 public:
  // `file` empty: the user's standard settings file for Dimmora.
  explicit QtUserDefaults(const QString& file = {});

  std::optional<bool> boolValue(const std::string& key) const override;
  std::optional<double> doubleValue(const std::string& key) const override;
  std::optional<std::string> stringValue(const std::string& key) const override;
  void setBool(const std::string& key, bool value) override;
  void setDouble(const std::string& key, double value) override;
  void setString(const std::string& key, const std::string& value) override;
  void remove(const std::string& key) override;

 private:
  std::optional<QVariant> value(const std::string& key) const;
  mutable QSettings settings_;
};
