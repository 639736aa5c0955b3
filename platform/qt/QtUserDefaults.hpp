#pragma once

#include <optional>
#include <string>

#include <QSettings>

// Interface-only preferences ("menu.stepsExpanded", ...), kept by QSettings
// in the desktop's usual place, never in the configuration file.
class QtUserDefaults {
 public:
  // `file` empty: the user's standard settings file for Dimmora.
  explicit QtUserDefaults(const QString& file = {});

  std::optional<bool> boolValue(const std::string& key) const;
  std::optional<double> doubleValue(const std::string& key) const;
  void setBool(const std::string& key, bool value);
  void setDouble(const std::string& key, double value);
  void remove(const std::string& key);

 private:
  std::optional<QVariant> value(const std::string& key) const;
  mutable QSettings settings_;
};
