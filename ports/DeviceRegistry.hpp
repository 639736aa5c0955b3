// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ports/PropertyValue.hpp"

// Opaque handle of one registry entry; valid while the registry lives.
using RegistryEntry = std::uint64_t;

// The tree of devices, walked in the service plane. Displays are found by
// their path; their DDC channels are entries that follow them in the walk.
class DeviceRegistry {
 public:
  virtual ~DeviceRegistry() = default;

  // Every entry below the root, recursively, in iteration order; nullopt
  // when the root or the iterator is unavailable.
  virtual std::optional<std::vector<RegistryEntry>> allEntries() = 0;
  // The entry's path in the service plane (paths longer than 4096 bytes are unavailable).
  virtual std::optional<std::string> path(RegistryEntry entry) = 0;
  // The entry's name (names longer than 128 bytes are unavailable).
  virtual std::optional<std::string> name(RegistryEntry entry) = 0;
  // Searches the entry and, recursively, its children for a property.
  virtual std::optional<PropertyValue> searchProperty(RegistryEntry entry, std::string_view key) = 0;
  // Opens the entry at a service-plane path.
  virtual std::optional<RegistryEntry> entryFromPath(std::string_view path) = 0;
};
