// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.hpp"

// The resting engine wakes only when something can change; the constant tick
// it replaced looked four times a second. Random scripts of input, idleness,
// pauses, restores, settings, media playback, display changes and the window
// drive both, and the displays must get the same levels at the same times,
// within the tick's quarter of a second.
namespace {
using Levels = std::vector<RecordingController::Level>;

// One run of a script on a fresh machine with two monitors.
class ScriptedRun final : public StartedEngine {
public:
  using Script =
      std::vector<std::pair<double, std::function<void(ScriptedRun &)>>>;
  using StartedEngine::displayStore, StartedEngine::engine, StartedEngine::idle,
      StartedEngine::input, StartedEngine::machine,
      StartedEngine::notifications, StartedEngine::powerAssertions,
      StartedEngine::setSteps, StartedEngine::stepStore;

  Levels play(const Script &script, bool constantTick) {
    if (constantTick) {
      engine->useConstantTick();
      engine->restartTimer();
    }
    powerMonitor->start();
    for (const auto &[wait, action] : script) {
      loop.advance(wait);
      action(*this);
    }
    loop.advance(30);
    return controller->levels;
  }
  void TestBody() override {}
};

// A script: what happens, each after a wait. The same seed gives the same
// script.
class ScriptWriter {
public:
  explicit ScriptWriter(std::uint32_t seed) : random_(seed) {}

  ScriptedRun::Script write(int length) {
    ScriptedRun::Script script;
    for (int i = 0; i < length; ++i)
      script.emplace_back(wait(), action());
    return script;
  }

private:
  double uniform(double low, double high) {
    return low + (high - low) * (random_() / 4294967296.0);
  }
  std::uint32_t pick(std::uint32_t count) { return random_() % count; }

  // Mostly long enough for a step to pass, sometimes within a fade.
  double wait() {
    switch (pick(3)) {
    case 0:
      return uniform(0.05, 3);
    case 1:
      return uniform(3, 90);
    default:
      return uniform(90, 700);
    }
  }

  std::function<void(ScriptedRun &)> action() {
    switch (pick(13)) {
    case 0:
    case 1:
      return [](ScriptedRun &t) {
        t.input.sendGlobal(SimInputMonitors::keyDown());
      };
    case 2:
      return [](ScriptedRun &t) { t.idle.registerInput(); };
    case 3: {
      const double minutes = uniform(0.2, 8);
      return [minutes](ScriptedRun &t) { t.engine->pauseDimming(minutes); };
    }
    case 4:
      return [](ScriptedRun &t) { t.engine->resumeAutomaticDimming(); };
    case 5:
      return [](ScriptedRun &t) { t.engine->restoreBrightness(); };
    case 6: {
      std::vector<std::pair<double, double>> steps{{0, uniform(60, 100)}};
      for (std::uint32_t n = pick(3) + 1; n > 0; --n)
        steps.emplace_back(uniform(2, 400), uniform(5, 100));
      return [steps](ScriptedRun &t) { t.setSteps(steps); };
    }
    case 7: {
      const double seconds = std::vector<double>{0, 0.5, 3, 6, 20}[pick(5)];
      return [seconds](ScriptedRun &t) {
        t.stepStore->fadeDurationSeconds = seconds;
      };
    }
    case 8: {
      const double percent = uniform(20, 100);
      return
          [percent](ScriptedRun &t) { t.engine->setManualBrightness(percent); };
    }
    case 9: {
      const bool playing = pick(2) == 0, option = pick(2) == 0;
      return [playing, option](ScriptedRun &t) {
        t.stepStore->pauseDuringMediaPlayback = option;
        t.powerAssertions.setCount("PreventUserIdleDisplaySleep",
                                   playing ? 1 : 0);
      };
    }
    case 10:
      return [](ScriptedRun &t) {
        if (t.displayStore->displays.get().size() > 2)
          t.machine.disconnect(3);
        else if (t.machine.hasDisplay(3))
          t.machine.connect(3);
        else
          t.machine.addExternalMonitor({.id = 3, .brightness = 100});
        t.notifications.screenParametersChanged.emit();
      };
    case 11: {
      const bool visible = pick(2) == 0;
      return [visible](ScriptedRun &t) { t.engine->setMenuVisible(visible); };
    }
    default: {
      const double rate = std::vector<double>{24, 30, 60}[pick(3)];
      return [rate](ScriptedRun &t) {
        t.stepStore->frameRate = rate;
        t.engine->restartTimer();
      };
    }
    }
  }

  std::mt19937 random_;
};

// The levels `levels` handed over during [from, to], the one in force at `from`
// included.
std::pair<double, double> rangeDuring(const Levels &levels, double from,
                                      double to) {
  double low = 1e9, high = -1e9;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const bool inForceAtStart =
        levels[i].time <= from &&
        (i + 1 == levels.size() || levels[i + 1].time > from);
    if (!inForceAtStart && (levels[i].time < from || levels[i].time > to))
      continue;
    low = std::min(low, levels[i].level);
    high = std::max(high, levels[i].level);
  }
  return {low, high};
}

// Every level one run handed over, the other had in force within the tick's
// delay.
int mismatches(const Levels &seen, const Levels &reference,
               std::string &first) {
  constexpr double kWithin = IdleBrightnessEngine::kConstantTickInterval;
  // A fade restarted mid-way starts from where each run's frames had got to;
  // a tenth of a percent is far below what a display can show.
  constexpr double kLevelSlack = 0.1;
  int count = 0;
  for (const auto &[time, level] : seen) {
    const auto [low, high] =
        rangeDuring(reference, time - kWithin, time + kWithin);
    if (level >= low - kLevelSlack && level <= high + kLevelSlack)
      continue;
    if (count++ == 0)
      first = std::to_string(level) + " % at " + std::to_string(time) +
              " s, the other had " + std::to_string(low) + "..." +
              std::to_string(high) + " % then";
  }
  return count;
}
} // namespace

TEST(EngineRestingEquivalence,
     RandomScriptsHandTheSameLevelsAtTheSameTimesAsTheConstantTick) {
  constexpr int kSeeds = 40;
  constexpr int kActions = 40;
  std::size_t levelsCompared = 0;
  for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
    const auto script = ScriptWriter(seed).write(kActions);
    const Levels resting = ScriptedRun().play(script, false);
    const Levels ticking = ScriptedRun().play(script, true);
    std::string first;
    EXPECT_EQ(mismatches(resting, ticking, first), 0)
        << "seed " << seed << ", resting engine: " << first;
    EXPECT_EQ(mismatches(ticking, resting, first), 0)
        << "seed " << seed << ", ticking engine: " << first;
    ASSERT_FALSE(resting.empty());
    EXPECT_NEAR(resting.back().level, ticking.back().level, 0.01)
        << "seed " << seed;
    levelsCompared += resting.size() + ticking.size();
  }
  RecordProperty("levels_compared", static_cast<int>(levelsCompared));
}
