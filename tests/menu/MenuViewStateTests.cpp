// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>

#include "menu/MenuLabels.hpp"
#include "MenuTestSupport.hpp"

namespace {

using namespace std::chrono_literals;

class MenuViewStateTest : public MenuTest {
 protected:
  void fixRange(DisplayID id, double percent) {
    stepStore->setDisplayMinimumPercent(percent, id);
    stepStore->setDisplayMaximumPercent(percent, id);
  }
};

TEST_F(MenuViewStateTest, SavedTransparencySectionsMasterControlAndLaunchSwitchWhenTheWindowAppears) {
  makeMenu();
  std::vector<double> published;
  auto subscription = menu->glassAppearance().changes.connect([&](const double& v) { published.push_back(v); });
  defaults.values[MenuViewState::glassTransparencyKey] = "150";
  menu->appear();
  EXPECT_EQ(menu->glassAppearance().percent(), 100);
  defaults.values[MenuViewState::glassTransparencyKey] = "not a number";
  menu->appear();
  EXPECT_EQ(menu->glassAppearance().percent(), 35);
  menu->appear();  // unchanged: nothing published
  EXPECT_EQ(published, (std::vector<double>{100, 35}));
  EXPECT_TRUE(menu->anchor().windowChanged({0, 0, 310, 400}, {0, 0, 1280, 900})) << "a shown window keeps its corner";

  EXPECT_FALSE(menu->isStepsOpen());
  menu->setStepsOpen(true);
  menu->setDisplaysOpen(true);
  EXPECT_EQ(defaults.values["menu.stepsExpanded"], "true");
  EXPECT_EQ(defaults.values["menu.masterExpanded"], "true") << "the displays section's key";
  EXPECT_FALSE(menu->isAdvancedSettingsOpen());

  // No display: an enabled master control and an empty section.
  EXPECT_EQ(menu->displayCount(), 0u);
  EXPECT_TRUE(menu->masterControlEnabled());
  EXPECT_EQ(menu->masterControlTooltip(), L10n::text("manual_range_hint"));
  // The launch switch follows the entry when the program becomes active.
  EXPECT_FALSE(menu->loginLaunch().enabled.get());
  autostart.enabled = true;  // switched on in the desktop's own settings
  menu->applicationBecameActive();
  EXPECT_TRUE(menu->loginLaunch().enabled.get());
}

TEST_F(MenuViewStateTest, AppearingAndDisappearingTellTheEngineAndReadTheScreen) {
  screens.available = Rect{0, 0, 1280, 700};
  makeMenu();
  screens.available = std::nullopt;
  menu->appear();
  EXPECT_TRUE(menu->menuVisible());
  EXPECT_TRUE(engine->menuIsVisible());
  EXPECT_EQ(menu->heights().screenHeight(), 760) << "no screen";
  screens.available = Rect{0, 0, 1280, 900};
  notifications.screenParametersChanged.emit();
  EXPECT_EQ(menu->heights().screenHeight(), 900);
  menu->maintenance().requestResetConfirmation();
  menu->disappear();
  EXPECT_FALSE(engine->menuIsVisible());
  EXPECT_FALSE(menu->maintenance().card()) << "cards do not survive closing the window";
}

TEST_F(MenuViewStateTest, MasterControlIsDisabledOnlyWhenEveryTargetHasAFixedRange) {
  twoMonitors();
  makeMenu();
  const std::string left = displayStore->displays.get()[0].name;
  const std::string right = displayStore->displays.get()[1].name;
  fixRange(1, 30);
  EXPECT_TRUE(menu->masterControlEnabled()) << "one of two fixed";
  const auto fixedText = [](const std::string& name, const std::string& percent) {
    return L10n::text("fixed_brightness_range", {{"name", name}, {"percent", percent}});
  };
  EXPECT_EQ(menu->masterControlTooltip(), fixedText(left, "30"));
  fixRange(2, 42.7);
  EXPECT_FALSE(menu->masterControlEnabled());
  EXPECT_EQ(menu->masterControlTooltip(), fixedText(left, "30") + "\n" + fixedText(right, "42"));
  menu->setDisplaySelected(2, false);
  EXPECT_FALSE(menu->masterControlEnabled()) << "the one remaining target is fixed";
}

TEST_F(MenuViewStateTest, PauseMenuPausesForTheChosenTimeAndListsResumeOnlyWhilePaused) {
  setenv("TZ", "UTC", 1);
  tzset();
  makeMenu();
  EXPECT_FALSE(menu->pauseMenuShowsResume());
  EXPECT_EQ(menu->pauseButtonLabel(), L10n::text("select_pause_duration"));
  EXPECT_EQ(menu->pauseDurationLabels().size(), 4u);
  EXPECT_EQ(menu->pauseDurationLabels()[3], L10n::text("pause_minutes", {{"minutes", "60"}}));
  EXPECT_FALSE(menu->resumeAtText());
  menu->choosePauseDuration(1);
  ASSERT_TRUE(engine->pauseUntil.get());
  EXPECT_EQ(*engine->pauseUntil.get() - loop.now(), std::chrono::seconds(900));
  EXPECT_TRUE(menu->pauseMenuShowsResume());
  EXPECT_EQ(menu->pauseButtonLabel(), L10n::text("paused_dimming"));
  // The loop starts at 1,800,000,000 s: 08:00 UTC; fifteen minutes later.
  EXPECT_EQ(menu->resumeAtText(), L10n::text("resume_at", {{"time", "08:15"}}));
  menu->resumeDimming();
  EXPECT_FALSE(menu->pauseMenuShowsResume());
  EXPECT_NE(menu->creditLine().find("2027"), std::string::npos) << "the loop's clock gives the year";
  menu->choosePauseDuration(4);  // no such entry
  EXPECT_FALSE(engine->pauseUntil.get());
}

TEST_F(MenuViewStateTest, SecondStepPreviewKeepsOneEditAndEndingSavesOnce) {
  twoMonitors();
  makeMenu();
  const Uuid first = stepStore->steps()[1].id;
  const Uuid second = stepStore->steps()[2].id;
  menu->beginStepBrightnessPreview(first, 70);
  menu->beginStepBrightnessPreview(first, 70);
  menu->beginStepBrightnessPreview(second, 40);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 1);
  EXPECT_EQ(engine->previewBrightnessPercent(), 40);
  auto steps = stepStore->steps();
  steps[2].brightnessPercent = 35;
  stepStore->setSteps(steps);
  const auto before = saves();
  menu->endStepBrightnessPreview(first);  // not the previewed step: nothing ends
  EXPECT_EQ(stepStore->interactiveEditDepth(), 1);
  menu->endStepBrightnessPreview(second);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_EQ(saves(), before + 1);
  menu->endStepBrightnessPreviewIfNeeded();
  EXPECT_EQ(saves(), before + 1);
  EXPECT_FALSE(engine->previewBrightnessPercent());
}

TEST_F(MenuViewStateTest, DisplaySwitchesSaveOnceAndReapply) {
  twoMonitors();
  makeMenu();
  const auto before = saves();
  const auto i2c = machine.i2cLog(2, true).size();
  engine->setManualBrightness(50);
  loop.advance(0.1);  // the write waits for the monitor's bus, just used by the launch
  const auto afterManual = saves();
  EXPECT_GT(machine.i2cLog(2, true).size(), i2c);
  menu->setDisplaySelected(2, false);
  EXPECT_FALSE(menu->isDisplaySelected(2));
  EXPECT_EQ(saves(), afterManual + 1);
  EXPECT_GE(afterManual, before);
  menu->setDisplayUsesFullGammaMode(1, true);
  EXPECT_TRUE(menu->displayUsesFullGammaMode(1));
  EXPECT_EQ(saves(), afterManual + 2);
  EXPECT_EQ(menu->displayControlStatusText(1), L10n::text("control_gamma"));
  EXPECT_EQ(menu->displayControlStatusText(9), L10n::text("control_unchecked"));
}

TEST_F(MenuViewStateTest, FirstStepIsFixedAndOtherStepsEditSortAndRemove) {
  machine.addExternalMonitor({.id = 1, .brightness = 100});
  makeMenu();
  const Uuid first = stepStore->steps()[0].id;
  const Uuid second = stepStore->steps()[1].id;
  EXPECT_FALSE(menu->isStepEditable(first));
  EXPECT_FALSE(menu->canRemoveStep(first));
  menu->setStepIdleSeconds(first, 99);
  menu->removeStep(first);
  EXPECT_EQ(stepStore->steps()[0].idleSeconds, 0);
  EXPECT_EQ(stepStore->steps().size(), 4u);

  menu->setStepIdleSeconds(second, 5000);
  EXPECT_EQ(stepStore->steps()[1].id, second) << "typing does not re-sort";
  menu->submitStepIdleSeconds();
  EXPECT_EQ(stepStore->steps().back().id, second);

  // Steps now at 0, 600 (40%), 1200 and 5000 s. Idle long enough that the
  // 40% step applies, then remove it: the level follows at once.
  loop.advance(700);
  const Uuid fortyPercent = stepStore->steps()[1].id;
  ASSERT_EQ(stepStore->steps()[1].brightnessPercent, 40);
  ASSERT_NEAR(engine->targetBrightnessPercent(), 40, 0.001);
  menu->removeStep(fortyPercent);
  EXPECT_EQ(stepStore->steps().size(), 3u);
  EXPECT_NEAR(engine->targetBrightnessPercent(), 100, 0.001);
  menu->addStep();
  EXPECT_EQ(stepStore->steps().size(), 4u);
}

TEST_F(MenuViewStateTest, PickersShowCurrentValuesAndChangeTheStore) {
  makeMenu();
  auto fade = menu->fadeDurationPicker();
  EXPECT_EQ(fade.faceLabel, L10n::text("seconds_value", {{"seconds", "6"}}));
  EXPECT_EQ(fade.labels[1], L10n::text("seconds_value", {{"seconds", "0.5"}}));
  EXPECT_EQ(fade.selectedIndex, 6u);
  fade.choose(1);
  EXPECT_EQ(stepStore->fadeDurationSeconds.get(), 0.5);
  stepStore->fadeDurationSeconds = 4.0;  // from a hand-edited file: not an option
  fade = menu->fadeDurationPicker();
  EXPECT_EQ(fade.faceLabel, L10n::text("seconds_value", {{"seconds", "4"}}));
  EXPECT_FALSE(fade.selectedIndex);

  auto rate = menu->frameRatePicker();
  EXPECT_EQ(rate.labels, (std::vector<std::string>{"24", "30", "60"}));
  rate.choose(2);
  EXPECT_EQ(stepStore->frameRate.get(), 60);
  EXPECT_TRUE(engine->isStarted()) << "the timer starts again, at the new rate";

  auto safety = menu->safetyMinimumPicker();
  EXPECT_EQ(safety.labels.front(), "1%");
  EXPECT_EQ(safety.labels.back(), "50%");
  safety.choose(4);
  EXPECT_EQ(stepStore->safetyMinimumPercent.get(), 20);

  auto language = menu->languagePicker();
  EXPECT_EQ(language.labels, (std::vector<std::string>{"System", "English", "日本語"}));
  language.choose(2);
  EXPECT_EQ(menu->pauseButtonLabel(), L10n::text("select_pause_duration"));
  EXPECT_EQ(L10n::resolvedLanguageCode(), "ja");

  auto increase = menu->increaseMaxShortcutPicker();
  EXPECT_EQ(increase.faceLabel, hotKeyModifierLabel("f2") + "F2") << "the modifiers the binding registers";
  EXPECT_EQ(increase.labels[0], hotKeyModifierLabel("brightness_up") + L10n::text("brightness_up_label"));
  increase.choose(0);
  EXPECT_EQ(stepStore->increaseMaxShortcutKey.get(), "brightness_up");
  auto curve = menu->fadeCurvePicker();
  curve.choose(3);
  EXPECT_EQ(stepStore->fadeCurve.get(), FadeCurve::linear);
}

TEST_F(MenuViewStateTest, WithoutTheDesktopsServicesEveryActionTakesItsFallback) {
  makeMenu();
  MenuViewState bare(stepStore, displayStore, engine, {.mainLoop = loop}, {.systemRoot = systemRoot.path()});
  bare.setStepsOpen(true);  // kept until exit
  EXPECT_TRUE(bare.isStepsOpen());
  EXPECT_FALSE(defaults.boolValue(MenuViewState::stepsExpandedKey).has_value());
  EXPECT_EQ(bare.savedGlassTransparency(), GlassAppearance::defaultPercent);
  EXPECT_EQ(bare.heights().screenHeight(), MenuHeights::screenHeightWithoutScreen);
  bare.setLaunchAtLogin(true);
  EXPECT_EQ(bare.loginLaunch().error.get(), std::string(LoginLaunchController::unavailableText));
  MaintenanceActions& actions = bare.maintenance();
  EXPECT_FALSE(actions.copyBuildNumber());
  EXPECT_FALSE(actions.showConfiguration());
  EXPECT_TRUE(actions.card() && actions.card()->reportsFailure());
  actions.quit();  // nothing to ask
}

TEST(MenuLabels, ValuesBecomeTheWindowsTexts) {
  L10n::resetForTesting();
  L10n::setPreferredLanguage("en");
  EXPECT_EQ(MenuLabels::shortcutDisplayName("brightness_up"), L10n::text("brightness_up_label"));
  EXPECT_EQ(MenuLabels::shortcutDisplayName("f1"), "F1");
  EXPECT_EQ(MenuLabels::shortcutDisplayName("F1"), "F1");
  EXPECT_EQ(MenuLabels::shortcutDisplayName("q"), "q");
  EXPECT_EQ(MenuLabels::fadeDurationLabel(3), L10n::text("seconds_value", {{"seconds", "3"}}));
  EXPECT_EQ(MenuLabels::fadeDurationLabel(0.25), L10n::text("seconds_value", {{"seconds", "0.2"}}));
  EXPECT_EQ(MenuLabels::percentText(99.9), "99%");
  EXPECT_EQ(MenuLabels::idleCounterText(12.7), L10n::text("idle_seconds", {{"seconds", "12"}}));
  EXPECT_EQ(MenuLabels::sectionStateText(true), L10n::text("section_expanded"));
  setenv("TZ", "UTC", 1);
  tzset();
  const auto newYear = WallClock::time_point(std::chrono::seconds(1'798'761'600));  // 2027-01-01 00:00 UTC
  EXPECT_NE(MenuLabels::creditLine(newYear).find("2027"), std::string::npos);
  EXPECT_NE(MenuLabels::creditLine(newYear - 1s).find("2026"), std::string::npos);
  EXPECT_EQ(MenuLabels::shortTimeText(newYear + 21h + 30min + 15s), "21:30") << "the C locale's own format";
  EXPECT_EQ(MenuLabels::stepRowName(2, 180.4), "Step 2, after 180 s");
  L10n::resetForTesting();
  // The locale's short time is its time format without seconds.
  EXPECT_EQ(MenuLabels::timeFormatWithoutSeconds("%H:%M:%S"), "%H:%M");
  EXPECT_EQ(MenuLabels::timeFormatWithoutSeconds("%r"), "%I:%M %p");  // en_US
  EXPECT_EQ(MenuLabels::timeFormatWithoutSeconds("%T"), "%H:%M");
  EXPECT_EQ(MenuLabels::timeFormatWithoutSeconds("%H時%M分%S秒"), "%H時%M分");  // ja_JP
  EXPECT_EQ(MenuLabels::timeFormatWithoutSeconds("%H.%M.%S"), "%H.%M");
  EXPECT_EQ(MenuLabels::timeFormatWithoutSeconds("%H:%M"), "%H:%M");
}

}  // namespace

TEST_F(MenuViewStateTest, WithoutIdleTimeTheWindowSaysDimmingIsOffUntilTheDesktopAnswersAgain) {
  makeMenu();
  EXPECT_EQ(menu->idleTimeUnavailableText(), std::nullopt);
  int viewNotified = 0;  // the window refreshes on the engine's change notice
  auto subscription = engine->objectWillChange.connect([&] { ++viewNotified; });
  // The source's own reason wins over the general text, and a note shows even while idle time is answered.
  const std::tuple<bool, const char*, const char*> states[] = {
      {true, "", "idle_time_unavailable"}, {false, "", nullptr},
      {true, "idle_time_xwayland", "idle_time_xwayland"}, {false, "idle_time_held_awake", "idle_time_held_awake"},
      {false, "", nullptr}};
  for (const auto& [failing, note, shown] : states) {
    idle.setFailing(failing);
    idle.setNote(note);
    viewNotified = 0;
    loop.advance(0.25);
    EXPECT_EQ(menu->idleTimeUnavailableText(), shown ? std::optional(L10n::text(shown)) : std::nullopt) << note;
    EXPECT_GE(viewNotified, 1) << note;
  }
}

TEST_F(MenuViewStateTest, ADisplayWithoutGammaSaysWhyAndOthersSayNothing) {
  machine.addExternalMonitor({.id = 1, .productName = "Gamma", .brightness = 100});
  machine.addExternalMonitor({.id = 2, .productName = "No gamma", .brightness = 100, .gammaSize = 0});
  makeMenu();
  EXPECT_EQ(menu->displayGammaUnavailableText(1), std::nullopt);
  const auto reason = menu->displayGammaUnavailableText(2);
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(*reason, L10n::text("control_gamma_failed")) << "the simulated tables give no reason of their own";
  EXPECT_EQ(menu->displayGammaUnavailableText(9), L10n::text("control_gamma_failed")) << "an unknown display";
}

TEST_F(MenuViewStateTest, TheDBusHintIsOfferedExactlyWhileShortcutsAreUnavailable) {
  makeMenu();
  EXPECT_FALSE(menu->showsRestoreShortcutUnavailable());
  EXPECT_EQ(menu->shortcutsUnavailableHint(), std::nullopt);

  menu.reset();
  engine.reset();
  shortcuts.refuseEvery = GlobalShortcuts::Refusal::notBound;  // the desktop binds none
  makeMenu();
  EXPECT_TRUE(menu->showsRestoreShortcutUnavailable());
  const auto hint = menu->shortcutsUnavailableHint();
  ASSERT_TRUE(hint.has_value());
  EXPECT_EQ(*hint, L10n::text("shortcuts_unavailable_use_dbus"));
  EXPECT_NE(hint->find("busctl"), std::string::npos) << "the text, not its key";
}

TEST_F(MenuViewStateTest, TheWindowSaysWhatBecameOfASettingsFileItCouldNotUseWhole) {
  const auto file = configRoot / "Dimmora" / "config.json";
  writeFile(file, R"({"fadeDurationSeconds": 9, "frameRate": "30", "language": "fr", "steps": []})");
  makeMenu();
  const auto notice = menu->settingsFileNoticeText();
  ASSERT_TRUE(notice);
  EXPECT_EQ(*notice, L10n::text("settings_file_values_ignored", {{"file", file.string()}, {"keys", "frameRate, language"}}));
  EXPECT_NE(notice->find("frameRate, language"), std::string::npos) << *notice;
  // Read again, the rewritten file is fine, and the window says nothing.
  makeMenu();
  EXPECT_EQ(menu->settingsFileNoticeText(), std::nullopt);
}
