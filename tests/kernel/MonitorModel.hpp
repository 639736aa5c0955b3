// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A monitor as it answers on its DDC bus: the EDID at 0x50 and DDC/CI at
// 0x37, written from the DDC/CI and EDID standards (independently of the
// program's own packet code, so the two can disagree). Each behaviour real
// monitors show is a switch, and every transfer is recorded with its time.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

using MonitorClock = std::chrono::steady_clock;

struct MonitorBehaviour {
  std::uint16_t maximum = 100;
  std::uint16_t brightness = 100;
  // How long the monitor takes to prepare a reply after a request; a read
  // sooner gets the null message.
  std::chrono::milliseconds replyPreparation{0};
  // A Set VCP that comes sooner than this after the monitor's last message
  // is acknowledged on the wire but ignored.
  std::chrono::milliseconds setQuietTime{0};
  // Each DDC/CI transfer holds the bus this long before it completes (a slow
  // monitor stretching the clock).
  std::chrono::milliseconds transferTime{0};
  // Switched off in the monitor's menu: the EDID answers, 0x37 NAKs everything.
  bool ddcciEnabled = true;
  // NAKs every other request (the first one included).
  bool answersEveryOtherTry = false;
  // Every Nth reply is corrupted on the wire (0: never): its maximum reads
  // 0xFFFF while its checksum is still that of the true reply.
  int corruptEveryNthReply = 0;
  // In standby for this long after the model is made: every 0x37 transfer NAKs.
  std::chrono::milliseconds standbyAtStart{0};
};

// One message on the bus, as the monitor saw it.
struct MonitorTransfer {
  enum class Kind { write, read };
  MonitorClock::time_point at;   // when the transfer began
  MonitorClock::time_point end;  // when it completed
  int client = 0;                // which open file of the device node (several programs, several files)
  Kind kind = Kind::write;
  std::uint8_t address = 0;  // 7-bit chip address
  std::vector<std::uint8_t> bytes;  // written, or returned by a read
  int error = 0;                    // errno the transfer failed with; 0 on success
  std::string meaning;  // "get 0x10", "set 0x10=43", "reply 0x10 43/100", "null reply", "ignored set 0x10=43", "edid", ...
};

// A Set VCP 0x10 the monitor took.
struct BrightnessWrite {
  MonitorClock::time_point at;
  int value = 0;
};

class MonitorModel {
 public:
  MonitorModel(std::vector<std::uint8_t> edid, MonitorBehaviour behaviour = {});

  // The i2c-dev operations of one message to `address`; 0 or an errno
  // (EREMOTEIO: no device acknowledged). A read fills `out` whole.
  int write(int client, std::uint8_t address, std::span<const std::uint8_t> bytes);
  int read(int client, std::uint8_t address, std::span<std::uint8_t> out);
  // How long a transfer to `address` holds the bus.
  std::chrono::milliseconds transferTime(std::uint8_t address) const;

  // The brightness register (VCP 0x10).
  std::uint16_t brightness() const;
  // Standby from now on for `duration`: every DDC/CI transfer NAKs meanwhile.
  void standbyFor(std::chrono::milliseconds duration);

  std::vector<MonitorTransfer> transfers() const;
  // The Set VCP 0x10 messages the monitor took, in order.
  std::vector<BrightnessWrite> brightnessWrites() const;

  static constexpr std::uint8_t kEdidAddress = 0x50;
  static constexpr std::uint8_t kDDCCIAddress = 0x37;

 private:
  struct Reply {
    std::vector<std::uint8_t> bytes;
    MonitorClock::time_point readyAt;
    std::string meaning;
  };
  int writeDDCCI(std::span<const std::uint8_t> bytes, MonitorTransfer& record);
  int readDDCCI(std::span<std::uint8_t> out, MonitorTransfer& record);
  bool naks(MonitorTransfer& record) const;
  std::uint16_t maximumOf(std::uint8_t code) const;

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> edid_;
  MonitorBehaviour behaviour_;
  std::map<std::uint8_t, std::uint16_t> registers_;  // VCP code -> current value
  std::uint8_t edidOffset_ = 0;
  std::optional<Reply> pending_;
  MonitorClock::time_point standbyUntil_;
  std::optional<MonitorClock::time_point> lastMessageAt_;
  int requests_ = 0;
  int replies_ = 0;
  std::vector<MonitorTransfer> transfers_;
};
