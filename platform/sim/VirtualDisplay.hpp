// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "ports/GammaTables.hpp"
#include "ports/IOResult.hpp"
#include "ports/PropertyValue.hpp"

// One display of the simulated machine. An external monitor answers DDC/CI
// Get/Set VCP Feature 0x10 from its own VCP table; a built-in panel keeps a
// brightness level for the panel-brightness service. Both have a gamma table.
// Every knob is public state or a small setter so tests can stage any fault.
class VirtualDisplay {
 public:
  static constexpr int kAlways = -1;  // a fault count that never runs out

  VirtualDisplay(DisplayID id, bool builtIn) : id_(id), builtIn_(builtIn) {}

  DisplayID id() const { return id_; }
  bool isBuiltIn() const { return builtIn_; }
  bool isConnected() const { return connected_; }

  // Brightness in percent: the VCP current value of a monitor (its maximum
  // is usually 100), or the panel's level times 100.
  double brightness() const;

  // --- external monitor: VCP 0x10 ------------------------------------------
  std::uint16_t vcpCurrent() const { return vcpCurrent_; }
  std::uint16_t vcpMaximum() const { return vcpMaximum_; }
  void setVCPCurrent(std::uint16_t value) { vcpCurrent_ = value; }  // may exceed the maximum, as some monitors do
  void setVCPMaximum(std::uint16_t value) { vcpMaximum_ = value; }  // 0 makes every reply unusable
  // Set VCP Feature packets the monitor accepted (right checksum, applied).
  int acceptedWrites() const { return acceptedWrites_; }

  // Faults. Counts are consumed one per transfer; kAlways never runs out.
  void failWrites(int count = kAlways) { failWrites_ = count; }  // every I2C write (set or query) fails
  void failReads(int count = kAlways) { failReads_ = count; }    // I2C reads fail
  void dropWrites(bool drop = true) { dropWrites_ = drop; }      // Set VCP "succeeds" but changes nothing
  void answerGarbage(int count = kAlways) { garbageReplies_ = count; }  // replies with the wrong opcode
  // Replies garbled on the wire: the maximum reads 0xFFFF, the checksum is still the true reply's.
  void corruptReplies(int count = kAlways) { corruptReplies_ = count; }
  // Replaces the reply with these bytes (shorter ones are zero-padded to the read length).
  void overrideReply(std::vector<std::uint8_t> bytes) { replyOverride_ = std::move(bytes); }
  void clearReplyOverride() { replyOverride_.reset(); }
  std::int32_t faultResult = IOResult::error;  // code returned by failed transfers
  // How long the monitor needs after a query before its reply is ready; a
  // read that comes sooner gets the null message. Time is the machine's clock.
  std::uint32_t replyDelayMicroseconds = 0;
  // How long the monitor needs after one message before it listens to the
  // next: a write that comes sooner is acknowledged on the bus and ignored,
  // as real monitors do. Time is the machine's clock.
  std::uint32_t minimumMessageIntervalMicroseconds = 0;
  int droppedMessages() const { return droppedMessages_; }
  // Another program holds the bus's lock: every transfer is refused as busy.
  bool busHeldElsewhere = false;

  // --- built-in panel ----------------------------------------------------
  float panelLevel() const { return panelLevel_; }
  void setPanelLevel(float level) { panelLevel_ = level; }
  bool canChangeBrightness = true;   // what the can-change function answers
  std::uint32_t backlightSteps = 0;  // levels above off the backlight reports; 0: none
  std::int32_t setResult = 0;        // result of the set function (non-zero: refused, level unchanged)
  std::int32_t smoothSetResult = 0;  // result of the smooth set function
  std::int32_t getResult = 0;        // result of the get function
  std::int32_t parameterResult = 0;  // result of the "brightness" float parameter

  // --- identity the system reports ----------------------------------------
  std::uint32_t vendor = 0;
  std::uint32_t model = 0;
  std::uint32_t serial = 0;
  // The information dictionary as the system returns it; nullopt: none.
  std::optional<PropertyValue> infoDictionary;
  // Properties of the display's registry entry (its path is its "IODisplayLocation").
  std::string registryPath;
  PropertyDictionary registryProperties;
  bool inRegistry = true;  // false: the path cannot be opened
  // The audio-video service entry that follows the display in the registry;
  // nullopt: none. Its "Location" property is this text.
  std::optional<std::string> serviceLocation;
  std::string serviceEntryName = "DCPAVServiceProxy";

  // --- gamma table -------------------------------------------------------
  std::uint32_t gammaCapacity = 256;
  std::vector<float> gammaRed, gammaGreen, gammaBlue;  // the table on screen
  void failGammaReads(int count = kAlways) { failGammaReads_ = count; }
  void failGammaWrites(int count = kAlways) { failGammaWrites_ = count; }
  std::int32_t gammaFaultResult = GammaTables::failure;  // a failing gamma call's error code
  void resetGamma();  // identity ramp of gammaCapacity samples
  // The top entry of the table on screen: the factor the identity ramp it
  // starts with was scaled by (1 at full, 0.5 when halved).
  double gammaScale() const;

 private:
  friend class SimulatedMachine;

  // I2C behaviour, called by the machine's audio-video services.
  // `now` is the machine's clock, in microseconds.
  std::int32_t i2cWrite(std::uint64_t now, std::uint32_t chip, std::uint32_t dataAddress, const std::uint8_t* bytes,
                        std::uint32_t length);
  std::int32_t i2cRead(std::uint64_t now, std::uint32_t chip, std::uint32_t dataAddress, std::uint8_t* bytes,
                       std::uint32_t length);
  static bool consume(int& count);

  DisplayID id_;
  bool builtIn_;
  bool connected_ = true;
  std::uint16_t vcpCurrent_ = 50;
  std::uint16_t vcpMaximum_ = 100;
  int acceptedWrites_ = 0;
  int failWrites_ = 0;
  int failReads_ = 0;
  bool dropWrites_ = false;
  int garbageReplies_ = 0;
  int corruptReplies_ = 0;
  std::optional<std::vector<std::uint8_t>> replyOverride_;
  int failGammaReads_ = 0;
  int failGammaWrites_ = 0;
  bool replyPending_ = false;  // a Get VCP 0x10 request came in
  std::optional<std::uint64_t> lastMessageAt_;
  int droppedMessages_ = 0;
  std::uint64_t queriedAt_ = 0;
  float panelLevel_ = 0.5f;
};
