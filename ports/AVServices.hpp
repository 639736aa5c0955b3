// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>

#include "ports/DeviceRegistry.hpp"
#include "ports/IOResult.hpp"

// A display's audio-video service: its I2C channel. Released when the last
// reference goes.
class AVService {
 public:
  virtual ~AVService() = default;
};

// Creating services and I2C transfers on them. Each function is resolved by
// name at run time and may be missing.
class AVServices {
 public:
  virtual ~AVServices() = default;

  virtual bool hasCreateWithService() = 0;
  // A service for a registry entry, or null when the entry has none.
  virtual std::shared_ptr<AVService> createWithService(RegistryEntry entry) = 0;

  virtual bool hasWriteI2C() = 0;
  virtual std::int32_t writeI2C(AVService& service, std::uint32_t chipAddress, std::uint32_t dataAddress,
                                const std::uint8_t* buffer, std::uint32_t length) = 0;

  virtual bool hasReadI2C() = 0;
  virtual std::int32_t readI2C(AVService& service, std::uint32_t chipAddress, std::uint32_t dataAddress,
                               std::uint8_t* buffer, std::uint32_t length) = 0;
};
