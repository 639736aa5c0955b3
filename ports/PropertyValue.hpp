// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>

// A value from a display's information dictionary or a registry property:
// text, number, flag, or a nested dictionary with string keys.
struct PropertyValue;
using PropertyDictionary = std::map<std::string, PropertyValue, std::less<>>;

struct PropertyValue {
  std::variant<std::string, double, bool, PropertyDictionary> value;

  PropertyValue() = default;
  PropertyValue(std::string text) : value(std::move(text)) {}
  PropertyValue(const char* text) : value(std::string(text)) {}
  PropertyValue(double number) : value(number) {}
  PropertyValue(bool flag) : value(flag) {}
  PropertyValue(PropertyDictionary dictionary) : value(std::move(dictionary)) {}

  const std::string* string() const { return std::get_if<std::string>(&value); }
  const PropertyDictionary* dictionary() const { return std::get_if<PropertyDictionary>(&value); }

  friend bool operator==(const PropertyValue&, const PropertyValue&) = default;
};

// The string under `key`, if the dictionary has one of that type.
inline std::optional<std::string> stringValue(const PropertyDictionary& dictionary, std::string_view key) {
  const auto found = dictionary.find(key);
  if (found == dictionary.end()) return std::nullopt;
  if (const auto* text = found->second.string()) return *text;
  return std::nullopt;
}

// The nested dictionary under `key`, if there is one of that type.
inline const PropertyDictionary* dictionaryValue(const PropertyDictionary& dictionary, std::string_view key) {
  const auto found = dictionary.find(key);
  return found == dictionary.end() ? nullptr : found->second.dictionary();
}
