// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "ServicesTestSupport.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "services/GlobalHotKeyManager.hpp"
#include "services/L10n.hpp"

namespace {
class L10nTest : public ::testing::Test {
 protected:
  L10nTest() {
    L10n::resetForTesting();
    L10n::useEnvironment(&environment);
    environment.workingDirectory = folder.path();
  }
  ~L10nTest() override {
    L10n::useEnvironment(nullptr);
    L10n::resetForTesting();
  }
  void writeTable(const std::string& code, const std::string& json) {
    writeFile(folder.path() / ("AppResources/Localization/" + code + ".json"), json);
  }

  TemporaryFolder folder;
  SimEnvironment environment;
};
}  // namespace

TEST_F(L10nTest, ResolvesOverrideThenFirstSupportedSystemLanguage) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"fr-FR", "ja-JP", "en-US"}, "ja"}, {{"fr-FR"}, "en"}, {{}, "en"}, {{"ja"}, "ja"}};
  for (const auto& [languages, expected] : cases) {
    environment.languages = languages;
    EXPECT_EQ(L10n::resolvedLanguageCode(), expected);
  }
  environment.languages = {"ja-JP"};
  L10n::setPreferredLanguage("en");
  EXPECT_EQ(L10n::resolvedLanguageCode(), "en");
}

TEST_F(L10nTest, CandidatesInLookupOrder) {
  environment.bundleResources = "/opt/Dimmora.app/Contents/Resources";
  environment.workingDirectory = "/home/u";
  environment.executable = "/opt/Dimmora.app/Contents/MacOS/Dimmora";
  EXPECT_EQ(L10n::candidateURLs("ja"), (std::vector<std::filesystem::path>{
                                           "/opt/Dimmora.app/Contents/Resources/Localization/ja.json",
                                           "/home/u/AppResources/Localization/ja.json",
                                           "/opt/Dimmora.app/Contents/MacOS/AppResources/Localization/ja.json",
                                           "/opt/Dimmora.app/AppResources/Localization/ja.json"}));
  // A relative program path is taken from the working folder and tidied.
  environment.bundleResources.reset();
  environment.executable = "./bin/../build/dimmora";
  EXPECT_EQ(L10n::candidateURLs("en"), (std::vector<std::filesystem::path>{
                                           "/home/u/AppResources/Localization/en.json",
                                           "/home/u/build/AppResources/Localization/en.json"}));
}

TEST_F(L10nTest, UnusableOrMissingTablesFallBackToEnglishThenToTheKey) {
  environment.languages = {"ja-JP"};
  environment.bundleResources = folder.path() / "bundle";
  writeFile(folder.path() / "bundle/Localization/ja.json", R"({"add_step": "追加", "fade_label": 3})");  // one number spoils it
  writeTable("ja", R"({"add_step": "ステップを追加"})");
  writeTable("en", R"({"add_step": "Add step", "cancel": "Cancel"})");
  EXPECT_EQ(L10n::text("add_step"), "ステップを追加");
  EXPECT_EQ(L10n::text("cancel"), "cancel");  // no mixing with English per key

  L10n::resetForTesting();
  writeTable("ja", R"(["add_step"])");
  EXPECT_EQ(L10n::text("add_step"), "Add step");
  EXPECT_EQ(L10n::state().cachedLanguageCode, "ja");

  L10n::resetForTesting();
  writeTable("en", "{not json");
  EXPECT_EQ(L10n::text("add_step"), "add_step");
}

TEST_F(L10nTest, FillsNamedPlaceholdersLiterallyReadsOncePerLanguageAndSwitchesWithoutRestart) {
  writeTable("en", R"json({"resume_at": "At {time} ({time})", "fixed_brightness_range": "{name}: {percent}%"})json");
  EXPECT_EQ(L10n::text("resume_at", {{"time", "21:30"}}), "At 21:30 (21:30)");
  // A missing replacement stays visible; replacement text is never expanded or formatted.
  EXPECT_EQ(L10n::text("fixed_brightness_range", {{"name", "{percent} %d"}}), "{percent} %d: {percent}%");

  L10n::resetForTesting();
  writeTable("en", R"({"cancel": "Cancel"})");  // read once per language, switched without a restart
  writeTable("ja", R"({"cancel": "キャンセル"})");
  L10n::setPreferredLanguage("ja");
  EXPECT_EQ(L10n::text("cancel"), "キャンセル");
  writeTable("ja", R"({"cancel": "changed on disk"})");
  EXPECT_EQ(L10n::text("cancel"), "キャンセル");  // from the cache
  L10n::setPreferredLanguage("en");
  EXPECT_EQ(L10n::text("cancel"), "Cancel");
  // Following the system, a change of its list shows at the next lookup.
  L10n::setPreferredLanguage(std::nullopt);
  environment.languages = {"ja-JP"};
  EXPECT_EQ(L10n::text("cancel"), "changed on disk");
}

// The shipped tables, which the build copies into the test programs' working folder.
TEST(L10nTables, BothLanguagesDefineTheSameKeysAndPlaceholders) {
  SimEnvironment environment;
  L10n::useEnvironment(&environment);
  L10n::setPreferredLanguage("en");
  const L10n::Table en = L10n::loadTable();
  L10n::setPreferredLanguage("ja");
  const L10n::Table ja = L10n::loadTable();
  L10n::useEnvironment(nullptr);
  L10n::resetForTesting();
  ASSERT_EQ(en.size(), 120u);
  ASSERT_EQ(ja.size(), en.size());
  EXPECT_NE(ja.at("cancel"), en.at("cancel"));
  // The hint names the restore key with the modifiers it is registered with.
  const std::string restoreChord = hotKeyModifierLabel("r") + "R";
  EXPECT_NE(en.at("restore_hint").find(restoreChord), std::string::npos);
  EXPECT_NE(ja.at("restore_hint").find(restoreChord), std::string::npos);
  const std::map<std::string, std::set<std::string>> expected{
      {"idle_seconds", {"seconds"}}, {"seconds_value", {"seconds"}}, {"resume_at", {"time"}},
      {"pause_minutes", {"minutes"}}, {"fixed_brightness_range", {"name", "percent"}},
      {"credit_line", {"year"}}, {"uninstall_package_message", {"package"}}, {"uninstall_reveal_failed", {"path"}},
      {"show_file_failed", {"path"}}, {"open_link_failed", {"url"}}, {"step_row_name", {"number", "seconds"}},
      {"settings_file_unreadable", {"file", "reason"}}, {"settings_file_values_ignored", {"file", "keys"}},
      {"desktop_dimming_failed", {"error"}}};
  const auto placeholders = [](const std::string& text) {
    static const std::regex brace(R"(\{([a-z_]+)\})");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), brace); it != std::sregex_iterator(); ++it)
      names.insert((*it)[1]);
    return names;
  };
  for (const auto& [key, text] : en) {
    const auto found = expected.find(key);
    const auto wanted = found == expected.end() ? std::set<std::string>{} : found->second;
    EXPECT_EQ(placeholders(text), wanted) << "en " << key;
    ASSERT_EQ(ja.count(key), 1u) << key;
    EXPECT_EQ(placeholders(ja.at(key)), wanted) << "ja " << key;
  }
}
