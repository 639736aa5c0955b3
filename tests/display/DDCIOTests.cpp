// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "display/ControlTestSupport.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "display/DDCBrightness/DDCPackets.hpp"
#include "platform/sim/SimDesktopBrightness.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& packet) {
  return Bytes(packet.begin(), packet.end());
}

class DDCIOTest : public ControlTest {
 protected:
  // One read, run to its end on the loop.
  DDCIO::BrightnessReading read(DisplayID id) {
    std::optional<DDCIO::BrightnessReading> reading;
    const auto work = DDCIO::readBrightness(id, [&](const DDCIO::BrightnessReading& r) { reading = r; });
    for (int step = 0; step < 500 && !reading; ++step) loop.advance(0.005);
    EXPECT_TRUE(reading) << "the read never ended";
    return reading.value_or(DDCIO::BrightnessReading{});
  }
  std::optional<double> readPercent(DisplayID id) { return read(id).percent; }
};

// The monitor's reply to a Get VCP Feature request for brightness, source address first.
Bytes monitorReply(std::uint16_t maximum, std::uint16_t current) {
  Bytes reply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, static_cast<std::uint8_t>(maximum >> 8),
                 static_cast<std::uint8_t>(maximum), static_cast<std::uint8_t>(current >> 8),
                 static_cast<std::uint8_t>(current)};
  std::uint8_t sum = 0x50;
  for (const auto byte : reply) sum ^= byte;
  reply.push_back(sum);
  return reply;
}

// --- packets --------------------------------------------------------------

TEST(DDCIOPackets, SetPacketsCarryValueAndChecksum) {
  EXPECT_EQ(bytes(DDCPackets::setVCPFeaturePacket(50)), (Bytes{0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}));
  EXPECT_EQ(bytes(DDCPackets::setVCPFeaturePacket(100)), (Bytes{0x51, 0x84, 0x03, 0x10, 0x00, 0x64, 0xCC}));
  EXPECT_EQ(bytes(DDCPackets::setVCPFeaturePacket(1)), (Bytes{0x51, 0x84, 0x03, 0x10, 0x00, 0x01, 0xA9}));
  // The high byte takes part in the checksum too.
  EXPECT_EQ(bytes(DDCPackets::setVCPFeaturePacket(0x1234)), (Bytes{0x51, 0x84, 0x03, 0x10, 0x12, 0x34, 0x8E}));
  EXPECT_EQ(bytes(DDCPackets::getVCPFeatureRequest()), (Bytes{0x51, 0x82, 0x01, 0x10, 0xAC}));
}

// --- external write -------------------------------------------------------

TEST_F(DDCIOTest, WriteSendsSetPacketAndLogsEachStep) {
  auto& monitor = machine.addExternalMonitor({.id = 4, .productName = "Studio 27", .serial = 77});

  EXPECT_TRUE(writeAnswered(loop, 4, 50));

  EXPECT_EQ(monitor.vcpCurrent(), 50);
  const auto transfers = machine.i2cLog(4);
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_TRUE(transfers[0].isWrite);
  EXPECT_EQ(transfers[0].bus, 14);
  EXPECT_EQ(transfers[0].address, 0x37u);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x51, 0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 4: vendor=19795 model=9985 serial=77 key=" +
                                   DDCIO::cachedDisplayInfos().at(4).stableKey.value() +
                                   " connector=HDMI-A-4 name=Studio 27",
                               "display 4: writing Set VCP brightness to i2c-14",
                               "display 4: i2c-14 write result=ok",
                           }));
}

TEST_F(DDCIOTest, ADisplayWithoutABusSaysSoWithAbsentStringsAsNil) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .productName = std::nullopt, .withoutEdid = true});
  monitor.i2cBus.reset();

  EXPECT_FALSE(writeAnswered(loop, 2, 30));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 2: vendor=0 model=0 serial=0 key=nil connector=HDMI-A-2 name=nil",
                               "display 2: no DDC/CI bus",
                           }));
  EXPECT_EQ(DDCIO::lastWriteFailure(2), DDCIO::WriteFailure::noChannel);
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noChannel);
  EXPECT_TRUE(scope.traced("display 2: no DDC/CI bus for read"));
}

TEST_F(DDCIOTest, EachMonitorIsWrittenOnItsOwnBusTheDisplaysAreReadOnceAndAnUnknownOneHasNoInfo) {
  auto& first = machine.addExternalMonitor({.brightness = 10});
  auto& second = machine.addExternalMonitor({.brightness = 20});

  EXPECT_TRUE(writeAnswered(loop, second.id(), 70));
  EXPECT_TRUE(writeAnswered(loop, first.id(), 40));
  loop.advance(0.05);
  EXPECT_TRUE(writeAnswered(loop, second.id(), 71));

  EXPECT_EQ(first.vcpCurrent(), 40);
  EXPECT_EQ(second.vcpCurrent(), 71);
  EXPECT_EQ(machine.displayReads(), 1);  // one look at the displays, then the cache
  EXPECT_EQ(machine.i2cLog(first.id()).at(0).bus, *first.i2cBus);
  EXPECT_EQ(machine.i2cLog(second.id()).at(0).bus, *second.i2cBus);

  // An unknown display has no info, and the caches are left alone.
  EXPECT_FALSE(writeAnswered(loop, 99, 50));
  EXPECT_FALSE(readPercent(99));
  EXPECT_TRUE(scope.traced("display 99: no display info"));
  EXPECT_TRUE(scope.traced("display 99: no display info for read"));
  EXPECT_TRUE(DDCIO::cachedDisplayInfos().contains(first.id()));
}

TEST_F(DDCIOTest, AFailedWriteDropsTheCacheAndTheNextWriteLooksAgain) {
  auto& monitor = machine.addExternalMonitor({.id = 3});
  ASSERT_TRUE(writeAnswered(loop, 3, 60));
  const std::string key = DDCIO::cachedDisplayInfos().at(3).stableKey.value();
  monitor.failWrites(2);  // both attempts of one write
  scope.clearTrace();

  // The bus is not free again until 50 ms after its last message: nothing goes out, nothing waits.
  EXPECT_FALSE(writeAnswered(loop, 3, 61));
  EXPECT_EQ(DDCIO::lastWriteFailure(3), DDCIO::WriteFailure::busy);
  EXPECT_EQ(machine.i2cLog(3).size(), 1u);
  loop.advance(0.05);
  scope.clearTrace();

  EXPECT_FALSE(writeAnswered(loop, 3, 61));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 3: vendor=19795 model=9985 serial=3 key=" + key +
                                   " connector=HDMI-A-3 name=Virtual 27",
                               "display 3: writing Set VCP brightness to i2c-13",
                               "display 3: i2c-13 write result=I/O error",
                               "display 3: writing Set VCP brightness to i2c-13 again",
                               "display 3: i2c-13 write result=I/O error",
                           }));
  EXPECT_EQ(DDCIO::lastWriteFailure(3), DDCIO::WriteFailure::noAnswer);
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(3));
  EXPECT_EQ(monitor.vcpCurrent(), 60);

  // Moved to another bus meanwhile (a reconnect): the fresh look finds it.
  monitor.i2cBus = 7;
  loop.advance(0.05);
  scope.clearTrace();
  const int reads = machine.displayReads();
  EXPECT_TRUE(writeAnswered(loop, 3, 62));
  EXPECT_EQ(machine.displayReads(), reads + 1);
  EXPECT_TRUE(scope.traced("display 3: i2c-7 write result=ok"));
  EXPECT_EQ(monitor.vcpCurrent(), 62);
}

TEST_F(DDCIOTest, DisplayVanishingBetweenDiscoveryAndWriteFailsThenHasNoInfo) {
  auto& monitor = machine.addExternalMonitor({.id = 6});
  ASSERT_TRUE(writeAnswered(loop, 6, 40));
  machine.disconnect(6);
  loop.advance(0.05);

  EXPECT_FALSE(writeAnswered(loop, 6, 41));
  EXPECT_TRUE(scope.traced("display 6: i2c-16 write result=no such device (no such bus)"));
  scope.clearTrace();
  EXPECT_FALSE(writeAnswered(loop, 6, 42));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{"display 6: not connected", "display 6: no display info"}));
  EXPECT_EQ(monitor.vcpCurrent(), 40);

  machine.connect(6);
  loop.advance(0.05);
  EXPECT_TRUE(writeAnswered(loop, 6, 43));
  EXPECT_EQ(monitor.vcpCurrent(), 43);
}

TEST_F(DDCIOTest, OneChannelPerDisplayChosenFromItsFacts) {
  const auto channelOf = [](DisplayID id) { return DDCIO::channelFor(DDCIO::displayInfo(id).value()); };
  auto& monitor = machine.addExternalMonitor({.id = 1});
  auto& owned = machine.addExternalMonitor({.id = 2});
  owned.backlight = "ddcci12";  // the ddcci driver owns its bus
  auto& silent = machine.addExternalMonitor({.id = 3});
  silent.i2cBus.reset();
  auto& panel = machine.addBuiltInPanel({.id = 4});
  auto& dark = machine.addBuiltInPanel({.id = 5});
  dark.backlight.reset();
  dark.i2cBus = 20;  // a panel's AUX channel is never its brightness channel

  EXPECT_EQ(channelOf(monitor.id()), DDCIO::Channel::ddc);
  EXPECT_EQ(channelOf(owned.id()), DDCIO::Channel::monitorBacklight);
  EXPECT_EQ(channelOf(silent.id()), DDCIO::Channel::none);
  EXPECT_EQ(channelOf(panel.id()), DDCIO::Channel::panelBacklight);
  EXPECT_EQ(channelOf(dark.id()), DDCIO::Channel::none);

  // The ddcci driver's device carries the monitor's percent; nothing goes on its bus.
  EXPECT_TRUE(writeAnswered(loop, 2, 35));
  EXPECT_EQ(owned.vcpCurrent(), 35);
  EXPECT_EQ(readPercent(2), 35.0);
  EXPECT_EQ(DDCIO::brightnessMaximum(2), 100);  // the device's own maximum
  EXPECT_TRUE(machine.i2cLog(2).empty());
  owned.setStatus = BacklightStatus::noAccess;
  loop.advance(0.05);
  EXPECT_FALSE(writeAnswered(loop, 2, 36));
  EXPECT_EQ(DDCIO::lastWriteFailure(2), DDCIO::WriteFailure::noAnswer);

  EXPECT_FALSE(writeAnswered(loop, 3, 50));
  EXPECT_EQ(DDCIO::lastWriteFailure(3), DDCIO::WriteFailure::noChannel);
  EXPECT_FALSE(writeAnswered(loop, 5, 50));
  EXPECT_TRUE(scope.traced("display 5: no backlight device"));
  EXPECT_EQ(DDCIO::lastWriteFailure(5), DDCIO::WriteFailure::noChannel);
  EXPECT_TRUE(machine.i2cLog(3).empty());
  EXPECT_TRUE(machine.i2cLog(5).empty());
}

// --- external read --------------------------------------------------------

TEST_F(DDCIOTest, ReadQueriesWaitsOnTheLoopAndParsesTheReply) {
  machine.addExternalMonitor({.id = 2, .brightness = 37});

  bool done = false;
  const auto work = DDCIO::readBrightness(2, [&](const DDCIO::BrightnessReading& r) {
    done = true;
    EXPECT_EQ(r.percent, 37.0);
  });
  EXPECT_FALSE(done);  // nothing waits inside the call
  loop.advance(0.039);
  EXPECT_EQ(machine.i2cLog(2).size(), 1u);  // the request; the reply is not due yet
  EXPECT_FALSE(writeAnswered(loop, 2, 80));   // a write meanwhile waits while the read has the bus
  EXPECT_EQ(DDCIO::lastWriteFailure(2), DDCIO::WriteFailure::busy);
  loop.advance(0.001);
  EXPECT_TRUE(done);

  const auto transfers = machine.i2cLog(2);
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x51, 0x82, 0x01, 0x10, 0xAC}));
  EXPECT_FALSE(transfers[1].isWrite);
  EXPECT_EQ(transfers[1].bytes.size(), 12u);
  EXPECT_NEAR(transfers[1].time - transfers[0].time, 0.04, 1e-9);
  EXPECT_TRUE(scope.traced("display 2: brightness read query attempt 1 result=ok"));
  EXPECT_TRUE(scope.traced("display 2: brightness read reply attempt 1 result=ok bytes=6E 88 02 00 10 00 00 64 00 25 E5 00"));
}

// A reply counts only when every byte the monitor sends checks out.
TEST(DDCIOPackets, RepliesAreBigEndianAndCheckedByteForByte) {
  const auto good = monitorReply(100, 37);
  EXPECT_EQ(good, (Bytes{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x25, 0xE5}));
  // A current above the maximum is reported as it is.
  const auto above = monitorReply(356, 534);
  EXPECT_DOUBLE_EQ(DDCPackets::parseVCPFeatureReply(above.data(), above.size())->percent(), 534.0 / 356.0 * 100.0);
  const auto fifth = monitorReply(255, 51);
  EXPECT_EQ(DDCPackets::parseVCPFeatureReply(fifth.data(), fifth.size()), (DDCPackets::VCPValue{255, 51}));
  EXPECT_EQ(DDCPackets::parseVCPFeatureReply(fifth.data(), fifth.size())->percent(), 20.0);
  EXPECT_EQ(DDCPackets::parseVCPFeatureReply(good.data(), good.size()), (DDCPackets::VCPValue{100, 37}));
  const auto maximum = monitorReply(0xFFFF, 0xFFFF);
  EXPECT_EQ(DDCPackets::parseVCPFeatureReply(maximum.data(), maximum.size()), (DDCPackets::VCPValue{0xFFFF, 0xFFFF}));
  // Source, length, opcode, result code, VCP code, and the checksum itself.
  for (const std::size_t position : {0u, 1u, 2u, 3u, 4u, 10u}) {
    auto damaged = good;
    damaged[position] ^= 0x01;
    EXPECT_FALSE(DDCPackets::parseVCPFeatureReply(damaged.data(), damaged.size())) << position;
  }
  // A value garbled on the wire leaves the checksum wrong.
  auto garbled = good;
  garbled[6] = 0xFF;
  garbled[7] = 0xFF;
  EXPECT_FALSE(DDCPackets::parseVCPFeatureReply(garbled.data(), garbled.size()));
  // "Unsupported VCP code" with an otherwise sound frame.
  auto unsupported = monitorReply(100, 37);
  unsupported[3] = 0x01;
  unsupported[10] ^= 0x01;
  EXPECT_FALSE(DDCPackets::parseVCPFeatureReply(unsupported.data(), unsupported.size()));
  const auto zero = monitorReply(0, 37);
  EXPECT_FALSE(DDCPackets::parseVCPFeatureReply(zero.data(), zero.size()));
  const std::array<std::uint8_t, 3> nullMessage = {0x6E, 0x80, 0xBE};
  EXPECT_FALSE(DDCPackets::parseVCPFeatureReply(nullMessage.data(), nullMessage.size()));
  EXPECT_FALSE(DDCPackets::parseVCPFeatureReply(good.data(), 10));
}

TEST_F(DDCIOTest, ABadChecksumIsAskedAgainAndNeverTaken) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 64});
  // Maximum 0xFFFF where the monitor said 100: the checksum no longer fits.
  auto corrupt = monitorReply(100, 64);
  corrupt[6] = 0xFF;
  corrupt[7] = 0xFF;
  monitor.overrideReply(corrupt);
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noReply);
  EXPECT_EQ(machine.i2cLog(2).size(), 10u);  // five requests, five replies
  EXPECT_TRUE(scope.traced("display 2: brightness read parse failed"));
  EXPECT_TRUE(DDCIO::cachedDisplayInfos().contains(2));  // reads never drop the cache

  monitor.clearReplyOverride();
  monitor.answerGarbage(2);
  EXPECT_EQ(readPercent(2), 64.0);
  EXPECT_TRUE(scope.traced("display 2: brightness read reply attempt 3 result=ok bytes=6E 88 02 00 10 00 00 64 00 40 80 00"));
}

TEST_F(DDCIOTest, ASlowMonitorGetsLongerWaitsAndTheWaitThatWorkedIsKept) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 30});
  monitor.replyDelayMicroseconds = 150'000;
  EXPECT_EQ(readPercent(2), 30.0);
  std::vector<double> waits;
  const auto transfers = machine.i2cLog(2);
  for (std::size_t i = 1; i < transfers.size(); i += 2)
    waits.push_back(std::round((transfers[i].time - transfers[i - 1].time) * 1000));
  EXPECT_EQ(waits, (std::vector<double>{40, 60, 100, 150}));
  // Every request waits out the bus interval after the reply before it.
  for (std::size_t i = 2; i < transfers.size(); i += 2) EXPECT_GE(transfers[i].time - transfers[i - 1].time, 0.05 - 1e-9);

  machine.clearLogs();
  loop.advance(1);
  EXPECT_EQ(readPercent(2), 30.0);
  ASSERT_EQ(machine.i2cLog(2).size(), 2u);  // first time right
  EXPECT_NEAR(machine.i2cLog(2)[1].time - machine.i2cLog(2)[0].time, 0.15, 1e-9);

  monitor.replyDelayMicroseconds = 250'000;  // beyond the longest wait
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noReply);
}

TEST_F(DDCIOTest, WritesCountToTheMaximumTheMonitorReplied) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 255, .maximum = 255});
  ASSERT_FALSE(DDCIO::brightnessMaximum(2));
  EXPECT_EQ(readPercent(2), 100.0);
  EXPECT_EQ(DDCIO::brightnessMaximum(2), 255);
  for (const auto& [percent, value] : std::vector<std::pair<std::uint32_t, int>>{{43, 110}, {100, 255}, {1, 3}}) {
    loop.advance(0.05);
    ASSERT_TRUE(writeAnswered(loop, 2, percent));
    EXPECT_EQ(monitor.vcpCurrent(), value) << percent;
  }
  // A monitor that counts to 65535, or to 2, is never written 0 nor past its maximum.
  auto& fine = machine.addExternalMonitor({.id = 3, .brightness = 0xFFFF, .maximum = 0xFFFF});
  auto& coarse = machine.addExternalMonitor({.id = 4, .brightness = 2, .maximum = 2});
  EXPECT_EQ(readPercent(3), 100.0);
  EXPECT_EQ(readPercent(4), 100.0);
  loop.advance(0.05);
  ASSERT_TRUE(writeAnswered(loop, 3, 100));
  ASSERT_TRUE(writeAnswered(loop, 4, 1));
  EXPECT_EQ(fine.vcpCurrent(), 0xFFFF);
  EXPECT_EQ(coarse.vcpCurrent(), 1);
}

TEST_F(DDCIOTest, AnUnacknowledgedRequestEndsTheReadAtOnceAndFailedRepliesAreAskedForAgain) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  monitor.failWrites();
  monitor.faultStatus = I2CStatus::noAnswer;
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noAnswer);
  EXPECT_EQ(scope.trace().back(), "display 2: brightness read query attempt 1 result=no answer");
  monitor.failWrites(0);
  monitor.busHeldElsewhere = true;
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::busy);
  EXPECT_EQ(machine.i2cLog(2).size(), 2u);

  // Failed replies are asked for again until the attempts run out.
  monitor.busHeldElsewhere = false;
  monitor.faultStatus = I2CStatus::ioError;
  monitor.failReads();
  EXPECT_FALSE(readPercent(2));
  EXPECT_TRUE(scope.traced(
      "display 2: brightness read reply attempt 5 result=I/O error bytes=00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_TRUE(scope.traced("display 2: brightness read parse failed"));
}

// --- reading until the monitor answers ------------------------------------

class PatientReadTest : public DDCIOTest {
 protected:
  // Starts the read; the percent lands in `result` (an empty optional inside: given up).
  void start() {
    work = DDCIO::readBrightnessUntilAnswered(2, [this](std::optional<double> percent) { result = percent; });
  }
  VirtualDisplay& monitor = machine.addExternalMonitor({.id = 2, .brightness = 70});
  std::optional<std::optional<double>> result;
  ScheduledWork work;
};

TEST_F(PatientReadTest, AMonitorInStandbyIsReadOnceItWakes) {
  monitor.failWrites();
  monitor.faultStatus = I2CStatus::noAnswer;
  start();
  loop.advance(8);
  EXPECT_TRUE(DDCIO::isReadingBrightness(2));
  EXPECT_EQ(DDCIO::lastReadFailure(2), DDCIO::ReadFailure::noAnswer);
  const auto asked = machine.i2cLog(2).size();
  EXPECT_LE(asked, 6u);  // backing off, never a burst
  monitor.failWrites(0);
  loop.advance(5);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, 70.0);
  EXPECT_FALSE(DDCIO::isReadingBrightness(2));
  EXPECT_FALSE(DDCIO::isMaximumAssumed(2));
}

TEST_F(PatientReadTest, AHeldBusIsTriedAgainSoonAfterItFrees) {
  monitor.busHeldElsewhere = true;
  start();
  loop.advance(6);
  EXPECT_FALSE(result);
  monitor.busHeldElsewhere = false;
  loop.advance(1.1);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, 70.0);
}

TEST_F(PatientReadTest, AMonitorThatNeverRepliesIsGivenUpAndItsMaximumAssumed) {
  monitor.overrideReply({0x6E, 0x80, 0xBE});  // takes every request, answers only the null message
  start();
  loop.advance(30);
  ASSERT_TRUE(result);
  EXPECT_FALSE(*result);
  EXPECT_TRUE(DDCIO::isMaximumAssumed(2));
  EXPECT_EQ(machine.i2cLog(2).size(), 2u * 5 * DDCIO::kUnrepliedReadsBeforeAssuming);
  EXPECT_TRUE(scope.traced("display 2: takes requests but never replies with its brightness: its maximum is assumed to be 100"));
}

TEST_F(PatientReadTest, AWriteTheMonitorTakesBringsTheNextReadForward) {
  auto& other = machine.addExternalMonitor({.id = 3, .brightness = 40});
  monitor.failReads(5);  // one whole read fails
  start();
  loop.advance(0.7);
  ASSERT_FALSE(result);
  ASSERT_TRUE(DDCIO::isReadingBrightness(2));
  // Another display's write does not count.
  ASSERT_TRUE(writeAnswered(loop, other.id(), 50));
  loop.advance(0.1);
  EXPECT_FALSE(result);
  ASSERT_TRUE(writeAnswered(loop, 2, 70));
  loop.advance(0.11);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, 70.0);
}

TEST_F(PatientReadTest, CancellingStopsTheReadAndItsCallback) {
  monitor.busHeldElsewhere = true;
  start();
  loop.advance(0.2);
  work.cancel();
  EXPECT_FALSE(DDCIO::isReadingBrightness(2));
  monitor.busHeldElsewhere = false;
  const auto asked = machine.i2cLog(2).size();
  loop.advance(5);
  EXPECT_FALSE(result);
  EXPECT_EQ(machine.i2cLog(2).size(), asked);
}

// --- built-in panel -------------------------------------------------------

TEST_F(DDCIOTest, APanelIsWrittenAndReadThroughItsBacklightCappedAtFull) {
  auto& panel = machine.addBuiltInPanel({.id = 1});

  EXPECT_TRUE(writeAnswered(loop, 1, 37));
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.37f);
  EXPECT_TRUE(writeAnswered(loop, 1, 100));
  EXPECT_TRUE(writeAnswered(loop, 1, 150));
  EXPECT_EQ(panel.panelLevel(), 1.0f);
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: panel set via backlight panel1 brightness=0.37 result=ok",
                               "display 1: panel set via backlight panel1 brightness=1.0 result=ok",
                               "display 1: panel set via backlight panel1 brightness=1.0 result=ok",
                           }));
  EXPECT_TRUE(machine.i2cLog().empty());

  // A read is clamped to a percent.
  panel.setPanelLevel(0.25f);
  EXPECT_EQ(readPercent(1), 25.0);
  EXPECT_TRUE(scope.traced("display 1: get via backlight panel1 value=0.25"));
  EXPECT_EQ(DDCIO::currentBrightnessPercent(1), 25.0);
  panel.setPanelLevel(1.5f);
  EXPECT_EQ(readPercent(1), 100.0);
  panel.levelReadable = false;
  EXPECT_FALSE(readPercent(1));
  EXPECT_TRUE(scope.traced("display 1: get via backlight panel1 value=none"));
}

TEST_F(DDCIOTest, ARefusedBacklightSaysWhyAndDropsTheCacheAndAMissingFacilityLeavesNoChannel) {
  auto& panel = machine.addBuiltInPanel({.id = 1});
  panel.setStatus = BacklightStatus::noAccess;

  EXPECT_FALSE(writeAnswered(loop, 1, 40));
  EXPECT_EQ(scope.trace(), std::vector<std::string>{"display 1: panel set via backlight panel1 brightness=0.4 result=no access"});
  EXPECT_EQ(DDCIO::lastWriteFailure(1), DDCIO::WriteFailure::backlightNotPermitted);
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(1));
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.5f);

  panel.setStatus = BacklightStatus::failed;
  EXPECT_FALSE(writeAnswered(loop, 1, 45));
  EXPECT_EQ(DDCIO::lastWriteFailure(1), DDCIO::WriteFailure::noAnswer);
  ASSERT_EQ(machine.panelLog().size(), 2u);
  EXPECT_EQ(machine.panelLog()[1].status, BacklightStatus::failed);

  // Without a backlight facility a panel has no channel; without an I2C one no monitor answers.
  machine.addExternalMonitor({.id = 2});
  DDCIO::usePorts({.mainLoop = &loop, .displays = &machine.displays()});
  EXPECT_FALSE(writeAnswered(loop, 1, 50));
  EXPECT_EQ(DDCIO::lastWriteFailure(1), DDCIO::WriteFailure::noChannel);
  EXPECT_FALSE(readPercent(1));
  EXPECT_FALSE(writeAnswered(loop, 2, 50));
  EXPECT_EQ(scope.trace().back(), "display 2: i2c-12 write result=no such device (no I2C facility)");
  EXPECT_EQ(DDCIO::lastWriteFailure(2), DDCIO::WriteFailure::noAnswer);
  EXPECT_TRUE(machine.i2cLog().empty());
}

// --- the desktop's brightness service ----------------------------------------

// Which of our displays the service's displays are paired with: only where
// no other display could be meant.
struct Pairing {
  const char* name;
  std::vector<std::optional<std::string>> monitors;  // their EDID names, displays 1, 2, ...
  int panels;                                        // displays 11, 12, ...
  std::vector<DesktopBrightness::Display> offered;
  std::map<DisplayID, std::string> paired;
};
void PrintTo(const Pairing& pairing, std::ostream* out) { *out << pairing.name; }

class DesktopServicePairing : public DDCIOTest, public ::testing::WithParamInterface<Pairing> {};

TEST_P(DesktopServicePairing, PairsOnlyWhatCannotBeAnotherDisplay) {
  for (std::size_t i = 0; i < GetParam().monitors.size(); ++i)
    machine.addExternalMonitor({.id = static_cast<DisplayID>(i + 1), .productName = GetParam().monitors[i]});
  for (int i = 0; i < GetParam().panels; ++i) machine.addBuiltInPanel({.id = static_cast<DisplayID>(11 + i)});
  SimDesktopBrightness service(loop);
  service.offered = GetParam().offered;
  DDCIO::usePorts({.mainLoop = &loop, .displays = &machine.displays(), .i2c = &machine.i2cBuses(),
                   .backlights = &machine.backlights(), .desktopBrightness = &service});
  std::map<DisplayID, std::string> paired;
  for (const auto& info : DDCIO::onlineDisplayInfos()) {
    EXPECT_EQ(DDCIO::channelFor(info) == DDCIO::Channel::desktopService, info.desktopBrightness.has_value());
    if (info.desktopBrightness) paired[info.displayID] = *info.desktopBrightness;
  }
  EXPECT_EQ(paired, GetParam().paired);
}

using Offered = DesktopBrightness::Display;
INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopServicePairing,
    ::testing::Values(
        Pairing{"AMonitorByItsEdidName", {"Studio 27", "Office 24"}, 1,
                {{"display0", "Office 24", false, 100, 50}}, {{2, "display0"}}},
        Pairing{"ThePanelWithTheOneInternalDisplay", {"Studio 27"}, 1,
                {{"display0", "Built-in Screen", true, 19393, 900}, {"display1", "Studio 27", false, 100, 50}},
                {{1, "display1"}, {11, "display0"}}},
        Pairing{"IdenticalMonitorsNot", {"Studio 27", "Studio 27"}, 0, {{"display0", "Studio 27", false, 100, 50}}, {}},
        Pairing{"TwoOfferedOfOneNameNot", {"Studio 27"}, 0,
                {{"display0", "Studio 27", false, 100, 50}, {"display1", "Studio 27", false, 100, 50}}, {}},
        Pairing{"TwoPanelsNot", {}, 2, {{"display0", "Built-in Screen", true, 100, 50}}, {}},
        Pairing{"AnExternalDisplayNeverWithAPanel", {}, 1, {{"display0", "Built-in Panel", false, 100, 50}}, {}},
        Pairing{"NoNameOrNoRangeNot", {std::nullopt, "Studio 27"}, 0,
                {{"display0", "", false, 100, 50}, {"display1", "Studio 27", false, 0, 0}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DDCIOTest, ADisplayTheServiceDrivesIsSetAndReadThroughItAndNeverOnItsBus) {
  machine.addExternalMonitor({.id = 1, .productName = "Studio 27"});
  SimDesktopBrightness service(loop);
  service.offered = {{"display0", "Studio 27", false, 400, 300}};
  DDCIO::usePorts({.mainLoop = &loop, .displays = &machine.displays(), .i2c = &machine.i2cBuses(),
                   .desktopBrightness = &service});
  EXPECT_TRUE(DDCIO::followsOwnLevel(DDCIO::displayInfo(1).value()));
  EXPECT_EQ(DDCIO::brightnessSteps(1), 400u);
  EXPECT_EQ(readPercent(1), 75.0);
  EXPECT_EQ(DDCIO::currentBrightnessPercent(1), 75.0);
  EXPECT_TRUE(writeAnswered(loop, 1, 120, 400));
  EXPECT_TRUE(writeAnswered(loop, 1, 50));  // a percent is scaled to the service's range
  EXPECT_EQ(service.requests, (std::vector<std::pair<std::string, std::uint32_t>>{{"display0", 120}, {"display0", 200}}));
  EXPECT_EQ(DDCIO::currentBrightnessPercent(1), 50.0);
  EXPECT_TRUE(machine.i2cLog(1).empty());

  service.answer = DesktopBrightness::SetStatus::failed;
  EXPECT_FALSE(writeAnswered(loop, 1, 60));
  EXPECT_EQ(DDCIO::lastWriteFailure(1), DDCIO::WriteFailure::noAnswer);
  service.answer = DesktopBrightness::SetStatus::noDisplay;
  EXPECT_FALSE(writeAnswered(loop, 1, 60));
  EXPECT_EQ(DDCIO::lastWriteFailure(1), DDCIO::WriteFailure::noChannel);
  EXPECT_TRUE(machine.i2cLog(1).empty());
  // Once the service no longer offers it, the displays looked at again, it is ours.
  service.offered.clear();
  DDCIO::clearCaches();
  EXPECT_EQ(DDCIO::channelFor(DDCIO::displayInfo(1).value()), DDCIO::Channel::ddc);
}

}  // namespace
