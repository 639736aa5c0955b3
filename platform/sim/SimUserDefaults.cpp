// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/SimUserDefaults.hpp"

#include <cmath>
#include <cstdlib>

#include "base/Numbers.hpp"

std::optional<bool> SimUserDefaults::boolValue(const std::string& key) const {
  const auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  if (found->second == "true" || found->second == "1") return true;
  if (found->second == "false" || found->second == "0") return false;
  return std::nullopt;
}

std::optional<double> SimUserDefaults::doubleValue(const std::string& key) const {
  const auto found = values.find(key);
  if (found == values.end() || found->second.empty()) return std::nullopt;
  char* end = nullptr;
  const double number = std::strtod(found->second.c_str(), &end);
  if (*end != '\0' || !std::isfinite(number)) return std::nullopt;
  return number;
}

void SimUserDefaults::setDouble(const std::string& key, double value) { values[key] = formatShortest(value); }
