// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/ControlTestSupport.hpp"
#include "services/L10n.hpp"

namespace {
class GammaStandInTest : public DrivenControllerTest {
 protected:
  GammaStandInTest() { controller.invalidateDisplayState(); }  // past the launch phase
};

TEST_F(GammaStandInTest, AnUnwritablePanelIsDimmedThroughGammaAndAKeyPutsTheTableBackAtOnce) {
  auto& panel = machine.addBuiltInPanel({.level = 0.6f});
  panel.setStatus = BacklightStatus::noAccess;

  drive(100, {panel.id()}, {.maximum = 60});
  EXPECT_EQ(panel.gammaScale(), 1.0);
  EXPECT_TRUE(controller.gammaStandsIn(panel.id()));

  // The 40 % step over 5...60: 27 %, shown as 27/60 of the original table.
  drive(40, {panel.id()}, {.maximum = 60});
  EXPECT_NEAR(panel.gammaScale(), 27.0 / 60, 1e-6);
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.6f);
  EXPECT_TRUE(scope.traced("display 1: hardware cannot be driven: gamma stands in"));
  // The window says why in the backlight's own words, not the monitors'.
  EXPECT_EQ(status(panel.id()), "control_backlight_permission");
  for (const char* language : {"en", "ja"}) {
    L10n::setPreferredLanguage(language);
    const std::string text = L10n::text("control_backlight_permission");
    EXPECT_NE(text.find("logind"), std::string::npos);
    EXPECT_NE(text.find("video"), std::string::npos);
    EXPECT_EQ(text.find("i2c"), std::string::npos);
  }
  L10n::resetForTesting();

  drive(100, {panel.id()}, {.maximum = 60});
  EXPECT_EQ(panel.gammaScale(), 1.0);

  // Once the panel may be written, the retry takes over and the table goes back.
  drive(40, {panel.id()}, {.maximum = 60});
  panel.setStatus = BacklightStatus::ok;
  loop.advance(60);
  EXPECT_FALSE(controller.gammaStandsIn(panel.id()));
  EXPECT_FLOAT_EQ(panel.panelLevel(), 0.27f);
  EXPECT_EQ(panel.gammaScale(), 1.0);
  EXPECT_EQ(status(panel.id()), "control_hardware");
}

TEST_F(GammaStandInTest, OnlyCausesThatLastStandInAndADisplayChangeTriesTheHardwareAfresh) {
  auto& noChannel = machine.addExternalMonitor();
  noChannel.i2cBus.reset();
  auto& held = machine.addExternalMonitor();
  held.busHeldElsewhere = true;
  auto& silent = machine.addExternalMonitor();
  silent.failWrites();
  silent.faultStatus = I2CStatus::noAnswer;

  drive(50, {noChannel.id(), held.id(), silent.id()});
  EXPECT_TRUE(controller.gammaStandsIn(noChannel.id()));
  EXPECT_NEAR(noChannel.gammaScale(), 0.525, 1e-6);
  EXPECT_FALSE(controller.gammaStandsIn(held.id()));  // its value arrives once the bus is free
  EXPECT_EQ(held.gammaScale(), 1.0);
  EXPECT_FALSE(controller.gammaStandsIn(silent.id()));

  // A display leaving the driven set gets its table back and is forgotten.
  drive(50, {held.id()});
  EXPECT_EQ(noChannel.gammaScale(), 1.0);
  EXPECT_FALSE(controller.gammaStandsIn(noChannel.id()));

  drive(50, {noChannel.id()});
  EXPECT_TRUE(controller.gammaStandsIn(noChannel.id()));
  controller.invalidateDisplayState();
  EXPECT_FALSE(controller.gammaStandsIn(noChannel.id()));
  EXPECT_EQ(noChannel.gammaScale(), 1.0);
  noChannel.i2cBus = 30;
  drive(50, {noChannel.id()});
  EXPECT_EQ(noChannel.vcpCurrent(), 53);
  EXPECT_EQ(noChannel.gammaScale(), 1.0);
}

TEST_F(GammaStandInTest, AChannelThatKnowsItCannotBeDrivenLetsGammaStandInUntilTheRetry) {
  auto& monitor = machine.addExternalMonitor({.brightness = 70});
  controller.standInWithGamma(monitor.id());
  drive(40, {monitor.id()}, {.maximum = 70});
  EXPECT_EQ(monitor.acceptedWrites(), 0);
  EXPECT_NEAR(monitor.gammaScale(), (5 + 0.4 * 65) / 70, 1e-6);
  // The retry's write goes through, which ends the stand-in.
  loop.advance(DDCBrightnessController::kFirstRetrySeconds);
  EXPECT_EQ(monitor.vcpCurrent(), 31);
  EXPECT_EQ(monitor.gammaScale(), 1.0);
  EXPECT_FALSE(controller.gammaStandsIn(monitor.id()));
}
}  // namespace
