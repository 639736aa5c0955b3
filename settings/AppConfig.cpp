// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/AppConfig.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "base/Numbers.hpp"
#include "services/L10n.hpp"

using Json = nlohmann::json;

// ---- enumerations ----------------------------------------------------------

std::string_view FadeCurve::rawValue() const {
  switch (value_) {
    case easeIn: return "easeIn";
    case easeInOut: return "easeInOut";
    case easeOut: return "easeOut";
    case linear: return "linear";
  }
  return "easeOut";
}

std::optional<FadeCurve> FadeCurve::fromRawValue(std::string_view raw) {
  for (const Case c : allCases)
    if (FadeCurve(c).rawValue() == raw) return FadeCurve(c);
  return std::nullopt;
}

std::string_view FadeCurve::titleKey() const {
  switch (value_) {
    case easeIn: return "curve_ease_in";
    case easeInOut: return "curve_ease_in_out";
    case easeOut: return "curve_ease_out";
    case linear: return "curve_linear";
  }
  return "curve_ease_out";
}

std::string FadeCurve::title() const { return L10n::text(std::string(titleKey())); }

std::string_view AppLanguage::rawValue() const {
  switch (value_) {
    case system: return "system";
    case en: return "en";
    case ja: return "ja";
  }
  return "system";
}

std::optional<std::string> AppLanguage::code() const {
  if (value_ == system) return std::nullopt;
  return std::string(rawValue());
}

std::optional<AppLanguage> AppLanguage::fromRawValue(std::string_view raw) {
  for (const Case c : allCases)
    if (AppLanguage(c).rawValue() == raw) return AppLanguage(c);
  return std::nullopt;
}

// ---- defaults --------------------------------------------------------------

std::vector<IdleStep> defaultSteps() {
  return {
      IdleStep{Uuid::random(), 0, 100},
      IdleStep{Uuid::random(), 180, 70},
      IdleStep{Uuid::random(), 600, 40},
      IdleStep{Uuid::random(), 1200, 20},
  };
}

AppConfig defaultConfig() {
  AppConfig config;
  config.steps = defaultSteps();
  return config;
}

// ---- writing ---------------------------------------------------------------

namespace {

template <typename Value>
Json flatPairs(const std::map<DisplayID, Value>& map) {
  Json array = Json::array();
  for (const auto& [id, value] : map) {
    array.push_back(id);
    array.push_back(value);
  }
  return array;
}

Json toJson(const AppConfig& config) {
  Json steps = Json::array();
  for (const IdleStep& step : config.steps)
    steps.push_back({{"brightnessPercent", step.brightnessPercent},
                     {"id", step.id.uuidString()},
                     {"idleSeconds", step.idleSeconds}});
  Json profiles = Json::object();
  for (const auto& [key, profile] : config.displayProfiles) {
    profiles[key] = {{"fullGamma", profile.fullGamma},
                     {"maximum", profile.maximum},
                     {"minimum", profile.minimum},
                     {"selected", profile.selected}};
    if (profile.maximumUnread) profiles[key]["maximumUnread"] = true;
  }
  std::vector<DisplayID> selected = config.selectedDisplayIDs;
  std::sort(selected.begin(), selected.end());

  const auto key = [](std::string_view name) { return std::string(name); };
  // Json objects are ordered maps, so every level comes out with sorted keys.
  return {
      {key(Setting::fadeDurationSeconds.key), config.fadeDurationSeconds},
      {key(Setting::frameRate.key), config.frameRate},
      {key(Setting::fadeCurve.key), config.fadeCurve.rawValue()},
      {key(Setting::language.key), config.language.rawValue()},
      {key(Setting::increaseMaxShortcutKey.key), config.increaseMaxShortcutKey},
      {key(Setting::decreaseMaxShortcutKey.key), config.decreaseMaxShortcutKey},
      {key(Setting::loggingEnabled.key), config.loggingEnabled},
      {key(Setting::pauseDuringMediaPlayback.key), config.pauseDuringMediaPlayback},
      {key(Setting::safetyMinimumPercent.key), config.safetyMinimumPercent},
      {"steps", std::move(steps)},
      {"selectedDisplayIDs", selected},
      {"displayMaximumPercents", flatPairs(config.displayMaximumPercents)},
      {"displayMinimumPercents", flatPairs(config.displayMinimumPercents)},
      {"displayFullGammaModes", flatPairs(config.displayFullGammaModes)},
      {"displayProfiles", std::move(profiles)},
      {key(Setting::manualBrightnessPercent.key), config.manualBrightnessPercent},
  };
}

// Pretty printer with the file's own layout; false on a non-finite number.
bool write(const Json& value, int depth, std::string& out) {
  const auto indent = [&out](int level) { out.append(static_cast<std::size_t>(level) * 2, ' '); };
  switch (value.type()) {
    case Json::value_t::object: {
      if (value.empty()) {
        out.append("{}");
        return true;
      }
      out.append("{\n");
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out.append(",\n");
        first = false;
        indent(depth + 1);
        out.append(Json(key).dump(-1, ' ', false, Json::error_handler_t::replace));
        out.append(" : ");
        if (!write(member, depth + 1, out)) return false;
      }
      out.append("\n");
      indent(depth);
      out.append("}");
      return true;
    }
    case Json::value_t::array: {
      if (value.empty()) {
        out.append("[]");
        return true;
      }
      out.append("[\n");
      bool first = true;
      for (const Json& element : value) {
        if (!first) out.append(",\n");
        first = false;
        indent(depth + 1);
        if (!write(element, depth + 1, out)) return false;
      }
      out.append("\n");
      indent(depth);
      out.append("]");
      return true;
    }
    case Json::value_t::number_float: {
      const double number = value.get<double>();
      if (!std::isfinite(number)) return false;
      out.append(formatShortest(number));
      return true;
    }
    default:
      // Strings, booleans and integers: the library's compact form is already ours.
      out.append(value.dump(-1, ' ', false, Json::error_handler_t::replace));
      return true;
  }
}

}  // namespace

std::optional<std::string> encodeConfig(const AppConfig& config) {
  try {
    std::string out;
    if (!write(toJson(config), 0, out)) return std::nullopt;
    return out;
  } catch (const std::exception&) {
    return std::nullopt;  // only allocation can fail here
  }
}

// ---- reading ---------------------------------------------------------------

namespace {

// Each reader yields nothing when the value has the wrong type.

// A number beyond the range of a double (a hand-typed 1e400) reaches the
// parser as a marker string, which no valid document holds where a number
// belongs, and reads as infinite. The marker as the parser returns it, and
// as it is written into the text.
std::string overflowMarker(bool negative) { return std::string(1, '\0') + (negative ? "-" : "+") + "overflow"; }
std::string overflowMarkerJson(bool negative) { return negative ? "\"\\u0000-overflow\"" : "\"\\u0000+overflow\""; }

std::optional<double> readDouble(const Json& value) {
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    if (text == overflowMarker(false)) return std::numeric_limits<double>::infinity();
    if (text == overflowMarker(true)) return -std::numeric_limits<double>::infinity();
    return std::nullopt;
  }
  if (!value.is_number()) return std::nullopt;
  return value.get<double>();
}

std::optional<bool> readBool(const Json& value) {
  if (!value.is_boolean()) return std::nullopt;
  return value.get<bool>();
}

std::optional<std::string> readString(const Json& value) {
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

// A display ID must be an integer 0...2^32-1 (written as 3 or 3.0).
std::optional<DisplayID> readDisplayID(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    if (n > std::numeric_limits<DisplayID>::max()) return std::nullopt;
    return static_cast<DisplayID>(n);
  }
  if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    if (n < 0 || n > std::int64_t{std::numeric_limits<DisplayID>::max()}) return std::nullopt;
    return static_cast<DisplayID>(n);
  }
  if (value.is_number_float()) {
    const double n = value.get<double>();
    if (n < 0 || n > double{std::numeric_limits<DisplayID>::max()} || std::trunc(n) != n) return std::nullopt;
    return static_cast<DisplayID>(n);
  }
  return std::nullopt;
}

std::optional<IdleStep> readStep(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  IdleStep step;
  const auto brightness = value.find("brightnessPercent");
  if (brightness == value.end()) return std::nullopt;
  const auto percent = readDouble(*brightness);
  if (!percent) return std::nullopt;
  step.brightnessPercent = *percent;

  if (const auto id = value.find("id"); id != value.end()) {
    const auto text = readString(*id);
    if (!text) return std::nullopt;
    const auto uuid = Uuid::parse(*text);
    if (!uuid) return std::nullopt;
    step.id = *uuid;
  }  // else keeps its freshly generated id

  if (const auto seconds = value.find("idleSeconds"); seconds != value.end()) {
    const auto number = readDouble(*seconds);
    if (!number) return std::nullopt;
    step.idleSeconds = *number;
  } else if (const auto minutes = value.find("idleMinutes"); minutes != value.end()) {
    const auto number = readDouble(*minutes);
    if (!number) return std::nullopt;
    step.idleSeconds = *number * 60;
  }
  return step;
}

std::optional<std::vector<IdleStep>> readSteps(const Json& value) {
  if (!value.is_array()) return std::nullopt;
  std::vector<IdleStep> steps;
  steps.reserve(value.size());
  for (const Json& element : value) {
    auto step = readStep(element);
    if (!step) return std::nullopt;
    steps.push_back(*step);
  }
  return steps;
}

template <typename Value, typename ReadValue>
std::optional<std::map<DisplayID, Value>> readFlatPairs(const Json& value, ReadValue readValue) {
  if (!value.is_array() || value.size() % 2 != 0) return std::nullopt;
  std::map<DisplayID, Value> map;
  for (std::size_t i = 0; i < value.size(); i += 2) {
    const auto id = readDisplayID(value[i]);
    const auto entry = readValue(value[i + 1]);
    if (!id || !entry) return std::nullopt;
    map[*id] = *entry;  // a repeated ID: the later pair wins
  }
  return map;
}

std::optional<SavedDisplayProfile> readProfile(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  const auto member = [&value](const char* key) -> const Json* {
    const auto found = value.find(key);
    return found == value.end() ? nullptr : &*found;
  };
  const Json* minimum = member("minimum");
  const Json* maximum = member("maximum");
  const Json* fullGamma = member("fullGamma");
  const Json* selected = member("selected");
  if (!minimum || !maximum || !fullGamma || !selected) return std::nullopt;
  const auto min = readDouble(*minimum);
  const auto max = readDouble(*maximum);
  const auto gamma = readBool(*fullGamma);
  const auto sel = readBool(*selected);
  if (!min || !max || !gamma || !sel) return std::nullopt;
  const Json* unread = member("maximumUnread");
  const auto maximumUnread = unread ? readBool(*unread) : std::optional<bool>(false);
  if (!maximumUnread) return std::nullopt;
  return SavedDisplayProfile{*min, *max, *gamma, *sel, *maximumUnread};
}

// A JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view token) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < token.size() && token[i] >= '0' && token[i] <= '9') ++i;
    return i > start;
  };
  if (i < token.size() && token[i] == '-') ++i;
  if (i < token.size() && token[i] == '0') ++i;
  else if (!digits()) return false;
  if (i < token.size() && token[i] == '.' && (++i, !digits())) return false;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == token.size();
}

// The document with every number too large for a double replaced by its
// overflow marker (the parser refuses the whole document otherwise);
// nothing when there is none.
std::optional<std::string> withOverflowingNumbersCapped(std::string_view text) {
  std::optional<std::string> out;
  std::size_t copied = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
      continue;
    }
    if (c != '-' && (c < '0' || c > '9')) continue;
    std::size_t end = i + 1;
    while (end < text.size() && std::string_view("0123456789.eE+-").find(text[end]) != std::string_view::npos) ++end;
    const std::string token(text.substr(i, end - i));
    const double value = std::strtod(token.c_str(), nullptr);
    if (std::isinf(value) && isJsonNumber(token)) {
      if (!out) out.emplace();
      out->append(text.substr(copied, i - copied));
      out->append(overflowMarkerJson(value < 0));
      copied = end;
    }
    i = end - 1;
  }
  if (out) out->append(text.substr(copied));
  return out;
}

std::optional<Json> parse(std::string_view bytes) {
  // The parser would end the document at a NUL and ignore what follows; no
  // JSON text holds one, so it makes the file invalid like any trailing garbage.
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  const auto capped = withOverflowingNumbersCapped(bytes);
  const std::string_view text = capped ? std::string_view(*capped) : bytes;
  Json document = Json::parse(text.begin(), text.end(), nullptr, false);
  if (document.is_discarded()) return std::nullopt;
  return document;
}

// A value as the log quotes it: short, whatever the file holds.
std::string describeValue(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string: {
      const auto& text = value.get_ref<const std::string&>();
      if (text == overflowMarker(false) || text == overflowMarker(true)) return "a number beyond any double";
      constexpr std::size_t kQuoted = 40;
      const Json shown = text.size() > kQuoted ? text.substr(0, kQuoted) + "..." : text;
      return "the text " + shown.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    case Json::value_t::boolean: return value.get<bool>() ? "true" : "false";
    case Json::value_t::null: return "null";
    case Json::value_t::array: return "a list of " + std::to_string(value.size()) + " elements";
    case Json::value_t::object: return "an object";
    default: return "the number " + value.dump();
  }
}

// Reads a key that may be absent or unusable: either way it takes `fallback`;
// an unusable value is described in `ignored`.
template <typename T, typename Read>
void readOptional(const Json& object, std::string_view key, T& field, T fallback, Read read, const char* expected,
                  std::vector<IgnoredValue>& ignored) {
  const auto found = object.find(std::string(key));
  auto value = found == object.end() ? std::nullopt : read(*found);
  if (found != object.end() && !value)
    ignored.push_back({std::string(key), "holds " + describeValue(*found) + " where " + expected + " belongs"});
  field = value ? std::move(*value) : std::move(fallback);
}

std::optional<AppConfig> readConfig(const Json& document, std::vector<IgnoredValue>& ignored) {
  if (!document.is_object()) return std::nullopt;
  // These two make a document a configuration; without them it may be the older step list.
  if (!document.contains(std::string(Setting::fadeDurationSeconds.key)) || !document.contains("steps"))
    return std::nullopt;
  AppConfig config;

  const auto readCurve = [](const Json& v) -> std::optional<FadeCurve> {
    const auto text = readString(v);
    return text ? FadeCurve::fromRawValue(*text) : std::nullopt;
  };
  const auto readLanguage = [](const Json& v) -> std::optional<AppLanguage> {
    const auto text = readString(v);
    return text ? AppLanguage::fromRawValue(*text) : std::nullopt;
  };
  const auto readIDs = [](const Json& v) -> std::optional<std::vector<DisplayID>> {
    if (!v.is_array()) return std::nullopt;
    std::vector<DisplayID> ids;
    for (const Json& element : v) {
      const auto id = readDisplayID(element);
      if (!id) return std::nullopt;
      ids.push_back(*id);
    }
    return ids;
  };
  const auto readPercents = [](const Json& v) { return readFlatPairs<double>(v, readDouble); };
  const auto readModes = [](const Json& v) { return readFlatPairs<bool>(v, readBool); };
  const auto readProfiles = [](const Json& v) -> std::optional<std::map<std::string, SavedDisplayProfile>> {
    if (!v.is_object()) return std::nullopt;
    std::map<std::string, SavedDisplayProfile> profiles;
    for (const auto& [key, element] : v.items()) {
      const auto profile = readProfile(element);
      if (!profile) return std::nullopt;
      profiles.emplace(key, *profile);
    }
    return profiles;
  };

  constexpr const char* number = "a number";
  constexpr const char* flag = "true or false";
  constexpr const char* text = "a text";
  constexpr const char* percents = "a list of display IDs, each followed by its percent";
  const auto readNumber = [&](const NumberSettingRow& row, double& field) {
    readOptional(document, row.key, field, row.defaultValue, readDouble, number, ignored);
  };
  const auto readText = [&](const SettingRow<std::string_view>& row, std::string& field) {
    readOptional(document, row.key, field, std::string(row.defaultValue), readString, text, ignored);
  };
  readNumber(Setting::fadeDurationSeconds, config.fadeDurationSeconds);
  readNumber(Setting::frameRate, config.frameRate);
  readOptional(document, Setting::fadeCurve.key, config.fadeCurve, Setting::fadeCurve.defaultValue, readCurve,
               "easeIn, easeInOut, easeOut or linear", ignored);
  readOptional(document, Setting::language.key, config.language, Setting::language.defaultValue, readLanguage,
               "system, en or ja", ignored);
  readText(Setting::increaseMaxShortcutKey, config.increaseMaxShortcutKey);
  readText(Setting::decreaseMaxShortcutKey, config.decreaseMaxShortcutKey);
  // An older file predates the switch; it was on then.
  readOptional(document, Setting::loggingEnabled.key, config.loggingEnabled, true, readBool, flag, ignored);
  readOptional(document, Setting::pauseDuringMediaPlayback.key, config.pauseDuringMediaPlayback,
               Setting::pauseDuringMediaPlayback.defaultValue, readBool, flag, ignored);
  readNumber(Setting::safetyMinimumPercent, config.safetyMinimumPercent);
  readOptional(document, "steps", config.steps, defaultSteps(), readSteps,
               "a list of steps, each with a brightnessPercent", ignored);
  readOptional(document, "selectedDisplayIDs", config.selectedDisplayIDs, {}, readIDs, "a list of display IDs",
               ignored);
  readOptional(document, "displayMaximumPercents", config.displayMaximumPercents, {}, readPercents, percents, ignored);
  readOptional(document, "displayMinimumPercents", config.displayMinimumPercents, {}, readPercents, percents, ignored);
  readOptional(document, "displayFullGammaModes", config.displayFullGammaModes, {}, readModes,
               "a list of display IDs, each followed by true or false", ignored);
  readOptional(document, "displayProfiles", config.displayProfiles, {}, readProfiles,
               "display profiles with minimum, maximum, fullGamma and selected", ignored);
  readNumber(Setting::manualBrightnessPercent, config.manualBrightnessPercent);

  config.manualBrightnessPercent = sanitizedPercent(config.manualBrightnessPercent);
  return config;
}

}  // namespace

std::optional<AppConfig> decodeConfig(std::string_view bytes, std::vector<IgnoredValue>* ignored) {
  try {
    const auto document = parse(bytes);
    std::vector<IgnoredValue> unused;
    return document ? readConfig(*document, ignored ? *ignored : unused) : std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;  // allocation failure on a huge document
  }
}

std::optional<std::vector<IdleStep>> decodeLegacySteps(std::string_view bytes) {
  try {
    const auto document = parse(bytes);
    return document ? readSteps(*document) : std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
