// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "display/DDCBrightness/DDCIO.hpp"
#include "platform/sim/SimulatedMachine.hpp"
#include "platform/sim/SimulatedMachineScope.hpp"
#include "platform/sim/VirtualMainLoop.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& packet) {
  return Bytes(packet.begin(), packet.end());
}

class DDCIOTest : public ::testing::Test {
 protected:
  SystemPorts machinePorts() {
    SystemPorts p = machine.ports();
    p.mainLoop = &loop;
    return p;
  }
  // One read, run to its end on the loop.
  DDCIO::BrightnessReading read(DisplayID id) {
    std::optional<DDCIO::BrightnessReading> reading;
    const auto work = DDCIO::readBrightness(id, [&](const DDCIO::BrightnessReading& r) { reading = r; });
    for (int step = 0; step < 500 && !reading; ++step) loop.advance(0.005);
    EXPECT_TRUE(reading) << "the read never ended";
    return reading.value_or(DDCIO::BrightnessReading{});
  }
  std::optional<double> readPercent(DisplayID id) { return read(id).percent; }
  Bytes lastSetPacket(DisplayID id) {
    const auto writes = machine.i2cLog(id, true);
    return writes.empty() ? Bytes{} : writes.back().bytes;
  }

  VirtualMainLoop loop;
  SimulatedMachine machine{&loop};
  SimulatedMachineScope scope{machinePorts()};
};

// --- packets --------------------------------------------------------------

TEST(DDCIOPackets, SetPacketsCarryValueAndChecksum) {
  EXPECT_EQ(bytes(DDCIO::setVCPFeaturePacket(50)), (Bytes{0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}));
  EXPECT_EQ(bytes(DDCIO::setVCPFeaturePacket(100)), (Bytes{0x84, 0x03, 0x10, 0x00, 0x64, 0xCC}));
  EXPECT_EQ(bytes(DDCIO::setVCPFeaturePacket(1)), (Bytes{0x84, 0x03, 0x10, 0x00, 0x01, 0xA9}));
  // The high byte takes part in the checksum too.
  EXPECT_EQ(bytes(DDCIO::setVCPFeaturePacket(0x1234)), (Bytes{0x84, 0x03, 0x10, 0x12, 0x34, 0x8E}));
  EXPECT_EQ(bytes(DDCIO::getVCPFeatureRequest()), (Bytes{0x82, 0x01, 0x10, 0xAC}));
}

TEST(DDCIOPackets, TheMonitorSideChecksRequestsAndAnswersWhatTheParserReads) {
  const auto set = DDCIO::setVCPFeaturePacket(0x1234);
  EXPECT_TRUE(DDCIO::isIntactHostMessage(set.data(), set.size()));
  const auto get = DDCIO::getVCPFeatureRequest();
  EXPECT_TRUE(DDCIO::isIntactHostMessage(get.data(), get.size()));
  auto damaged = set;
  damaged[3] ^= 0x01;
  EXPECT_FALSE(DDCIO::isIntactHostMessage(damaged.data(), damaged.size()));
  EXPECT_FALSE(DDCIO::isIntactHostMessage(nullptr, 0));

  // Source address first, checksum to the host's 0x50 last.
  EXPECT_EQ(bytes(DDCIO::vcpFeatureReply(100, 37)),
            (Bytes{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x25, 0xE5}));
  const auto reply = DDCIO::vcpFeatureReply(255, 51);
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(reply.data(), reply.size()), (DDCIO::VCPValue{255, 51}));
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(reply.data(), reply.size())->percent(), 20.0);
}

TEST(DDCIOPackets, ReplyValuesAreBigEndianAndACurrentAboveTheMaximumIsReportedAsIs) {
  const auto reply = DDCIO::vcpFeatureReply(356, 534);
  EXPECT_DOUBLE_EQ(DDCIO::parseVCPFeatureReply(reply.data(), reply.size())->percent(), 534.0 / 356.0 * 100.0);
}

// --- external write -------------------------------------------------------

TEST_F(DDCIOTest, WriteSendsSetPacketAndLogsEachStep) {
  auto& monitor = machine.addExternalMonitor({.id = 4, .productName = "Studio 27", .uuid = "ABCD", .serial = 77});

  EXPECT_TRUE(DDCIO::setBrightness(4, 50));

  EXPECT_EQ(monitor.vcpCurrent(), 50);
  const auto transfers = machine.i2cLog(4);
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_TRUE(transfers[0].isWrite);
  EXPECT_EQ(transfers[0].chipAddress, 0x37u);
  EXPECT_EQ(transfers[0].dataAddress, 0x51u);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 4: vendor=19795 model=9985 serial=77 uuid=ABCD ioLocation=" +
                                   monitor.registryPath + " name=Studio 27",
                               "display 4: matched ioLocation in registry",
                               "display 4: found DCPAVServiceProxy location=External",
                               "display 4: writing via IOAVService bytes=6",
                               "display 4: IOAVServiceWriteI2C result=0x0",
                           }));
}

TEST_F(DDCIOTest, IdentityLineShowsAbsentStringsAsNil) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .productName = std::nullopt, .withoutUUID = true});
  monitor.infoDictionary = PropertyDictionary{};  // neither UUID nor location

  EXPECT_FALSE(DDCIO::setBrightness(2, 30));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 2: vendor=19795 model=9985 serial=2 uuid=nil ioLocation=nil name=nil",
                               "display 2: IOAVService not found",
                           }));
  EXPECT_EQ(machine.registryWalks(), 0);
}

TEST_F(DDCIOTest, EachMonitorIsWrittenThroughItsOwnServiceAndTheServiceIsCached) {
  auto& first = machine.addExternalMonitor({.brightness = 10});
  auto& second = machine.addExternalMonitor({.brightness = 20});

  EXPECT_TRUE(DDCIO::setBrightness(second.id(), 70));
  EXPECT_TRUE(DDCIO::setBrightness(first.id(), 40));
  loop.advance(0.05);
  EXPECT_TRUE(DDCIO::setBrightness(second.id(), 71));

  EXPECT_EQ(first.vcpCurrent(), 40);
  EXPECT_EQ(second.vcpCurrent(), 71);
  EXPECT_EQ(machine.registryWalks(), 2);  // one walk per display, then the cache
  EXPECT_TRUE(DDCIO::hasCachedAVService(first.id()));
  EXPECT_TRUE(DDCIO::hasCachedAVService(second.id()));
}

TEST_F(DDCIOTest, AFailedWriteDropsBothCachesAndTheNextWriteRediscovers) {
  auto& monitor = machine.addExternalMonitor({.id = 3});
  ASSERT_TRUE(DDCIO::setBrightness(3, 60));
  const std::string uuid = DDCIO::cachedDisplayInfos().at(3).uuid.value();
  monitor.failWrites(1);
  scope.clearTrace();

  // The bus is not free again until 50 ms after its last message: nothing goes out, nothing waits.
  EXPECT_FALSE(DDCIO::setBrightness(3, 61));
  EXPECT_EQ(DDCIO::lastWriteFailure(3), DDCIO::WriteFailure::busy);
  EXPECT_EQ(machine.i2cLog(3).size(), 1u);
  loop.advance(0.05);
  scope.clearTrace();

  EXPECT_FALSE(DDCIO::setBrightness(3, 61));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 3: vendor=19795 model=9985 serial=3 uuid=" + uuid +
                                   " ioLocation=" + monitor.registryPath + " name=Virtual Monitor",
                               "display 3: writing via IOAVService bytes=6",
                               "display 3: IOAVServiceWriteI2C result=0xe00002bc",
                           }));
  EXPECT_EQ(DDCIO::lastWriteFailure(3), DDCIO::WriteFailure::noAnswer);
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(3));
  EXPECT_FALSE(DDCIO::hasCachedAVService(3));
  EXPECT_EQ(monitor.vcpCurrent(), 60);

  loop.advance(0.05);
  scope.clearTrace();
  const int walks = machine.registryWalks();
  EXPECT_TRUE(DDCIO::setBrightness(3, 62));
  EXPECT_EQ(machine.registryWalks(), walks + 1);
  EXPECT_TRUE(scope.traced("display 3: matched ioLocation in registry"));
  EXPECT_EQ(monitor.vcpCurrent(), 62);
}

TEST_F(DDCIOTest, MissingWriteFunctionCountsAsUnsupported) {
  machine.addExternalMonitor({.id = 1});
  machine.functions.i2cWrite = false;

  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  const auto trace = scope.trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[trace.size() - 2], "IOAVServiceWriteI2C symbol missing");
  EXPECT_EQ(trace.back(), "display 1: IOAVServiceWriteI2C result=0xe00002c7");
  EXPECT_TRUE(machine.i2cLog().empty());
}

TEST_F(DDCIOTest, DisplayVanishingBetweenDiscoveryAndWriteFailsThenHasNoInfo) {
  auto& monitor = machine.addExternalMonitor({.id = 6});
  ASSERT_TRUE(DDCIO::setBrightness(6, 40));
  machine.disconnect(6);
  loop.advance(0.05);

  EXPECT_FALSE(DDCIO::setBrightness(6, 41));
  EXPECT_TRUE(scope.traced("display 6: IOAVServiceWriteI2C result=0xe00002c0"));
  scope.clearTrace();
  EXPECT_FALSE(DDCIO::setBrightness(6, 42));
  EXPECT_EQ(scope.trace(), std::vector<std::string>{"display 6: no display info"});
  EXPECT_EQ(monitor.vcpCurrent(), 40);

  machine.connect(6);
  loop.advance(0.05);
  EXPECT_TRUE(DDCIO::setBrightness(6, 43));
  EXPECT_EQ(monitor.vcpCurrent(), 43);
}

TEST_F(DDCIOTest, ServiceLookupNeedsAnExternalProxyAfterTheDisplaysEntry) {
  auto& monitor = machine.addExternalMonitor({.id = 1});
  monitor.serviceLocation = "Embedded";

  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  EXPECT_TRUE(scope.traced("display 1: found DCPAVServiceProxy location=Embedded"));
  EXPECT_TRUE(scope.traced("display 1: IOAVService not found"));

  // A proxy of another name is not a candidate; one with no usable location reads "nil".
  DDCIO::clearCaches();
  monitor.serviceLocation = "External";
  monitor.serviceEntryName = "AVServiceSomething";
  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  EXPECT_FALSE(DDCIO::hasCachedAVService(1));

  // Without the registry entry the walk never matches.
  monitor.serviceEntryName = "DCPAVServiceProxy";
  monitor.inRegistry = false;
  scope.clearTrace();
  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  EXPECT_FALSE(scope.traced("display 1: matched ioLocation in registry"));
  EXPECT_TRUE(scope.traced("display 1: IOAVService not found"));
  EXPECT_TRUE(machine.i2cLog().empty());
}

TEST_F(DDCIOTest, MonitorWithoutChannelNeverTakesTheNextMonitorsChannel) {
  auto& first = machine.addExternalMonitor({.id = 1, .brightness = 20});
  auto& second = machine.addExternalMonitor({.id = 2, .brightness = 30});
  first.serviceLocation.reset();
  // Cold caches, as right after a display change: the walk must still know display 2.
  ASSERT_TRUE(DDCIO::cachedDisplayInfos().empty());

  EXPECT_FALSE(DDCIO::setBrightness(1, 90));
  EXPECT_TRUE(scope.traced("display 1: reached the registry entry of display 2"));
  EXPECT_TRUE(scope.traced("display 1: IOAVService not found"));
  EXPECT_EQ(second.vcpCurrent(), 30);
  EXPECT_TRUE(DDCIO::setBrightness(2, 35));
  EXPECT_EQ(second.vcpCurrent(), 35);
}

TEST_F(DDCIOTest, MissingCreateFunctionIsLoggedForEachProxyAndFindsNothing) {
  machine.addExternalMonitor({.id = 1});
  machine.functions.avCreate = false;

  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  EXPECT_TRUE(scope.traced("IOAVServiceCreateWithService symbol missing"));
  EXPECT_TRUE(scope.traced("display 1: IOAVService not found"));
}

TEST_F(DDCIOTest, UnknownDisplayHasNoInfoAndCachesAreLeftAlone) {
  machine.addExternalMonitor({.id = 1});
  ASSERT_TRUE(DDCIO::setBrightness(1, 50));

  EXPECT_FALSE(DDCIO::setBrightness(99, 50));
  EXPECT_FALSE(readPercent(99));
  EXPECT_TRUE(scope.traced("display 99: no display info"));
  EXPECT_TRUE(scope.traced("display 99: no display info for read"));
  EXPECT_TRUE(DDCIO::hasCachedAVService(1));
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
  loop.advance(0.001);
  EXPECT_TRUE(done);

  const auto transfers = machine.i2cLog(2);
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x82, 0x01, 0x10, 0xAC}));
  EXPECT_FALSE(transfers[1].isWrite);
  EXPECT_EQ(transfers[1].bytes.size(), 12u);
  EXPECT_NEAR(transfers[1].time - transfers[0].time, 0.04, 1e-9);
  EXPECT_TRUE(scope.traced("display 2: brightness read query attempt 1 result=0x0"));
  EXPECT_TRUE(scope.traced("display 2: brightness read reply attempt 1 result=0x0 bytes=6E 88 02 00 10 00 00 64 00 25 E5 00"));
}

// A reply counts only when every byte the monitor sends checks out.
TEST(DDCIOPackets, RepliesAreCheckedByteForByte) {
  const auto good = DDCIO::vcpFeatureReply(100, 37);
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(good.data(), good.size()), (DDCIO::VCPValue{100, 37}));
  const auto maximum = DDCIO::vcpFeatureReply(0xFFFF, 0xFFFF);
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(maximum.data(), maximum.size()), (DDCIO::VCPValue{0xFFFF, 0xFFFF}));
  // Source, length, opcode, result code, VCP code, and the checksum itself.
  for (const std::size_t position : {0u, 1u, 2u, 3u, 4u, 10u}) {
    auto damaged = good;
    damaged[position] ^= 0x01;
    EXPECT_FALSE(DDCIO::parseVCPFeatureReply(damaged.data(), damaged.size())) << position;
  }
  // A value garbled on the wire leaves the checksum wrong.
  auto garbled = good;
  garbled[6] = 0xFF;
  garbled[7] = 0xFF;
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(garbled.data(), garbled.size()));
  // "Unsupported VCP code" with an otherwise sound frame.
  auto unsupported = DDCIO::vcpFeatureReply(100, 37);
  unsupported[3] = 0x01;
  unsupported[10] ^= 0x01;
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(unsupported.data(), unsupported.size()));
  const auto zero = DDCIO::vcpFeatureReply(0, 37);
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(zero.data(), zero.size()));
  const std::array<std::uint8_t, 3> nullMessage = {0x6E, 0x80, 0xBE};
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(nullMessage.data(), nullMessage.size()));
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(good.data(), 10));
}

TEST_F(DDCIOTest, ABadChecksumIsAskedAgainAndNeverTaken) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 64});
  // Maximum 0xFFFF where the monitor said 100: the checksum no longer fits.
  auto corrupt = DDCIO::vcpFeatureReply(100, 64);
  corrupt[6] = 0xFF;
  corrupt[7] = 0xFF;
  monitor.overrideReply(Bytes(corrupt.begin(), corrupt.end()));
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noReply);
  EXPECT_EQ(machine.i2cLog(2).size(), 10u);  // five requests, five replies
  EXPECT_TRUE(scope.traced("display 2: brightness read parse failed"));
  EXPECT_TRUE(DDCIO::hasCachedAVService(2));  // reads never drop the caches

  monitor.clearReplyOverride();
  monitor.answerGarbage(2);
  EXPECT_EQ(readPercent(2), 64.0);
  EXPECT_TRUE(scope.traced("display 2: brightness read reply attempt 3 result=0x0 bytes=6E 88 02 00 10 00 00 64 00 40 80 00"));
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
    ASSERT_TRUE(DDCIO::setBrightness(2, percent));
    EXPECT_EQ(monitor.vcpCurrent(), value) << percent;
  }
  // A monitor that counts to 65535, or to 2, is never written 0 nor past its maximum.
  auto& fine = machine.addExternalMonitor({.id = 3, .brightness = 0xFFFF, .maximum = 0xFFFF});
  auto& coarse = machine.addExternalMonitor({.id = 4, .brightness = 2, .maximum = 2});
  EXPECT_EQ(readPercent(3), 100.0);
  EXPECT_EQ(readPercent(4), 100.0);
  loop.advance(0.05);
  ASSERT_TRUE(DDCIO::setBrightness(3, 100));
  ASSERT_TRUE(DDCIO::setBrightness(4, 1));
  EXPECT_EQ(fine.vcpCurrent(), 0xFFFF);
  EXPECT_EQ(coarse.vcpCurrent(), 1);
}

TEST_F(DDCIOTest, AnUnacknowledgedRequestEndsTheReadAtOnce) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  monitor.failWrites();
  monitor.faultResult = IOResult::notResponding;
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noAnswer);
  EXPECT_EQ(scope.trace().back(), "display 2: brightness read query attempt 1 result=0xe00002ed");
  monitor.failWrites(0);
  monitor.busHeldElsewhere = true;
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::busy);
  EXPECT_EQ(machine.i2cLog(2).size(), 2u);
}

TEST_F(DDCIOTest, AWriteWaitsWhileAReadHasTheBus) {
  machine.addExternalMonitor({.id = 2, .brightness = 30});
  std::optional<double> percent;
  const auto work = DDCIO::readBrightness(2, [&](const DDCIO::BrightnessReading& r) { percent = r.percent; });
  loop.advance(0.02);  // the request is out, its reply not yet read
  EXPECT_FALSE(DDCIO::setBrightness(2, 80));
  EXPECT_EQ(DDCIO::lastWriteFailure(2), DDCIO::WriteFailure::busy);
  loop.advance(0.03);
  EXPECT_EQ(percent, 30.0);
}

TEST_F(DDCIOTest, MissingReadFunctionRejectsEveryAttempt) {
  machine.addExternalMonitor({.id = 2});
  machine.functions.i2cRead = false;

  EXPECT_FALSE(readPercent(2));
  EXPECT_TRUE(scope.traced("IOAVServiceReadI2C symbol missing"));
  EXPECT_TRUE(scope.traced(
      "display 2: brightness read reply attempt 5 result=0xe00002c7 bytes=00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_TRUE(scope.traced("display 2: brightness read parse failed"));
}

TEST_F(DDCIOTest, ReadWithoutServiceSaysSo) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  monitor.serviceLocation.reset();
  EXPECT_EQ(read(2).failure, DDCIO::ReadFailure::noChannel);
  EXPECT_TRUE(scope.traced("display 2: IOAVService not found for read"));
}

// --- reading until the monitor answers ------------------------------------

class PatientReadTest : public DDCIOTest {
 protected:
  // Starts the read; the percent lands in `result` (an empty optional inside: given up).
  void start(DisplayID id) {
    work = DDCIO::readBrightnessUntilAnswered(id, [this](std::optional<double> percent) { result = percent; });
  }
  std::optional<std::optional<double>> result;
  ScheduledWork work;
};

TEST_F(PatientReadTest, AMonitorInStandbyIsReadOnceItWakes) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 70});
  monitor.failWrites();
  monitor.faultResult = IOResult::notResponding;
  start(2);
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
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 70});
  monitor.busHeldElsewhere = true;
  start(2);
  loop.advance(6);
  EXPECT_FALSE(result);
  monitor.busHeldElsewhere = false;
  loop.advance(1.1);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, 70.0);
}

TEST_F(PatientReadTest, AMonitorThatNeverRepliesIsGivenUpAndItsMaximumAssumed) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 70});
  monitor.overrideReply({0x6E, 0x80, 0xBE});  // takes every request, answers only the null message
  start(2);
  loop.advance(30);
  ASSERT_TRUE(result);
  EXPECT_FALSE(*result);
  EXPECT_TRUE(DDCIO::isMaximumAssumed(2));
  EXPECT_EQ(machine.i2cLog(2).size(), 2u * 5 * DDCIO::kUnrepliedReadsBeforeAssuming);
  EXPECT_TRUE(scope.traced("display 2: takes requests but never replies with its brightness: its maximum is assumed to be 100"));
}

TEST_F(PatientReadTest, AWriteTheMonitorTakesBringsTheNextReadForward) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 70});
  auto& other = machine.addExternalMonitor({.id = 3, .brightness = 40});
  monitor.failReads(5);  // one whole read fails
  start(2);
  loop.advance(0.7);
  ASSERT_FALSE(result);
  ASSERT_TRUE(DDCIO::isReadingBrightness(2));
  // Another display's write does not count.
  ASSERT_TRUE(DDCIO::setBrightness(other.id(), 50));
  loop.advance(0.1);
  EXPECT_FALSE(result);
  ASSERT_TRUE(DDCIO::setBrightness(2, 70));
  loop.advance(0.11);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, 70.0);
}

TEST_F(PatientReadTest, CancellingStopsTheReadAndItsCallback) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  monitor.busHeldElsewhere = true;
  start(2);
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

TEST_F(DDCIOTest, BuiltInWriteUsesDisplayServicesWithLevelCappedAtOne) {
  auto& panel = machine.addBuiltInPanel({.id = 1});

  EXPECT_TRUE(DDCIO::setBrightness(1, 37));
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.37f);
  EXPECT_TRUE(DDCIO::setBrightness(1, 100));
  EXPECT_TRUE(DDCIO::setBrightness(1, 150));
  EXPECT_EQ(panel.panelLevel(), 1.0f);
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: built-in set via DisplayServices brightness=0.37 result=0",
                               "display 1: built-in set via DisplayServices brightness=1.0 result=0",
                               "display 1: built-in set via DisplayServices brightness=1.0 result=0",
                           }));
  EXPECT_TRUE(machine.i2cLog().empty());
}

TEST_F(DDCIOTest, BuiltInSmoothVariantRescuesAFailedSet) {
  auto& panel = machine.addBuiltInPanel({.id = 1});
  panel.setResult = -1;

  EXPECT_TRUE(DDCIO::setBrightness(1, 40));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: built-in set via DisplayServices brightness=0.4 result=-1",
                               "display 1: built-in set via DisplayServicesSmooth brightness=0.4 result=0",
                               "display 1: built-in set via DisplayServices brightness=0.4 result=0",
                           }));
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.4f);

  // Without the smooth variant the failure stands and the caches go.
  machine.functions.setBrightnessSmooth = false;
  scope.clearTrace();
  EXPECT_FALSE(DDCIO::setBrightness(1, 45));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: built-in set via DisplayServices brightness=0.45 result=-1",
                               "display 1: built-in set via DisplayServices brightness=0.45 result=-1",
                           }));
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(1));
}

TEST_F(DDCIOTest, BuiltInFallsBackToTheBrightnessParameter) {
  auto& panel = machine.addBuiltInPanel({.id = 1});
  panel.canChangeBrightness = false;

  EXPECT_TRUE(DDCIO::setBrightness(1, 50));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: DisplayServices canChangeBrightness unavailable or false",
                               "display 1: built-in set via IODisplay brightness=0.5 result=0x0 success",
                           }));
  ASSERT_EQ(machine.panelLog().size(), 1u);
  EXPECT_EQ(machine.panelLog()[0].via, SimulatedMachine::PanelWrite::Via::parameter);

  panel.parameterResult = IOResult::unsupported;
  scope.clearTrace();
  EXPECT_FALSE(DDCIO::setBrightness(1, 60));
  EXPECT_TRUE(scope.traced("display 1: built-in set via IODisplay brightness=0.6 result=0xe00002c7 unsupported function"));

  // A missing set function takes the same fallback.
  panel.canChangeBrightness = true;
  panel.parameterResult = 0;
  machine.functions.setBrightness = false;
  scope.clearTrace();
  EXPECT_TRUE(DDCIO::setBrightness(1, 70));
  EXPECT_EQ(scope.trace().front(), "display 1: DisplayServices setBrightness symbol unavailable");
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.7f);
}

TEST_F(DDCIOTest, BuiltInWithoutRegistryLocationCannotFallBack) {
  auto& panel = machine.addBuiltInPanel({.id = 1});
  panel.infoDictionary = PropertyDictionary{{"kCGDisplayUUID", "U"}};
  machine.functions.canChangeBrightness = false;

  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  EXPECT_TRUE(scope.traced("display 1: built-in service not found"));
  EXPECT_FALSE(readPercent(1));
  EXPECT_TRUE(scope.traced("display 1: DisplayServices canChangeBrightness unavailable or false for read"));
  EXPECT_TRUE(scope.traced("display 1: built-in service not found for read"));
  EXPECT_TRUE(machine.panelLog().empty());
}

TEST_F(DDCIOTest, BuiltInReadPrefersDisplayServicesAndClampsToPercent) {
  auto& panel = machine.addBuiltInPanel({.id = 1, .level = 0.25f});
  EXPECT_EQ(readPercent(1), 25.0);
  EXPECT_TRUE(scope.traced("display 1: built-in get via DisplayServices result=0 value=0.25"));

  panel.setPanelLevel(1.5f);
  EXPECT_EQ(readPercent(1), 100.0);

  panel.getResult = 7;
  EXPECT_FALSE(readPercent(1));

  // Without the get function the parameter answers.
  machine.functions.getBrightness = false;
  panel.setPanelLevel(0.5f);
  scope.clearTrace();
  EXPECT_EQ(readPercent(1), 50.0);
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: DisplayServices getBrightness symbol unavailable",
                               "display 1: built-in get via IODisplay result=0x0 success value=0.5",
                           }));

  panel.parameterResult = IOResult::error;
  EXPECT_FALSE(readPercent(1));
}

}  // namespace
