// SPDX-License-Identifier: GPL-3.0-or-later
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "EngineTestSupport.hpp"
#include "app/AppModels.hpp"
#include "services/AppLog.hpp"

// The whole program on the simulated machine: the root object, the real
// stores, controller and gamma controller, and the engine they start.
class EngineScenario : public EngineTest {
 protected:
  void launch() {
    models = std::make_unique<AppModels>(ports());
    loop.advance(AppModels::kStartupDelaySeconds + 0.01);
  }
  // The hardware value a logical level gives on a display, from its limits.
  int hardwareValue(DisplayID id, double level) const {
    const double minimum = models->stepStore->displayMinimumPercent(id);
    const double maximum = models->stepStore->displayMaximumPercent(id);
    return static_cast<int>(std::round(minimum + (maximum - minimum) * level / 100));
  }
  std::vector<int> setValues(DisplayID id) const {
    std::vector<int> values;
    for (const auto& transfer : machine.i2cLog(id, true)) values.push_back(transfer.bytes.at(5));
    return values;
  }
  // The file once the store's saves are written.
  nlohmann::json configFile() const {
    models->stepStore->flushSaves();
    std::ifstream file(models->stepStore->configURL());
    return nlohmann::json::parse(file, nullptr, false);
  }
  std::vector<std::string> appLines() { return log->messages(LogCategory::app); }

  ScopedLogRecorder log;
  std::unique_ptr<AppModels> models;
};

TEST_F(EngineScenario, IdleUserIsDimmedStepByStepAndAKeyBringsTheLevelBack) {
  machine.addExternalMonitor({.id = 1, .brightness = 100});
  launch();
  IdleBrightnessEngine& engine = *models->engine;
  auto& monitor = machine.display(1);
  ASSERT_EQ(monitor.vcpCurrent(), 100);
  loop.advance(179.9);
  EXPECT_TRUE(setValues(1).empty());  // resting ticks write nothing

  // 180 s: a 6 s ease-out fade to 70 %, one frame every 1/24 s, never
  // restarted while the target stays the same.
  loop.advance(0.1);
  ASSERT_TRUE(engine.fadeTransition());
  const double fadeStart = engine.fadeTransition()->startedAt;
  std::vector<int> seen;
  for (int frame = 1; frame <= 6.5 * 24; ++frame) {
    loop.advance(1.0 / 24);
    if (engine.fadeTransition()) {
      EXPECT_NEAR(engine.timerInterval().value_or(0), 1.0 / 24, 1e-12);
      EXPECT_EQ(engine.fadeTransition()->startedAt, fadeStart);
    }
    EXPECT_DOUBLE_EQ(engine.masterPresentation.percent.get(), engine.currentBrightnessPercent());
    seen.push_back(monitor.vcpCurrent());
    if (frame == 3 * 24) {
      EXPECT_NEAR(monitor.vcpCurrent(), hardwareValue(1, 73.75), 1);
    }
  }
  EXPECT_DOUBLE_EQ(engine.currentBrightnessPercent(), 70);  // snapped exactly onto the step
  EXPECT_FALSE(engine.fadeTransition());
  EXPECT_EQ(monitor.vcpCurrent(), hardwareValue(1, 70));
  EXPECT_TRUE(std::is_sorted(seen.rbegin(), seen.rend()));  // only ever down
  const auto writes = setValues(1);
  EXPECT_GT(writes.size(), 5u);  // intermediate values reached the monitor
  // Each write a new, lower value: nothing repeated, nothing bounced back up.
  EXPECT_TRUE(std::adjacent_find(writes.begin(), writes.end(), std::less_equal<>()) == writes.end());
  EXPECT_FALSE(engine.timerInterval());  // at rest nothing ticks

  // A key press elsewhere: straight back to the resting level in one write;
  // more input at rest writes nothing.
  machine.clearLogs();
  pressKeyElsewhere();
  EXPECT_DOUBLE_EQ(engine.masterPresentation.percent.get(), 100);
  pressKeyElsewhere();
  EXPECT_FALSE(input.sendLocal(SimInputMonitors::keyDown()));
  EXPECT_EQ(setValues(1), std::vector<int>{100});

  // Idleness counts from the press again.
  loop.advance(179);
  EXPECT_EQ(monitor.vcpCurrent(), 100);
  loop.advance(600 - 179 + 7);
  EXPECT_EQ(monitor.vcpCurrent(), hardwareValue(1, 40));
  loop.advance(600);
  EXPECT_EQ(monitor.vcpCurrent(), hardwareValue(1, 20));
}

TEST_F(EngineScenario, ReconnectedMonitorUnderANewIDGetsItsProfileBack) {
  machine.addExternalMonitor({.id = 1, .brightness = 100, .serial = 77});
  machine.addExternalMonitor({.id = 2, .brightness = 100});
  launch();
  models->stepStore->setDisplayMaximumPercent(60, 1);
  models->engine->applyCurrentBrightness();
  loop.advance(0.2);  // the write waits for the launch's read of the monitor and its bus
  ASSERT_EQ(machine.display(1).vcpCurrent(), 60);

  machine.disconnect(1);
  displaysChanged();
  machine.addExternalMonitor({.id = 9, .brightness = 100, .serial = 77});
  displaysChanged();

  EXPECT_DOUBLE_EQ(models->stepStore->displayMaximumPercent(9), 60);
  EXPECT_TRUE(models->engine->targetDisplayIDs().contains(9));
  EXPECT_EQ(machine.display(9).vcpCurrent(), 60);
}

TEST_F(EngineScenario, FirstLaunchSelectsEveryDisplayAndLogsTheStartupInOrder) {
  machine.addExternalMonitor({.id = 1});
  machine.addExternalMonitor({.id = 2});
  models = std::make_unique<AppModels>(ports());
  EXPECT_FALSE(models->engine->isStarted());
  loop.advance(0.49);
  EXPECT_FALSE(models->engine->isStarted());
  loop.advance(0.02);
  EXPECT_TRUE(models->engine->isStarted());

  const std::vector<std::string> expected{
      "Dimmora init start version=1.0.0 build=202609091000",
      "StepStore created",
      "DisplayStore created",
      "PowerAssertionMonitor created",
      "IdleBrightnessEngine created",
      "Models assigned",
      "Startup task scheduled",
      "Startup task wake after delay",
      "Display refresh finished",
      "Display maximum sync finished",
      "Selected displays initialized",
      "Power monitor started",
      "Engine started",
  };
  std::vector<std::string> startupLines;
  for (const auto& line : appLines())
    if (std::find(expected.begin(), expected.end(), line) != expected.end()) startupLines.push_back(line);
  EXPECT_EQ(startupLines, expected);
  EXPECT_EQ(models->stepStore->selectedDisplayIDs.get(), (std::set<DisplayID>{1, 2}));
  EXPECT_EQ(configFile()["selectedDisplayIDs"], nlohmann::json::parse("[1, 2]"));

  // A later launch keeps the saved selection, even an empty one.
  models->stepStore->selectedDisplayIDs = std::set<DisplayID>{};
  models.reset();
  log->clear();
  launch();
  EXPECT_TRUE(models->stepStore->selectedDisplayIDs.get().empty());
  const auto lines = appLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Selected displays initialized"), 0);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Engine started"), 1);
}

TEST_F(EngineScenario, FirstLaunchDuringAnInteractiveEditHoldsTheSelectionSave) {
  machine.addExternalMonitor({.id = 1});
  models = std::make_unique<AppModels>(ports());
  models->stepStore->beginInteractiveEdit();
  loop.advance(0.6);
  EXPECT_EQ(models->stepStore->selectedDisplayIDs.get(), (std::set<DisplayID>{1}));
  EXPECT_TRUE(configFile()["selectedDisplayIDs"].empty());
  models->stepStore->endInteractiveEdit();
  EXPECT_EQ(configFile()["selectedDisplayIDs"], nlohmann::json::parse("[1]"));
}

TEST_F(EngineScenario, WithoutAnIdleSourceNothingDimsAndTheStateIsSaidOncePerChange) {
  machine.addExternalMonitor({.id = 1, .brightness = 100});
  idle.setFailing(true);  // a desktop that reports no idle time
  launch();
  IdleBrightnessEngine& engine = *models->engine;
  auto& monitor = machine.display(1);
  const std::string off = "The desktop reports no idle time: automatic dimming is off until it does";
  const std::string on = "The desktop reports idle time again: automatic dimming is back on";

  // Nobody touches anything for an hour: the program cannot tell, so it does not dim.
  loop.advance(3600);
  EXPECT_EQ(monitor.vcpCurrent(), 100);
  EXPECT_TRUE(setValues(1).empty());
  EXPECT_FALSE(engine.idleTimeAvailable.get());
  const auto firstLines = appLines();
  EXPECT_EQ(std::count(firstLines.begin(), firstLines.end(), off), 1);
  engine.setMenuVisible(true);
  EXPECT_EQ(engine.idleCounter.seconds.get(), 0);

  // A source that answers: dimming follows its idle time, not the hour that passed.
  idle.setFailing(false);
  idle.setIdleSeconds(170);
  loop.advance(0.25);
  EXPECT_TRUE(engine.idleTimeAvailable.get());
  EXPECT_EQ(monitor.vcpCurrent(), 100);
  loop.advance(10 + 7);
  EXPECT_EQ(monitor.vcpCurrent(), hardwareValue(1, 70));

  // The source stops answering while dimmed: back to the resting level at once, said once.
  idle.setFailing(true);
  loop.advance(0.25);
  EXPECT_EQ(monitor.vcpCurrent(), 100);
  EXPECT_FALSE(engine.fadeTransition());
  loop.advance(600);
  EXPECT_EQ(monitor.vcpCurrent(), 100);
  const auto lines = appLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), off), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), on), 1);

  // A pause still holds the manual level; the missing source only keeps idleness from counting.
  engine.pauseDimming(30);
  engine.setManualBrightness(60);
  loop.advance(1);
  EXPECT_EQ(monitor.vcpCurrent(), hardwareValue(1, 60));
}
