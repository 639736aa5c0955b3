// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "ports/Backlights.hpp"
#include "ports/GammaTables.hpp"
#include "ports/I2CBuses.hpp"

// One display of the simulated machine, as Linux shows it: a connector, an
// EDID, an I2C bus, a backlight device. An external monitor answers DDC/CI
// Get/Set VCP Feature 0x10 on its bus from its own VCP table; a built-in
// panel keeps its backlight's level. Both have a gamma table.
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
  I2CStatus faultStatus = I2CStatus::ioError;  // how failed transfers end
  // How long the monitor needs after a query before its reply is ready; a
  // read that comes sooner gets the null message. Time is the machine's clock.
  std::uint32_t replyDelayMicroseconds = 0;
  // How long each transfer keeps the bus (a monitor stretching the clock):
  // the next transfer on the bus starts, and the result arrives, that much later.
  std::uint32_t transferMicroseconds = 0;
  // How long the monitor needs after one message before it listens to the
  // next: a write that comes sooner is acknowledged on the bus and ignored,
  // as real monitors do. Time is the machine's clock.
  std::uint32_t minimumMessageIntervalMicroseconds = 0;
  int droppedMessages() const { return droppedMessages_; }
  // Another program holds the bus's lock: every transfer is refused as busy.
  bool busHeldElsewhere = false;

  // --- built-in panel: its backlight device --------------------------------
  float panelLevel() const { return panelLevel_; }
  void setPanelLevel(float level) { panelLevel_ = level; }
  std::uint32_t backlightSteps = 0;  // the device's maximum; 0: it does not say
  BacklightStatus setStatus = BacklightStatus::ok;  // how writes end (not ok: refused, level unchanged)
  bool levelReadable = true;         // false: the device's level cannot be read
  int levelReads = 0;                // how often the device's level was read

  // --- what the system knows of it ------------------------------------------
  std::string connector;   // the kernel's connector ("HDMI-A-1")
  std::string outputName;  // the session's name for it; empty: the connector's
  // The EDID's fields; the machine builds the base block from them.
  bool hasEdid = true;
  std::uint32_t vendor = 0;
  std::uint32_t model = 0;
  std::uint32_t serial = 0;
  std::optional<std::string> productName;  // monitor name descriptor
  std::optional<std::string> serialText;   // serial number descriptor
  std::optional<std::vector<std::uint8_t>> edidOverride;  // these bytes instead, garbled or not
  std::optional<int> i2cBus;  // the bus of its DDC/CI channel; nullopt: none
  // Its backlight device: a panel's, or a ddcci driver's for a monitor.
  std::optional<std::string> backlight;
  std::vector<std::uint8_t> edid() const;

  // --- gamma table -------------------------------------------------------
  std::uint32_t gammaSize = 256;
  std::vector<float> gammaRed, gammaGreen, gammaBlue;  // the table on screen
  void failGammaReads(int count = kAlways) { failGammaReads_ = count; }
  void failGammaWrites(int count = kAlways) { failGammaWrites_ = count; }
  GammaTables::Result gammaFault = GammaTables::Result::failed;  // what a failing gamma call answers
  void resetGamma();  // identity ramp of gammaSize samples
  // The top entry of the table on screen: the factor the identity ramp it
  // starts with was scaled by (1 at full, 0.5 when halved).
  double gammaScale() const;

 private:
  friend class SimulatedMachine;

  // A transfer on the display's bus. `now` is the machine's clock, in microseconds.
  I2CResult i2cTransfer(std::uint64_t now, const I2CMessage& message);
  I2CStatus i2cWrite(std::uint64_t now, const std::vector<std::uint8_t>& bytes);
  I2CStatus i2cRead(std::uint64_t now, std::vector<std::uint8_t>& bytes);
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
