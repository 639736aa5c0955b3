// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/MainLoop.hpp"
#include "settings/AppConfig.hpp"

// The texts the settings window builds from values. Every localized text
// comes from L10n by key.
namespace MenuLabels {

// What the pickers and the pause menu offer, in listing order.
inline constexpr std::array<double, 8> fadeOptions{0, 0.5, 1, 2, 3, 5, 6, 10};  // seconds
inline constexpr std::array<double, 3> frameRateOptions{24, 30, 60};            // frames per second
inline constexpr std::array<std::string_view, 4> shortcutOptions{"brightness_up", "brightness_down", "f1", "f2"};
inline constexpr std::array<double, 4> pauseDurations{5, 15, 30, 60};  // minutes

// "brightness_up" / "brightness_down": their localized names; "f1" -> "F1",
// "f2" -> "F2"; anything else unchanged (exact comparison).
std::string shortcutDisplayName(std::string_view key);
// "Ctrl+Alt+Shift+F1": the modifiers the hot-key binding registers for the
// key, then its display name.
std::string shortcutOptionLabel(std::string_view key);
// "3 s", "0.5 s": whole numbers without decimals, others with one.
std::string fadeDurationLabel(double seconds);
// "30"
std::string frameRateLabel(double framesPerSecond);
// "35%": the whole part of a percent (the readout, the slider's value text).
std::string percentText(double percent);
// "5%"
std::string safetyMinimumLabel(double percent);
// "System", "English", "日本語" (the same in every interface language).
std::string languageLabel(AppLanguage language);
std::string fadeCurveLabel(FadeCurve curve);
// "For 15 min"
std::string pauseDurationLabel(double minutes);
// A local time of day without date in the locale's own short form ("21:30",
// "09:30 PM", "21時30分"): its time format without the seconds.
std::string shortTimeText(WallClock::time_point time);
// A strftime time format ("%r", "%H時%M分%S秒") without its seconds.
std::string timeFormatWithoutSeconds(std::string_view format);
// "Dimming resumes at 21:30"
std::string resumeAtText(WallClock::time_point pauseEnd);
// "Idle for 12 s": whole seconds.
std::string idleCounterText(double seconds);
// "Step 2, after 180 s": a step row as a screen reader names it (`number` counts from 1).
std::string stepRowName(std::size_t number, double idleSeconds);
// "Min 5%", "Max 100%": the range editor's captions.
std::string rangeMinimumCaption(double minimum);
std::string rangeMaximumCaption(double maximum);
// The accessibility value of a section header.
std::string sectionStateText(bool expanded);
// The footer's credit line, with the calendar year of `now` in local time.
std::string creditLine(WallClock::time_point now);

}  // namespace MenuLabels
