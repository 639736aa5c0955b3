// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <string>

#include "ports/UserDefaults.hpp"

// Preferences held in memory as the text a settings file would hold, so a
// test can plant a corrupt value ("abc", "nan") the way a hand-edited file would.
class SimUserDefaults final : public UserDefaults {
 public:
  std::map<std::string, std::string> values;

  std::optional<bool> boolValue(const std::string& key) const override;
  std::optional<double> doubleValue(const std::string& key) const override;
  void setBool(const std::string& key, bool value) override { values[key] = value ? "true" : "false"; }
  void setDouble(const std::string& key, double value) override;
  std::optional<std::string> stringValue(const std::string& key) const override {
    const auto found = values.find(key);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
  void setString(const std::string& key, const std::string& value) override { values[key] = value; }
  void remove(const std::string& key) override { values.erase(key); }
};
