// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/MenuLabels.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <langinfo.h>

#include "services/GlobalHotKeyManager.hpp"
#include "services/L10n.hpp"

namespace MenuLabels {
namespace {
std::string wholeNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", std::isfinite(value) ? std::trunc(value) : 0.0);
  return text;
}

std::tm localTime(WallClock::time_point time) {
  const std::time_t seconds = WallClock::to_time_t(time);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  return parts;
}
}  // namespace

std::string shortcutDisplayName(std::string_view key) {
  if (key == "brightness_up") return L10n::text("brightness_up_label");
  if (key == "brightness_down") return L10n::text("brightness_down_label");
  if (key == "f1") return "F1";
  if (key == "f2") return "F2";
  return std::string(key);
}

std::string shortcutOptionLabel(std::string_view key) { return hotKeyModifierLabel(key) + shortcutDisplayName(key); }

std::string fadeDurationLabel(double seconds) {
  std::string number;
  if (std::isfinite(seconds) && seconds == std::trunc(seconds)) {
    number = wholeNumber(seconds);
  } else {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    number = text;
  }
  return L10n::text("seconds_value", {{"seconds", number}});
}

std::string frameRateLabel(double framesPerSecond) { return wholeNumber(framesPerSecond); }

std::string percentText(double percent) { return wholeNumber(percent) + "%"; }

std::string safetyMinimumLabel(double percent) { return percentText(percent); }

std::string languageLabel(AppLanguage language) {
  switch (language) {
    case AppLanguage::en:
      return "English";
    case AppLanguage::ja:
      return "日本語";
    case AppLanguage::system:
      break;
  }
  return "System";
}

std::string fadeCurveLabel(FadeCurve curve) { return curve.title(); }

std::string pauseDurationLabel(double minutes) { return L10n::text("pause_minutes", {{"minutes", wholeNumber(minutes)}}); }

std::string timeFormatWithoutSeconds(std::string_view format) {
  std::string expanded;
  for (std::size_t i = 0; i < format.size(); ++i) {
    // The shorthands that carry seconds, spelt out.
    if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 'r' || format[i + 1] == 'T')) {
      expanded += format[i + 1] == 'r' ? "%I:%M:%S %p" : "%H:%M:%S";
      ++i;
      continue;
    }
    expanded += format[i];
  }
  const std::size_t seconds = expanded.find("%S");
  if (seconds == std::string::npos) return expanded;
  std::size_t from = seconds, to = seconds + 2;
  // The separator before the seconds, or the unit after them ("秒").
  if (from > 0 && (expanded[from - 1] == ':' || expanded[from - 1] == '.')) --from;
  else if (expanded.compare(to, 3, "秒") == 0) to += 3;
  expanded.erase(from, to - from);
  return expanded;
}

std::string shortTimeText(WallClock::time_point time) {
  const std::tm parts = localTime(time);
  // The C library's locale is the user's (the toolkit adopts it at start).
  std::string format = timeFormatWithoutSeconds(nl_langinfo(T_FMT));
  if (format.empty()) format = "%H:%M";
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, format.c_str(), &parts);
  return length ? std::string(text, length) : std::string();
}

std::string resumeAtText(WallClock::time_point pauseEnd) {
  return L10n::text("resume_at", {{"time", shortTimeText(pauseEnd)}});
}

std::string idleCounterText(double seconds) { return L10n::text("idle_seconds", {{"seconds", wholeNumber(seconds)}}); }

std::string stepRowName(std::size_t number, double idleSeconds) {
  return L10n::text("step_row_name", {{"number", std::to_string(number)}, {"seconds", wholeNumber(idleSeconds)}});
}

std::string rangeMinimumCaption(double minimum) { return L10n::text("min_label") + " " + percentText(minimum); }
std::string rangeMaximumCaption(double maximum) { return L10n::text("max_label") + " " + percentText(maximum); }

std::string sectionStateText(bool expanded) { return L10n::text(expanded ? "section_expanded" : "section_collapsed"); }

std::string creditLine(WallClock::time_point now) {
  return L10n::text("credit_line", {{"year", std::to_string(localTime(now).tm_year + 1900)}});
}

}  // namespace MenuLabels
