// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// Interface-only preferences ("menu.stepsExpanded", ...) and the program's
// records of what it changed on the desktop, kept apart from the
// configuration file. Reads give nullopt for a missing key and for a value of
// the wrong kind (text where a number belongs, a number that is not finite).
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  virtual std::optional<bool> boolValue(const std::string& key) const = 0;
  virtual std::optional<double> doubleValue(const std::string& key) const = 0;
  virtual std::optional<std::string> stringValue(const std::string& key) const = 0;
  virtual void setBool(const std::string& key, bool value) = 0;
  virtual void setDouble(const std::string& key, double value) = 0;
  virtual void setString(const std::string& key, const std::string& value) = 0;
  virtual void remove(const std::string& key) = 0;
};
