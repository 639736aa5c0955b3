// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

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
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(reply.data(), reply.size()), 20.0);
}

TEST(DDCIOPackets, ReplyParsingAcceptsOnlyWellFormedBrightnessReplies) {
  const Bytes good = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x25, 0x00, 0x00};
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(good.data(), good.size()), 37.0);
  EXPECT_EQ(DDCIO::parseVCPFeatureReply(good.data(), 11), 37.0);
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(good.data(), 10));

  Bytes wrongOpcode = good;
  wrongOpcode[2] = 0x03;
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(wrongOpcode.data(), wrongOpcode.size()));
  Bytes wrongCode = good;
  wrongCode[4] = 0x12;
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(wrongCode.data(), wrongCode.size()));
  Bytes zeroMaximum = good;
  zeroMaximum[7] = 0x00;
  EXPECT_FALSE(DDCIO::parseVCPFeatureReply(zeroMaximum.data(), zeroMaximum.size()));

  // Big-endian 16-bit fields; a current above the maximum is reported as is.
  Bytes aboveMaximum = good;
  aboveMaximum[6] = 0x01;  // maximum 0x0164 = 356
  aboveMaximum[7] = 0x64;
  aboveMaximum[8] = 0x02;  // current 0x0216 = 534
  aboveMaximum[9] = 0x16;
  EXPECT_DOUBLE_EQ(*DDCIO::parseVCPFeatureReply(aboveMaximum.data(), aboveMaximum.size()), 534.0 / 356.0 * 100.0);
}

// --- external write -------------------------------------------------------

TEST_F(DDCIOTest, WriteSendsSetPacketAfterPauseAndLogsEachStep) {
  auto& monitor = machine.addExternalMonitor({.id = 4, .productName = "Studio 27", .uuid = "ABCD", .serial = 77});

  EXPECT_TRUE(DDCIO::setBrightness(4, 50));

  EXPECT_EQ(monitor.vcpCurrent(), 50);
  const auto transfers = machine.i2cLog(4);
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_TRUE(transfers[0].isWrite);
  EXPECT_EQ(transfers[0].chipAddress, 0x37u);
  EXPECT_EQ(transfers[0].dataAddress, 0x51u);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x84, 0x03, 0x10, 0x00, 0x32, 0x9A}));
  EXPECT_EQ(machine.sleeps(), std::vector<std::uint32_t>{10'000});
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 4: vendor=19795 model=9985 serial=77 uuid=ABCD ioLocation=" +
                                   monitor.registryPath + " name=Studio 27",
                               "display 4: matched ioLocation in registry",
                               "display 4: found DCPAVServiceProxy location=External",
                               "display 4: writing via IOAVService bytes=6",
                               "display 4: attempt 1 IOAVServiceWriteI2C result=0x0",
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
  EXPECT_TRUE(DDCIO::setBrightness(second.id(), 71));

  EXPECT_EQ(first.vcpCurrent(), 40);
  EXPECT_EQ(second.vcpCurrent(), 71);
  EXPECT_EQ(machine.registryWalks(), 2);  // one walk per display, then the cache
  EXPECT_TRUE(DDCIO::hasCachedAVService(first.id()));
  EXPECT_TRUE(DDCIO::hasCachedAVService(second.id()));
}

TEST_F(DDCIOTest, WriteFailingTwiceDropsBothCachesAndTheNextWriteRediscovers) {
  auto& monitor = machine.addExternalMonitor({.id = 3});
  ASSERT_TRUE(DDCIO::setBrightness(3, 60));
  const std::string uuid = DDCIO::cachedDisplayInfos().at(3).uuid.value();
  monitor.failWrites(2);
  scope.clearTrace();

  EXPECT_FALSE(DDCIO::setBrightness(3, 61));
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 3: vendor=19795 model=9985 serial=3 uuid=" + uuid +
                                   " ioLocation=" + monitor.registryPath + " name=Virtual Monitor",
                               "display 3: writing via IOAVService bytes=6",
                               "display 3: attempt 1 IOAVServiceWriteI2C result=0xe00002bc",
                               "display 3: attempt 2 IOAVServiceWriteI2C result=0xe00002bc",
                           }));
  EXPECT_FALSE(DDCIO::cachedDisplayInfos().contains(3));
  EXPECT_FALSE(DDCIO::hasCachedAVService(3));
  EXPECT_EQ(monitor.vcpCurrent(), 60);
  // Each attempt waits for the bus: the monitor ignores what comes within 50 ms of the last message.
  EXPECT_EQ(machine.sleeps(), (std::vector<std::uint32_t>{10'000, 50'000, 50'000}));

  scope.clearTrace();
  const int walks = machine.registryWalks();
  EXPECT_TRUE(DDCIO::setBrightness(3, 62));
  EXPECT_EQ(machine.registryWalks(), walks + 1);
  EXPECT_TRUE(scope.traced("display 3: matched ioLocation in registry"));
  EXPECT_EQ(monitor.vcpCurrent(), 62);
}

TEST_F(DDCIOTest, SecondAttemptCanSucceedAndKeepsTheCaches) {
  auto& monitor = machine.addExternalMonitor({.id = 5});
  monitor.failWrites(1);

  EXPECT_TRUE(DDCIO::setBrightness(5, 80));
  EXPECT_TRUE(scope.traced("display 5: attempt 2 IOAVServiceWriteI2C result=0x0"));
  EXPECT_TRUE(DDCIO::hasCachedAVService(5));
  EXPECT_EQ(monitor.vcpCurrent(), 80);
}

TEST_F(DDCIOTest, MissingWriteFunctionCountsAsUnsupported) {
  machine.addExternalMonitor({.id = 1});
  machine.functions.i2cWrite = false;

  EXPECT_FALSE(DDCIO::setBrightness(1, 50));
  const auto trace = scope.trace();
  ASSERT_GE(trace.size(), 4u);
  EXPECT_EQ(trace[trace.size() - 4], "IOAVServiceWriteI2C symbol missing");
  EXPECT_EQ(trace[trace.size() - 3], "display 1: attempt 1 IOAVServiceWriteI2C result=0xe00002c7");
  EXPECT_EQ(trace.back(), "display 1: attempt 2 IOAVServiceWriteI2C result=0xe00002c7");
  EXPECT_TRUE(machine.i2cLog().empty());
}

TEST_F(DDCIOTest, DisplayVanishingBetweenDiscoveryAndWriteFailsThenHasNoInfo) {
  auto& monitor = machine.addExternalMonitor({.id = 6});
  ASSERT_TRUE(DDCIO::setBrightness(6, 40));
  machine.disconnect(6);

  EXPECT_FALSE(DDCIO::setBrightness(6, 41));
  EXPECT_TRUE(scope.traced("display 6: attempt 2 IOAVServiceWriteI2C result=0xe00002c0"));
  scope.clearTrace();
  EXPECT_FALSE(DDCIO::setBrightness(6, 42));
  EXPECT_EQ(scope.trace(), std::vector<std::string>{"display 6: no display info"});
  EXPECT_EQ(monitor.vcpCurrent(), 40);

  machine.connect(6);
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
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(99));
  EXPECT_TRUE(scope.traced("display 99: no display info"));
  EXPECT_TRUE(scope.traced("display 99: no display info for read"));
  EXPECT_TRUE(DDCIO::hasCachedAVService(1));
}

// --- external read --------------------------------------------------------

TEST_F(DDCIOTest, ReadQueriesWaitsAndParsesTheReply) {
  machine.addExternalMonitor({.id = 2, .brightness = 37});

  EXPECT_EQ(DDCIO::currentBrightnessPercent(2), 37.0);

  const auto transfers = machine.i2cLog(2);
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x82, 0x01, 0x10, 0xAC}));
  EXPECT_FALSE(transfers[1].isWrite);
  EXPECT_EQ(transfers[1].bytes.size(), 12u);
  EXPECT_EQ(machine.sleeps(), std::vector<std::uint32_t>{40'000});
  EXPECT_TRUE(scope.traced("display 2: brightness read query attempt 1 result=0x0"));
  EXPECT_TRUE(scope.traced("display 2: brightness read reply attempt 1 result=0x0 bytes=6E 88 02 00 10 00 00 64 00 25 E5 00"));
}

TEST_F(DDCIOTest, RejectedRepliesAreRetriedUpToFiveTimes) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 64});
  monitor.answerGarbage(2);
  EXPECT_EQ(DDCIO::currentBrightnessPercent(2), 64.0);
  EXPECT_TRUE(scope.traced("display 2: brightness read reply attempt 3 result=0x0 bytes=6E 88 02 00 10 00 00 64 00 40 80 00"));

  scope.clearTrace();
  monitor.setVCPMaximum(0);
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(2));
  const auto trace = scope.trace();
  ASSERT_EQ(trace.size(), 11u);  // five queries, five replies, one verdict
  EXPECT_EQ(trace[8], "display 2: brightness read query attempt 5 result=0x0");
  EXPECT_EQ(trace.back(), "display 2: brightness read parse failed");
  EXPECT_TRUE(DDCIO::hasCachedAVService(2));  // reads never drop the caches
}

TEST_F(DDCIOTest, ShortAndFailedRepliesAreRejected) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  monitor.overrideReply({0x6E, 0x88, 0x02, 0x00});  // cut off before the VCP code
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(2));

  monitor.clearReplyOverride();
  monitor.failReads(4);
  scope.clearTrace();
  EXPECT_EQ(DDCIO::currentBrightnessPercent(2), 50.0);
  EXPECT_TRUE(scope.traced(
      "display 2: brightness read reply attempt 4 result=0xe00002bc bytes=00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(DDCIOTest, ThePauseAfterTheQueryGivesTheMonitorTimeToAnswer) {
  auto& monitor = machine.addExternalMonitor({.id = 2, .brightness = 30});
  monitor.replyDelayMicroseconds = 40'000;
  EXPECT_EQ(DDCIO::currentBrightnessPercent(2), 30.0);

  monitor.replyDelayMicroseconds = 45'000;  // slower than the transport waits
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(2));
}

TEST_F(DDCIOTest, FailedQueryEndsTheReadAtOnce) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  ASSERT_TRUE(DDCIO::currentBrightnessPercent(2));
  loop.advance(1);  // the bus is long free: no wait before the query
  monitor.failWrites();
  scope.clearTrace();
  machine.clearLogs();

  EXPECT_FALSE(DDCIO::currentBrightnessPercent(2));
  EXPECT_EQ(scope.trace(), std::vector<std::string>{"display 2: brightness read query attempt 1 result=0xe00002bc"});
  EXPECT_TRUE(machine.sleeps().empty());
  EXPECT_TRUE(DDCIO::hasCachedAVService(2));
}

TEST_F(DDCIOTest, MissingReadFunctionRejectsEveryAttempt) {
  machine.addExternalMonitor({.id = 2});
  machine.functions.i2cRead = false;

  EXPECT_FALSE(DDCIO::currentBrightnessPercent(2));
  EXPECT_TRUE(scope.traced("IOAVServiceReadI2C symbol missing"));
  EXPECT_TRUE(scope.traced(
      "display 2: brightness read reply attempt 5 result=0xe00002c7 bytes=00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_TRUE(scope.traced("display 2: brightness read parse failed"));
}

TEST_F(DDCIOTest, ReadWithoutServiceSaysSo) {
  auto& monitor = machine.addExternalMonitor({.id = 2});
  monitor.serviceLocation.reset();
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(2));
  EXPECT_TRUE(scope.traced("display 2: IOAVService not found for read"));
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
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(1));
  EXPECT_TRUE(scope.traced("display 1: DisplayServices canChangeBrightness unavailable or false for read"));
  EXPECT_TRUE(scope.traced("display 1: built-in service not found for read"));
  EXPECT_TRUE(machine.panelLog().empty());
}

TEST_F(DDCIOTest, BuiltInReadPrefersDisplayServicesAndClampsToPercent) {
  auto& panel = machine.addBuiltInPanel({.id = 1, .level = 0.25f});
  EXPECT_EQ(DDCIO::currentBrightnessPercent(1), 25.0);
  EXPECT_TRUE(scope.traced("display 1: built-in get via DisplayServices result=0 value=0.25"));

  panel.setPanelLevel(1.5f);
  EXPECT_EQ(DDCIO::currentBrightnessPercent(1), 100.0);

  panel.getResult = 7;
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(1));

  // Without the get function the parameter answers.
  machine.functions.getBrightness = false;
  panel.setPanelLevel(0.5f);
  scope.clearTrace();
  EXPECT_EQ(DDCIO::currentBrightnessPercent(1), 50.0);
  EXPECT_EQ(scope.trace(), (std::vector<std::string>{
                               "display 1: DisplayServices getBrightness symbol unavailable",
                               "display 1: built-in get via IODisplay result=0x0 success value=0.5",
                           }));

  panel.parameterResult = IOResult::error;
  EXPECT_FALSE(DDCIO::currentBrightnessPercent(1));
}

}  // namespace
