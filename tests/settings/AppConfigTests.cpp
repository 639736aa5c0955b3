// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "settings/AppConfig.hpp"
#include "SettingsTestSupport.hpp"

namespace {

const Uuid kStepID = *Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");

AppConfig sampleConfig() {
  AppConfig config;
  config.fadeCurve = FadeCurve::linear;
  config.language = AppLanguage::ja;
  config.decreaseMaxShortcutKey = "\"";  // needs escaping
  config.safetyMinimumPercent = 15;
  config.steps = {IdleStep{kStepID, 0.1, 33.3}};
  config.selectedDisplayIDs = {7, 2};
  config.displayMaximumPercents = {{2, 80}, {4294967295u, 100}};
  config.displayFullGammaModes = {{7, true}};
  config.displayProfiles = {{"ABC-1", {20, 90, true, false}}};
  return config;
}

std::optional<AppConfig> decodeWith(const std::string& members) {
  return decodeConfig(R"({"fadeDurationSeconds": 6, "steps": [])" + members + "}");
}

}  // namespace

// The layout is the independent pretty-printer's (below); here, each key and its value, integers written as integers.
TEST(AppConfigFormat, writesEveryKeyWithItsValue) {
  EXPECT_EQ(nlohmann::json::parse(*encodeConfig(sampleConfig())).dump(), nlohmann::json::parse(R"({
      "decreaseMaxShortcutKey": "\"",
      "displayFullGammaModes": [7, true],
      "displayMaximumPercents": [2, 80, 4294967295, 100],
      "displayMinimumPercents": [],
      "displayProfiles": {"ABC-1": {"fullGamma": true, "maximum": 90, "minimum": 20, "selected": false}},
      "fadeCurve": "linear",
      "fadeDurationSeconds": 6,
      "frameRate": 24,
      "increaseMaxShortcutKey": "f2",
      "language": "ja",
      "loggingEnabled": false,
      "manualBrightnessPercent": 100,
      "pauseDuringMediaPlayback": false,
      "safetyMinimumPercent": 15,
      "selectedDisplayIDs": [2, 7],
      "steps": [{"brightnessPercent": 33.3, "id": "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", "idleSeconds": 0.1}]})")
                                                                        .dump());
}

TEST(AppConfigFormat, matchesAnIndependentPrettyPrinterAndRoundTrips) {
  TemporaryFolder folder;
  AppConfig unusual = sampleConfig();
  unusual.displayProfiles["Écran ☀"] = {5, 100, false, true};
  unusual.steps.push_back({Uuid::random(), 1e308, 1e-7});
  for (const AppConfig& config : {defaultConfig(), AppConfig{}, unusual}) {
    const auto text = encodeConfig(config);
    ASSERT_TRUE(text);
    writeFile(folder.path() / "c.json", *text);
    EXPECT_EQ(pythonPrettyPrinted(folder.path() / "c.json"), *text);
    AppConfig expected = config;
    std::sort(expected.selectedDisplayIDs.begin(), expected.selectedDisplayIDs.end());  // written sorted
    EXPECT_EQ(decodeConfig(*text), expected);
  }
}

TEST(AppConfigFormat, refusesNumbersJsonCannotHold) {
  for (const double bad : {std::numeric_limits<double>::infinity(), std::nan("")}) {
    AppConfig config = defaultConfig();
    config.steps[1].idleSeconds = bad;
    EXPECT_FALSE(encodeConfig(config));
    config = defaultConfig();
    config.displayProfiles["k"] = {bad, 100, false, false};
    EXPECT_FALSE(encodeConfig(config));
  }
}

TEST(AppConfigReading, missingOptionalKeysTakeTheirFallbacks) {
  const auto config = decodeConfig(R"({"fadeDurationSeconds": 3, "steps": [], "unknown": [1, {}]})");
  ASSERT_TRUE(config);
  AppConfig expected;
  expected.fadeDurationSeconds = 3;
  expected.loggingEnabled = true;  // the one fallback that differs from the default
  EXPECT_EQ(*config, expected);
}

TEST(AppConfigReading, onlyADocumentWithoutTheTwoRequiredKeysFailsWhole) {
  const std::string bad[] = {
      R"({"steps": []})",
      R"({"fadeDurationSeconds": 6})",
      R"({"fadeDurationSeconds": 6, "steps": [)",  // truncated
      "[]",
      "\xff\xfe{}",
  };
  for (const std::string& text : bad) EXPECT_FALSE(decodeConfig(text)) << text;
}

TEST(AppConfigReading, aValueThatCannotBeUsedTakesItsFallbackAloneAndIsNamed) {
  // Each beside a valid frame rate, which is kept.
  const std::pair<std::string, std::string> badMembers[] = {
      {R"("fadeDurationSeconds": "6")", R"(holds the text "6" where a number belongs)"},
      {R"("fadeCurve": "bounce")", R"(holds the text "bounce" where easeIn, easeInOut, easeOut or linear belongs)"},
      {R"("language": "fr")", R"(holds the text "fr" where system, en or ja belongs)"},
      {R"("loggingEnabled": 1)", "holds the number 1 where true or false belongs"},
      {R"("selectedDisplayIDs": [1, "2"])", "holds a list of 2 elements where a list of display IDs belongs"},
      {R"("displayMaximumPercents": [1, 80, 2])", "holds a list of 3 elements where a list of display IDs, each followed by its percent belongs"},
      {R"("displayMaximumPercents": [-1, 80])", "holds a list of 2 elements where"},
      {R"("displayMaximumPercents": [4294967296, 80])", "holds a list of 2 elements where"},
      {R"("displayMaximumPercents": [1.5, 80])", "holds a list of 2 elements where"},
      {R"("displayMaximumPercents": {"1": 80})", "holds an object where"},
      {R"("displayProfiles": {"k": {"minimum": 5, "maximum": 9, "fullGamma": false}})", "holds an object where display profiles"},
      {R"("steps": [{"idleSeconds": 3}])", "holds a list of 1 elements where a list of steps"},
      {R"("steps": [{"brightnessPercent": 5, "id": "x"}])", "holds a list of 1 elements where a list of steps"},
      {R"("manualBrightnessPercent": null)", "holds null where a number belongs"},
      {R"("safetyMinimumPercent": ")" + std::string(100, 'k') + "\"",
       R"(holds the text ")" + std::string(40, 'k') + R"(..." where a number belongs)"},
  };
  const AppConfig fallbacks = *decodeWith(R"(, "frameRate": 30)");
  for (const auto& [member, problem] : badMembers) {
    SCOPED_TRACE(member);
    std::vector<IgnoredValue> ignored;
    // Later keys replace earlier ones: the bad member stands in for the valid base value.
    const auto config = decodeConfig(R"({"fadeDurationSeconds": 6, "steps": [], "frameRate": 30, )" + member + "}",
                                     &ignored);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->frameRate, 30);
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0].key, member.substr(1, member.find('"', 1) - 1));
    EXPECT_NE(ignored[0].problem.find(problem), std::string::npos) << ignored[0].problem;
    AppConfig expected = fallbacks;
    if (ignored[0].key == "steps") {
      EXPECT_EQ(config->steps.size(), 4u);  // the default steps, with their own fresh ids
      expected.steps = config->steps;
    }
    EXPECT_EQ(*config, expected);
  }
}

TEST(AppConfigReading, stepIdleTimeAndIdentity) {
  const std::string text = R"([
      {"brightnessPercent": 50, "idleMinutes": 2.5},
      {"brightnessPercent": 40, "idleMinutes": 2.5, "idleSeconds": 7},
      {"brightnessPercent": 30},
      {"brightnessPercent": 20, "id": "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"}])";
  const auto first = decodeConfig(R"({"fadeDurationSeconds": 6, "steps": )" + text + "}");
  const auto second = decodeLegacySteps(text);
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->steps.size(), 4u);
  EXPECT_EQ(first->steps[0].idleSeconds, 150);
  EXPECT_EQ(first->steps[1].idleSeconds, 7);
  EXPECT_EQ(first->steps[2].idleSeconds, 0);
  EXPECT_EQ((*second)[3].id, kStepID);                 // either case is accepted
  EXPECT_NE(first->steps[0].id, (*second)[0].id);      // a missing id is fresh on every read
  EXPECT_EQ(encodeConfig(*first)->find("idleMinutes"), std::string::npos);
  EXPECT_FALSE(decodeLegacySteps(R"({"steps": []})"));
}

TEST(AppConfigReading, displayMapsAndManualLevel) {
  const auto a = decodeWith(R"(, "displayMaximumPercents": [1, 80, 2, 100], "manualBrightnessPercent": 250)");
  const auto b = decodeWith(R"(, "displayMaximumPercents": [2, 100, 1, 80], "manualBrightnessPercent": -3)");
  const auto c = decodeWith(R"(, "displayFullGammaModes": [3, true, 3, false, 4.0, true, 4294967295.0, true])");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->displayMaximumPercents, (std::map<DisplayID, double>{{1, 80}, {2, 100}}));
  EXPECT_EQ(b->displayMaximumPercents, a->displayMaximumPercents);
  // The later pair wins; a whole float up to the largest ID is one.
  EXPECT_EQ(c->displayFullGammaModes, (std::map<DisplayID, bool>{{3, false}, {4, true}, {4294967295u, true}}));
  EXPECT_EQ(a->manualBrightnessPercent, 100);
  EXPECT_EQ(b->manualBrightnessPercent, 0);
  // Too large for a double: infinite, and non-finite reads as full.
  for (const char* overflow : {"1e999", "-1e999", "1E+400"}) {
    const auto d = decodeWith(std::string(R"(, "manualBrightnessPercent": )") + overflow);
    ASSERT_TRUE(d) << overflow;
    EXPECT_EQ(d->manualBrightnessPercent, 100) << overflow;
  }
}

TEST(AppConfigEnumerations, casesValuesAndTitles) {
  std::string curves;
  for (const FadeCurve curve : FadeCurve::allCases) {
    curves += std::string(curve.rawValue()) + " ";
    EXPECT_EQ(FadeCurve::fromRawValue(curve.rawValue()), curve);
  }
  EXPECT_EQ(curves, "easeIn easeInOut easeOut linear ");
  EXPECT_EQ(FadeCurve(FadeCurve::easeInOut).titleKey(), "curve_ease_in_out");
  L10n::setPreferredLanguage("en");  // the tables are found from the build folder
  EXPECT_NE(FadeCurve(FadeCurve::linear).title(), "curve_linear");
  L10n::resetForTesting();
  EXPECT_EQ(AppLanguage::fromRawValue("ja"), AppLanguage::ja);
  EXPECT_FALSE(AppLanguage::fromRawValue("fr"));
}
