#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "ports/IOResult.hpp"

// The result codes Linux adds to the shared ones.
namespace IOResult {
inline constexpr std::int32_t ioError = static_cast<std::int32_t>(0xE00002CAu);       // transfer failed
}  // namespace IOResult

// Maps an errno to a result code.
std::int32_t ioResultForErrno(int error);
// The same for opening or using /dev/i2c-N. The causes a user can fix (no
// permission, no i2c-dev module, a kernel ddcci driver holding the bus) get
// their own codes and are explained in the log, once per process each.
std::int32_t i2cResultForErrno(int error, const std::filesystem::path& device);
// Lets the next occurrence of each cause be explained again (tests).
void resetI2CExplanations();
// A short text for a result code ("not permitted"); empty for unknown codes.
std::string ioResultText(std::int32_t code);

// Plain transfers on /dev/i2c-N (the i2c-dev module): select the chip, then
// write or read bytes.
class I2CDevice {
 public:
  explicit I2CDevice(std::filesystem::path devRoot);

  // Sends the data address followed by `bytes` to `chip`.
  std::int32_t write(int bus, std::uint8_t chip, std::uint8_t dataAddress, std::span<const std::uint8_t> bytes) const;
  // Reads out.size() bytes from `chip`.
  std::int32_t read(int bus, std::uint8_t chip, std::span<std::uint8_t> out) const;
  // The 128-byte EDID base block from address 0x50; nullopt when it cannot be read.
  std::optional<std::vector<std::uint8_t>> readEdid(int bus) const;

  std::filesystem::path devicePath(int bus) const;

 private:
  std::filesystem::path devRoot_;
};
