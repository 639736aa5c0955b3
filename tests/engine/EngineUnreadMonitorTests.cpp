// SPDX-License-Identifier: GPL-3.0-or-later
// Monitors whose brightness is hard to read at start: asleep, on a held bus,
// slow to answer, garbled on the wire, silent on DDC/CI, or never replying.
// The idle step must land on the user's own level, and a key bring it back.
#include <functional>
#include <ostream>
#include <string>

#include "EngineTestSupport.hpp"

namespace {
// One monitor its user set to 70 (of 100), the 40 % step after 10 s.
class EngineUnreadMonitor : public EngineTest {
 protected:
  VirtualDisplay& monitor = machine.addExternalMonitor({.id = 1, .brightness = 70});

  void start() {
    makeEngine();
    setSteps({{0, 100}, {10, 40}});
    startEngine();
  }
  std::string status() const { return ControlStatusStore::shared().status(1); }
  // The step lands at 31 (40 % of 5...70) and a key brings back the user's 70.
  void expectStepAndRestore() {
    idleFor(30);
    EXPECT_EQ(monitor.vcpCurrent(), 31);
    EXPECT_EQ(monitor.gammaScale(), 1.0);
    EXPECT_EQ(stepStore->displayMaximumPercent(1), 70);
    pressKeyElsewhere();
    idleFor(3);
    EXPECT_EQ(monitor.vcpCurrent(), 70);
    EXPECT_EQ(status(), "control_hardware");
  }
  // Nothing written to the monitor ever exceeded what its user had set.
  void expectNeverBrighter() {
    for (const auto& write : machine.i2cLog(1, true)) EXPECT_LE(write.bytes[5], 70);
  }
};

// A monitor that cannot be read at start, what the window says meanwhile, and
// what ends it; every case is read in the end and lands on the user's level.
struct LateRead {
  const char* name;
  std::function<void(VirtualDisplay&)> fault;
  const char* statusMeanwhile;  // after 6 s; nullptr: not looked at
  std::function<void(VirtualDisplay&)> clear;
};
// The case's name in the listing of tests, instead of its bytes.
void PrintTo(const LateRead& start, std::ostream* out) { *out << start.name; }

class EngineLateRead : public EngineUnreadMonitor, public ::testing::WithParamInterface<LateRead> {};

TEST_P(EngineLateRead, TheStepLandsOnTheUsersLevelAndAKeyBringsItBack) {
  GetParam().fault(monitor);
  start();
  if (GetParam().statusMeanwhile) {
    idleFor(6);
    EXPECT_EQ(status(), GetParam().statusMeanwhile);
  }
  if (GetParam().clear) GetParam().clear(monitor);
  expectStepAndRestore();
  expectNeverBrighter();
  EXPECT_EQ(stepStore->displayMaximumPercents().at(1), 70);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, EngineLateRead,
    ::testing::Values(
        LateRead{"InStandby",
                 [](VirtualDisplay& m) {
                   m.failWrites();
                   m.faultStatus = I2CStatus::noAnswer;
                 },
                 "control_ddc_silent", [](VirtualDisplay& m) { m.failWrites(0); }},
        LateRead{"OnAHeldBus", [](VirtualDisplay& m) { m.busHeldElsewhere = true; }, "control_reading",
                 [](VirtualDisplay& m) { m.busHeldElsewhere = false; }},
        LateRead{"Needing50msPerReply", [](VirtualDisplay& m) { m.replyDelayMicroseconds = 50'000; }, nullptr, {}},
        LateRead{"Needing150msPerReply", [](VirtualDisplay& m) { m.replyDelayMicroseconds = 150'000; }, nullptr, {}},
        LateRead{"WithGarbledReplies", [](VirtualDisplay& m) { m.corruptReplies(2); }, nullptr, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineUnreadMonitor, DDCCISwitchedOffDimsThroughGammaAndAKeyRestoresItAtOnce) {
  monitor.failWrites();
  monitor.faultStatus = I2CStatus::noAnswer;
  start();
  idleFor(30);
  EXPECT_EQ(monitor.vcpCurrent(), 70);
  // The maximum is unknown: the step is 43 % of the monitor's own level.
  EXPECT_NEAR(monitor.gammaScale(), 0.43, 1e-5);
  EXPECT_EQ(status(), "control_ddc_silent");
  L10n::setPreferredLanguage("ja");
  EXPECT_NE(L10n::text(status()).find("DDC/CI"), std::string::npos);
  L10n::setPreferredLanguage("en");
  EXPECT_NE(L10n::text(status()).find("switched off in the monitor's own menu"), std::string::npos);

  pressKeyElsewhere();
  EXPECT_EQ(monitor.gammaScale(), 1.0);  // on the key's own turn of the loop
  EXPECT_EQ(monitor.acceptedWrites(), 0);
  // Far fewer than one transfer a second while it stays silent.
  EXPECT_LT(machine.i2cLog(1).size(), 15u);

  monitor.failWrites(0);  // switched back on: read, then driven in hardware
  idleFor(40);
  EXPECT_EQ(monitor.vcpCurrent(), 31);
  EXPECT_EQ(monitor.gammaScale(), 1.0);
}

// Once driven, it is not read again when the displays change.
TEST_F(EngineUnreadMonitor, AMonitorThatNeverRepliesIsDrivenFrom100AndTheWindowSaysSo) {
  monitor.overrideReply({0x6E, 0x80, 0xBE});
  start();
  idleFor(30);
  EXPECT_EQ(status(), "control_maximum_assumed");
  EXPECT_EQ(monitor.vcpCurrent(), 43);
  EXPECT_FALSE(stepStore->displayMaximumPercents().contains(1));
  monitor.clearReplyOverride();  // it would answer now, with our own dimmed level
  machine.addExternalMonitor({.id = 2, .brightness = 90});
  displaysChanged(5);
  EXPECT_FALSE(stepStore->displayMaximumPercents().contains(1));
  EXPECT_EQ(stepStore->displayMaximumPercents().at(2), 90);  // the new one is read
  pressKeyElsewhere();
  idleFor(3);
  EXPECT_EQ(monitor.vcpCurrent(), 100);
}
}  // namespace
