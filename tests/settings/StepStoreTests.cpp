// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "settings/StepStore.hpp"
#include "SettingsTestSupport.hpp"

namespace {

class StepStoreTest : public SettingsTest {
 protected:
  nlohmann::json saved() { return nlohmann::json::parse(readFile(configPath())); }
};

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

TEST_F(StepStoreTest, assignmentsRunTheirRulesAndSaveTheResult) {
  StepStore store{ports()};
  const std::pair<double, double> frameRates[] = {{0, 1}, {120, 60}, {60.0005, 60.0005}, {60.002, 60}, {NAN, 1}};
  for (const auto& [assigned, stored] : frameRates) {
    store.frameRate = assigned;
    EXPECT_EQ(store.frameRate.get(), stored) << assigned;
  }
  const std::pair<double, double> fades[] = {{-2, 0}, {3600, 3600}, {kInfinity, 0}};  // infinity could never be saved
  for (const auto& [assigned, stored] : fades) {
    store.fadeDurationSeconds = assigned;
    EXPECT_EQ(store.fadeDurationSeconds.get(), stored) << assigned;
  }
  const std::pair<double, double> safety[] = {{7.5, 10}, {2, 1}, {2.9, 1}, {3, 5}, {12.5, 15}, {99, 50}, {1e308, 50}, {kInfinity, 5}};
  for (const auto& [assigned, stored] : safety) {
    store.safetyMinimumPercent = assigned;
    EXPECT_EQ(store.safetyMinimumPercent.get(), stored) << assigned;
  }
  store.increaseMaxShortcutKey = std::string("  F1 \n");
  EXPECT_EQ(store.increaseMaxShortcutKey.get(), "f1");
  store.decreaseMaxShortcutKey = std::string("   ");
  EXPECT_EQ(store.decreaseMaxShortcutKey.get(), "f1");

  store.loggingEnabled = true;
  EXPECT_TRUE(DDCDebug::state().enabled);
  EXPECT_EQ(saved()["loggingEnabled"], true);
  store.language = AppLanguage::ja;
  EXPECT_EQ(L10n::resolvedLanguageCode(), "ja");

  const auto file = saved();  // the corrected values are what reached the file
  EXPECT_EQ(file["frameRate"], 1);
  EXPECT_EQ(file["safetyMinimumPercent"], 5);
  EXPECT_EQ(file["increaseMaxShortcutKey"], "f1");
  EXPECT_EQ(file["language"], "ja");
}

TEST(StepStoreShortcutKeys, normalizedForms) {
  EXPECT_EQ(StepStore::normalizedShortcutKey(" F2 ", "f1"), "f2");
  EXPECT_EQ(StepStore::normalizedShortcutKey("Brightness_Up", "f2"), "brightness_up");
  EXPECT_EQ(StepStore::normalizedShortcutKey("Xy", "f2"), "X");
  EXPECT_EQ(StepStore::normalizedShortcutKey("f12", "f2"), "f");
  EXPECT_EQ(StepStore::normalizedShortcutKey("   ", "f1"), "f1");
  EXPECT_EQ(StepStore::normalizedShortcutKey("\u3000\u00e9t\u00e9\u2028", "f1"), "\u00e9");  // Unicode spaces
  EXPECT_EQ(StepStore::normalizedShortcutKey("\xff", "f1"), "\xEF\xBF\xBD");  // invalid bytes never reach the file
}

TEST_F(StepStoreTest, stepEditsNotificationsAndListOperations) {
  StepStore store{ports()};
  int brightness = 0, general = 0;
  auto a = store.stepBrightnessChanges.connect([&] { ++brightness; });
  auto b = store.objectWillChange.connect([&] { ++general; });
  auto steps = store.steps();
  steps[1].brightnessPercent = 12;
  store.setSteps(steps);
  EXPECT_EQ(brightness, 1);
  EXPECT_EQ(general, 0);  // editors are not rebuilt during a brightness drag
  EXPECT_EQ(saved()["steps"][1]["brightnessPercent"], 12);
  const std::size_t writes = store.completedSaveCount();
  store.setSteps(steps);  // unchanged: nothing at all
  EXPECT_EQ(store.completedSaveCount(), writes);
  steps[1].idleSeconds = 200;
  store.setSteps(steps);
  EXPECT_EQ(brightness, 2);
  EXPECT_EQ(general, 1);

  store.add();
  EXPECT_EQ(store.completedSaveCount(), writes + 3);  // the edit, the new list, its normalized form
  EXPECT_EQ(store.steps().back(), (IdleStep{store.steps().back().id, 1230, 50}));
  for (int i = 0; i < 5; ++i) store.removeStep(store.steps()[0].id);
  EXPECT_EQ(store.steps().size(), 1u);  // the last step stays
  store.setSteps({});
  store.add();
  EXPECT_EQ(store.steps().at(0).idleSeconds, 30);
  store.setSteps({{Uuid::random(), -40, 10}, {Uuid::random(), -10, 20}, {Uuid::random(), NAN, 30}});  // as a file may hold them
  store.add();
  EXPECT_EQ(store.steps().back().idleSeconds, 20);  // after the latest, though it lies below 0
}

TEST_F(StepStoreTest, sortingAndNormalizingSteps) {
  StepStore store{ports()};
  const IdleStep high{*Uuid::parse("FFFFFFFF-0000-4000-8000-000000000000"), 60, 10};
  const IdleStep low{*Uuid::parse("00000000-0000-4000-8000-000000000000"), 60, 20};
  const IdleStep first{Uuid::random(), 5, 30};
  const IdleStep unknown{Uuid::random(), NAN, NAN};
  store.setSteps({unknown, high, first, low});
  store.sortStepsByIdleSeconds();
  ASSERT_EQ(store.steps().size(), 4u);
  EXPECT_EQ(store.steps()[0], first);
  EXPECT_EQ(store.steps()[1], low);
  EXPECT_EQ(store.steps()[2], high);
  EXPECT_EQ(store.steps()[3].id, unknown.id);  // NaN goes last instead of breaking the ordering

  store.setSteps({unknown, {Uuid::random(), kInfinity, 250}, {Uuid::random(), -5, -1}});
  store.normalize();
  EXPECT_EQ(store.steps()[0].idleSeconds, 0);
  EXPECT_EQ(store.steps()[0].brightnessPercent, 0);
  EXPECT_EQ(store.steps()[1].idleSeconds, std::numeric_limits<double>::max());  // still "never", and writable
  EXPECT_EQ(store.steps()[1].brightnessPercent, 100);
  EXPECT_EQ(store.steps()[2], (IdleStep{store.steps()[2].id, 0, 0}));
  EXPECT_EQ(decodeConfig(readFile(configPath()))->steps, store.steps());

  store.sortStepsByIdleSeconds();
  const std::size_t writes = store.completedSaveCount();
  store.sortStepsByIdleSeconds();  // already sorted: nothing written
  EXPECT_EQ(store.completedSaveCount(), writes);
}

TEST_F(StepStoreTest, interactiveEditsWriteOnceAtTheOutermostEnd) {
  StepStore store{ports()};
  const std::size_t before = store.completedSaveCount();
  store.beginInteractiveEdit();
  for (int i = 0; i < 10; ++i) store.fadeDurationSeconds = double(i);
  store.beginInteractiveEdit();
  store.frameRate = 30.0;
  store.endInteractiveEdit();
  EXPECT_EQ(store.completedSaveCount(), before);
  EXPECT_NE(saved()["fadeDurationSeconds"], 9);
  store.endInteractiveEdit();
  EXPECT_EQ(store.completedSaveCount(), before + 1);
  EXPECT_EQ(saved()["fadeDurationSeconds"], 9);
  EXPECT_EQ(saved()["frameRate"], 30);

  store.endInteractiveEdit();  // unbalanced: the depth stays at 0
  EXPECT_EQ(store.interactiveEditDepth(), 0);
  store.pauseDuringMediaPlayback = true;  // outside an edit: written at once
  EXPECT_EQ(store.completedSaveCount(), before + 2);
  const auto entries = std::distance(std::filesystem::directory_iterator(configPath().parent_path()), {});
  EXPECT_EQ(entries, 1);  // no temporary file stays behind
}

TEST_F(StepStoreTest, loadingAdoptsNormalizesAndRewritesTheFileOnce) {
  writeFile(configPath(), R"({"fadeDurationSeconds": -4, "frameRate": 500, "loggingEnabled": true,
      "safetyMinimumPercent": 12, "increaseMaxShortcutKey": " Brightness_Up ", "language": "ja",
      "steps": [{"brightnessPercent": 140, "idleSeconds": -3}], "selectedDisplayIDs": [3, 1, 3],
      "displayMaximumPercents": [1, 5, 2, 300], "displayMinimumPercents": [1, 90], "manualBrightnessPercent": 30})");
  StepStore store{ports()};
  EXPECT_EQ(store.fadeDurationSeconds.get(), 0);
  EXPECT_EQ(store.frameRate.get(), 60);
  EXPECT_FALSE(store.loggingEnabled.get());  // diagnostic logging always starts off
  EXPECT_FALSE(DDCDebug::state().enabled);
  EXPECT_EQ(store.safetyMinimumPercent.get(), 10);
  EXPECT_EQ(store.increaseMaxShortcutKey.get(), "brightness_up");
  EXPECT_EQ(L10n::resolvedLanguageCode(), "ja");
  EXPECT_EQ(store.steps().at(0), (IdleStep{store.steps()[0].id, 0, 100}));
  EXPECT_EQ(store.selectedDisplayIDs.get(), (std::set<DisplayID>{1, 3}));
  EXPECT_EQ(store.displayMaximumPercents(), (std::map<DisplayID, double>{{1, 10}, {2, 100}}));
  EXPECT_EQ(store.displayMinimumPercents(), (std::map<DisplayID, double>{{1, 10}, {2, 10}}));
  EXPECT_EQ(store.manualBrightnessPercent, 30);
  EXPECT_EQ(store.completedSaveCount(), 1u);
  const auto file = decodeConfig(readFile(configPath()));
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->loggingEnabled);
  EXPECT_EQ(file->steps, store.steps());
  EXPECT_EQ(file->displayMinimumPercents, store.displayMinimumPercents());
}

TEST_F(StepStoreTest, legacyEmptyAndMissingStepLists) {
  {
    StepStore first{ports()};  // no file: the defaults are written
    EXPECT_EQ(first.configURL(), configPath());
    EXPECT_EQ(decodeConfig(readFile(configPath()))->steps, first.steps());
    EXPECT_EQ(first.steps().size(), 4u);
  }
  writeFile(configPath(), R"([{"brightnessPercent": 60, "idleMinutes": 1}, {"brightnessPercent": 25, "idleSeconds": 900}])");
  {
    StepStore legacy{ports()};
    ASSERT_EQ(legacy.steps().size(), 2u);
    EXPECT_EQ(legacy.steps()[0].idleSeconds, 60);
    EXPECT_EQ(decodeConfig(readFile(configPath()))->steps, legacy.steps());  // now a full document
  }
  for (const char* replaced : {"[]", R"({"fadeDurationSeconds": 6})"}) {
    writeFile(configPath(), replaced);
    EXPECT_EQ(StepStore(ports()).steps().size(), 4u) << replaced;
  }
  writeFile(configPath(), R"({"fadeDurationSeconds": 6, "steps": []})");
  StepStore empty{ports()};
  EXPECT_TRUE(empty.steps().empty());
  EXPECT_EQ(decodeConfig(readFile(configPath()))->steps.at(2).idleSeconds, 600);  // an empty list is never written
}

TEST_F(StepStoreTest, badFilesLoadByTheFallbacksAndLeaveAValidDocument) {
  std::string manySteps = R"({"fadeDurationSeconds": 6, "steps": [{"brightnessPercent": 50})";
  for (int i = 1; i < 10000; ++i) manySteps += R"(, {"brightnessPercent": 50, "idleSeconds": )" + std::to_string(i) + "}";
  const std::string bad[] = {
      R"({"fadeDurationSeconds": 6, "steps": [{"brightnessPercent": 5)",
      R"({"fadeDurationSeconds": 1e308, "frameRate": -24, "safetyMinimumPercent": 1e308,
          "steps": [{"brightnessPercent": -1e308, "idleSeconds": 1e308}], "displayMaximumPercents": [1, -1e308],
          "displayMinimumPercents": [1, 1e308], "manualBrightnessPercent": -1e308,
          "displayProfiles": {"K": {"minimum": 1e308, "maximum": -1e308, "fullGamma": true, "selected": true}}})",
      std::string(100000, '['),
      manySteps + "]}",
  };
  for (const std::string& text : bad) {
    writeFile(configPath(), text);
    StepStore store{ports()};
    const auto file = decodeConfig(readFile(configPath()));
    ASSERT_TRUE(file) << text.substr(0, 60);
    EXPECT_EQ(file->steps, store.steps());
    EXPECT_GE(store.frameRate.get(), 1);
    EXPECT_LE(store.safetyMinimumPercent.get(), 50);
    for (const auto& [id, value] : store.displayMinimumPercents()) EXPECT_LE(value, store.displayMaximumPercent(id));
  }
  EXPECT_EQ(decodeConfig(readFile(configPath()))->steps.size(), 10000u);
}

TEST_F(StepStoreTest, unwritableFolderLogsAndKeepsSettingsInMemory) {
  writeFile(folder.path() / "blocker", "a file where the folder should be");  // root ignores read-only modes
  environment.applicationSupport = folder.path() / "blocker";
  StepStore store{ports()};
  EXPECT_TRUE(log->contains("Failed to save config: " + (folder.path() / "blocker" / "Dimmora").string() + ": Not a directory"));
  log->clear();
  store.frameRate = 30.0;
  EXPECT_EQ(store.frameRate.get(), 30);
  EXPECT_EQ(store.completedSaveCount(), 0u);
  ASSERT_EQ(log->entries.size(), 1u);
  EXPECT_EQ(log->entries[0].category, LogCategory::app);
  EXPECT_EQ(log->entries[0].level, LogLevel::error);
}

TEST_F(StepStoreTest, legacyFileIsCopiedOnceAndLeftInPlace) {
  const auto legacy = folder.path() / "bin" / "config.json";
  writeFile(legacy, R"([{"brightnessPercent": 33, "idleSeconds": 45}])");
  EXPECT_EQ(StepStore(ports()).steps().at(0).brightnessPercent, 33);
  EXPECT_TRUE(std::filesystem::exists(legacy));
  EXPECT_TRUE(log->contains("Migrated legacy config from " + legacy.string() + " to " + configPath().string()));
  log->clear();
  writeFile(legacy, R"([{"brightnessPercent": 77, "idleSeconds": 45}])");
  EXPECT_EQ(StepStore(ports()).steps().at(0).brightnessPercent, 33);  // the target exists now
  EXPECT_TRUE(log->entries.empty());

  std::filesystem::remove_all(folder.path() / "support");
  writeFile(folder.path() / "support", "blocks the folder");
  EXPECT_EQ(StepStore(ports()).steps().size(), 4u);  // loading goes on without it
  ASSERT_FALSE(log->entries.empty());
  EXPECT_TRUE(log->entries[0].message.starts_with("Failed to migrate legacy config: "));
}

TEST_F(StepStoreTest, configAndLegacyLocations) {
  const auto bundle = folder.path() / "Apps" / "Dimmora.app" / "Contents" / "MacOS";
  writeFile(bundle / "Dimmora", "");
  std::filesystem::create_symlink(bundle / "Dimmora", folder.path() / "link");
  environment.executable = "link";  // relative to the working folder, then resolved
  EXPECT_EQ(StepStore::adjacentLegacyConfigURL(&environment), std::filesystem::canonical(folder.path()) / "Apps" / "config.json");
  environment.executable = folder.path() / "Other.app" / "MacOS" / "x";  // no Contents folder: not a bundle
  EXPECT_EQ(StepStore::adjacentLegacyConfigURL(&environment), folder.path() / "Other.app" / "MacOS" / "config.json");
  environment.applicationSupport.reset();
  EXPECT_EQ(StepStore::defaultConfigURL(&environment), folder.path() / "home" / ".config" / "Dimmora" / "config.json");
}

TEST_F(StepStoreTest, resetToDefaultsWritesOnce) {
  StepStore store{ports()};
  store.frameRate = 50.0;
  store.setDisplayMaximumPercent(70, 9);
  store.setDisplayMinimumPercent(30, 4);
  store.selectedDisplayIDs = std::set<DisplayID>{9, 4};
  store.manualBrightnessPercent = 20;
  const std::size_t before = store.completedSaveCount();
  store.resetToDefaults({1, 4});
  EXPECT_EQ(store.completedSaveCount(), before + 1);
  EXPECT_EQ(store.frameRate.get(), 24);
  EXPECT_EQ(store.selectedDisplayIDs.get(), (std::set<DisplayID>{1, 4}));
  EXPECT_EQ(store.displayMaximumPercents(), (std::map<DisplayID, double>{{1, 100}, {4, 100}}));
  EXPECT_EQ(store.displayMinimumPercents(), (std::map<DisplayID, double>{{1, 5}, {4, 5}}));
  EXPECT_EQ(store.displayFullGammaModes.get(), (std::map<DisplayID, bool>{{1, false}, {4, false}}));
  EXPECT_EQ(store.manualBrightnessPercent, 100);
}

TEST_F(StepStoreTest, anOverflowingNumberIsInfiniteAndClampedAndTheRestIsKept) {
  writeFile(configPath(), R"({"fadeDurationSeconds": 1e400, "frameRate": 30, "language": "ja",
      "increaseMaxShortcutKey": "u", "safetyMinimumPercent": -1e400, "manualBrightnessPercent": 1E+999,
      "steps": [{"brightnessPercent": 60, "idleSeconds": 0}, {"brightnessPercent": 1e400, "idleSeconds": 1e400}],
      "displayMaximumPercents": [7, )" + std::string("1") + std::string(400, '0') + R"(],
      "displayProfiles": {"K \"1e400\"": {"minimum": 20, "maximum": 80, "fullGamma": true, "selected": true}}})");
  StepStore store{ports()};
  EXPECT_EQ(store.frameRate.get(), 30);  // the rest of the file is kept
  EXPECT_EQ(L10n::resolvedLanguageCode(), "ja");
  EXPECT_EQ(store.increaseMaxShortcutKey.get(), "u");
  EXPECT_EQ(store.fadeDurationSeconds.get(), 0);       // an infinite fade is refused as ever
  EXPECT_EQ(store.safetyMinimumPercent.get(), 5);      // non-finite: the default floor
  EXPECT_EQ(store.manualBrightnessPercent, 100);       // non-finite: full
  EXPECT_EQ(store.steps().at(0).brightnessPercent, 60);
  EXPECT_EQ(store.steps().at(1).brightnessPercent, 100);
  EXPECT_EQ(store.steps().at(1).idleSeconds, std::numeric_limits<double>::max());  // "never", finite
  EXPECT_EQ(store.displayMaximumPercent(7), 100);
  ASSERT_TRUE(store.displayProfiles().contains("K \"1e400\""));  // text inside strings is left alone
  EXPECT_EQ(store.displayProfiles().at("K \"1e400\"").maximum, 80);
  EXPECT_FALSE(std::filesystem::exists(configPath().string() + ".bad"));
  EXPECT_TRUE(log->entries.empty());
  // What was written reads back the same.
  const auto file = decodeConfig(readFile(configPath()));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->steps, store.steps());
  EXPECT_EQ(file->frameRate, 30);
  // Out of range of the grammar, a number that overflows is still malformed.
  EXPECT_FALSE(decodeConfig(R"({"fadeDurationSeconds": 01e400, "steps": []})"));
}

TEST_F(StepStoreTest, anUnusableFileIsKeptAsBadOnceAndTheLogSaysSo) {
  const std::string bad = configPath().string() + ".bad";
  const std::string valid = R"({"fadeDurationSeconds": 9, "steps": [{"brightnessPercent": 50}]})";
  const std::string typo = R"({"fadeDurationSeconds": 9, "steps": [{"brightnessPercent": 50}],})";
  std::string padded = valid;
  padded.resize(StepStore::kLargestConfigBytes + 1, ' ');  // valid JSON, but no configuration is that large
  const std::pair<std::string, std::string> cases[] = {
      {"", "it is a FIFO, not a regular file"},  // opened without waiting for a writer
      {typo, "it is not a valid configuration"},
      {valid + std::string(1, '\0') + "garbage", "it is not a valid configuration"},
      {padded, std::to_string(padded.size()) + " bytes is more than any configuration holds"},
  };
  std::filesystem::create_directories(configPath().parent_path());
  for (const auto& [text, reason] : cases) {
    std::filesystem::remove(configPath());
    if (text.empty()) {
      ASSERT_EQ(::mkfifo(configPath().c_str(), 0600), 0);
    } else {
      writeFile(configPath(), text);
    }
    log->clear();
    ::alarm(10);  // an open that waits ends the test instead of hanging it
    StepStore store{ports()};
    ::alarm(0);
    EXPECT_EQ(store.fadeDurationSeconds.get(), 6) << reason;  // the defaults
    if (text.empty()) {
      EXPECT_TRUE(std::filesystem::is_fifo(bad));
    } else {
      EXPECT_EQ(readWholeFile(bad, text.size()).bytes, text) << reason;  // the last unusable file, whole
    }
    EXPECT_TRUE(log->contains("Ignored " + configPath().string() + " (" + reason + "); it is kept as " + bad +
                              " and the defaults are used"))
        << reason;
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(configPath()))) << reason;
    EXPECT_TRUE(decodeConfig(readFile(configPath()))) << reason;
  }
  // A file of gigabytes is refused at once, without reading it.
  writeFile(configPath(), valid);
  std::filesystem::resize_file(configPath(), std::uintmax_t{2} << 30);  // sparse
  const auto started = std::chrono::steady_clock::now();
  StepStore store{ports()};
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  EXPECT_EQ(std::filesystem::file_size(bad), std::uintmax_t{2} << 30);
  EXPECT_EQ(store.fadeDurationSeconds.get(), 6);
}

namespace {
// Root reads every file; without these two capabilities it meets file modes as any user does.
class ScopedFileModesApply {
 public:
  ScopedFileModesApply() {
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    lowered_ = ::syscall(SYS_capset, &header_, lowered) == 0;
  }
  ~ScopedFileModesApply() {
    if (lowered_) ::syscall(SYS_capset, &header_, saved_);
  }
  ScopedFileModesApply(const ScopedFileModesApply&) = delete;
  ScopedFileModesApply& operator=(const ScopedFileModesApply&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool lowered_ = false;
};
}  // namespace

TEST_F(StepStoreTest, anUnreadableFileIsKeptAsItIsAndNothingIsSavedOverIt) {
  const std::string text = R"({"fadeDurationSeconds": 9, "frameRate": 30, "steps": [{"brightnessPercent": 50}]})";
  writeFile(configPath(), text);
  std::filesystem::permissions(configPath(), std::filesystem::perms::none);
  {
    ScopedFileModesApply asAnyUser;
    StepStore store{ports()};
    EXPECT_EQ(store.frameRate.get(), 24);  // the defaults, in memory only
    store.frameRate = 40.0;
    store.resetToDefaults({1});
    EXPECT_EQ(store.completedSaveCount(), 0u);
    ASSERT_TRUE(store.fileNotice());
    EXPECT_EQ(store.fileNotice()->kind, StepStore::FileNotice::Kind::unreadable);
    EXPECT_EQ(store.fileNotice()->detail, "Permission denied");
  }
  EXPECT_TRUE(log->contains("Cannot read " + configPath().string() +
                            " (Permission denied): the default settings are used and nothing is saved to it until "
                            "it can be read"));
  EXPECT_FALSE(std::filesystem::exists(configPath().string() + ".bad"));
  EXPECT_EQ(std::filesystem::status(configPath()).permissions(), std::filesystem::perms::none);
  std::filesystem::permissions(configPath(), std::filesystem::perms::owner_read);
  EXPECT_EQ(readFile(configPath()), text);
  // Readable again, it is the user's file as before.
  StepStore later{ports()};
  EXPECT_EQ(later.frameRate.get(), 30);
  EXPECT_FALSE(later.fileNotice());
}

TEST_F(StepStoreTest, aLinkIsSavedThroughOnlyToARegularFileOfTheUsersOwn) {
  const auto elsewhere = folder.path() / "elsewhere";
  std::filesystem::create_directories(elsewhere);
  std::filesystem::create_directories(configPath().parent_path());
  const std::string others = (folder.path() / "others").string();
  const std::string held = R"({"fadeDurationSeconds": 9, "steps": [{"brightnessPercent": 50}]})";
  writeFile(others + "/config.json", held);
  std::vector<std::pair<std::filesystem::path, std::string>> targets;  // and why it is not written through
  ASSERT_EQ(::mkfifo((elsewhere / "pipe").c_str(), 0600), 0);
  targets.push_back({elsewhere / "pipe", "it is a FIFO, not a regular file"});
  // A device node of its own (root can make one): what a link to /dev/zero would meet.
  if (::mknod((elsewhere / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    targets.push_back({elsewhere / "null", "it is a character device, not a regular file"});
  // A readable settings file in a folder that belongs to someone else (root can give it away).
  if (::chown(others.c_str(), 65534, 65534) == 0)
    targets.push_back({others + "/config.json", "its folder " + others + " is not one of yours"});
  for (const auto& [path, why] : targets) {
    SCOPED_TRACE(why);
    const auto type = std::filesystem::status(path).type();
    std::filesystem::remove(configPath());
    std::filesystem::remove(configPath().string() + ".bad");
    std::filesystem::create_symlink(path, configPath());
    log->clear();
    ::alarm(10);
    StepStore store{ports()};
    ::alarm(0);
    store.frameRate = 30.0;
    EXPECT_EQ(std::filesystem::status(path).type(), type);
    if (type == std::filesystem::file_type::regular) {
      EXPECT_EQ(readFile(path), held);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(configPath())));
    EXPECT_EQ(decodeConfig(readFile(configPath()))->frameRate, 30);
    EXPECT_TRUE(log->contains(configPath().string() + " links to " + path.string() +
                              ", which is not written through (" + why + "): the link itself is replaced"));
  }
  EXPECT_GE(targets.size(), 1u);
}

TEST_F(StepStoreTest, aValueOfTheWrongTypeTakesItsDefaultAloneAndTheLogSaysWhich) {
  const std::string text = R"({"fadeDurationSeconds": 9, "frameRate": "30", "fadeCurve": "bouncy", "language": "ja",
      "safetyMinimumPercent": 10, "selectedDisplayIDs": [3], "manualBrightnessPercent": 80,
      "steps": [{"brightnessPercent": 50, "idleSeconds": 0}, {"brightnessPercent": 20, "idleSeconds": 300}]})";
  writeFile(configPath(), text);
  StepStore store{ports()};
  EXPECT_EQ(store.frameRate.get(), 24);
  EXPECT_EQ(store.fadeCurve.get(), FadeCurve::easeOut);
  // Everything else the file holds is kept.
  EXPECT_EQ(store.fadeDurationSeconds.get(), 9);
  EXPECT_EQ(L10n::resolvedLanguageCode(), "ja");
  EXPECT_EQ(store.safetyMinimumPercent.get(), 10);
  EXPECT_EQ(store.selectedDisplayIDs.get(), std::set<DisplayID>{3});
  EXPECT_EQ(store.manualBrightnessPercent, 80);
  ASSERT_EQ(store.steps().size(), 2u);
  EXPECT_EQ(store.steps()[1].idleSeconds, 300);

  const auto bad = configPath().string() + ".bad";
  EXPECT_TRUE(log->contains("Used the defaults for frameRate, fadeCurve in " + configPath().string() +
                            R"( (frameRate holds the text "30" where a number belongs; fadeCurve holds the text )"
                            R"("bouncy" where easeIn, easeInOut, easeOut or linear belongs); the file as it was is )"
                            "kept as " + bad));
  EXPECT_EQ(readFile(bad), text);
  ASSERT_TRUE(store.fileNotice());
  EXPECT_EQ(store.fileNotice()->kind, StepStore::FileNotice::Kind::valuesIgnored);
  EXPECT_EQ(store.fileNotice()->detail, "frameRate, fadeCurve");
  // The file is rewritten whole, in the usual layout.
  std::vector<IgnoredValue> ignored;
  const auto written = decodeConfig(readFile(configPath()), &ignored);
  ASSERT_TRUE(written);
  EXPECT_TRUE(ignored.empty());
  EXPECT_EQ(written->frameRate, 24);
  EXPECT_EQ(written->safetyMinimumPercent, 10);
  EXPECT_EQ(readFile(configPath()), pythonPrettyPrinted(configPath()));
}

TEST_F(StepStoreTest, everySaveWritesTheFileThoughItShouldHoldTheSameAlready) {
  StepStore store{ports()};
  store.frameRate = 30.0;
  const std::string handEdit = R"({"frameRate": 50, "steps": [{"brightnessPercent": 50}]})";
  writeFile(configPath(), handEdit);  // edited by hand while the program runs
  store.frameRate = 30.0;             // set again to what the window shows
  EXPECT_EQ(saved()["frameRate"], 30);
  writeFile(configPath(), handEdit);
  store.saveConfig();
  EXPECT_EQ(saved()["frameRate"], 30);
  EXPECT_EQ(StepStore(ports()).completedSaveCount(), 1u);  // a start writes what it adopted, once
}

TEST_F(StepStoreTest, aSymlinkedFileIsSavedThroughTheLinkWithItsModeAndLeftoversAreCleaned) {
  const auto target = folder.path() / "dotfiles" / "dimmora.json";
  writeFile(target, R"({"fadeDurationSeconds": 9, "steps": [{"brightnessPercent": 50}]})");
  std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::create_directories(configPath().parent_path());
  std::filesystem::create_symlink("../../dotfiles/dimmora.json", configPath());
  // A save killed before its rename left these behind; one is older than any save takes.
  const auto stale = target.parent_path() / ".dimmora.json.0a1b2c3d";
  const auto fresh = target.parent_path() / ".dimmora.json.4e5f6a7b";
  const auto unrelated = target.parent_path() / ".dimmora.json.keep";
  for (const auto& path : {stale, fresh, unrelated}) writeFile(path, "{");
  std::filesystem::last_write_time(stale, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));

  StepStore store{ports()};
  EXPECT_EQ(store.fadeDurationSeconds.get(), 9);
  store.frameRate = 30.0;
  EXPECT_TRUE(std::filesystem::is_symlink(configPath()));
  EXPECT_EQ(decodeConfig(readFile(target))->frameRate, 30);
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(fresh));  // possibly a save in progress
  EXPECT_TRUE(std::filesystem::exists(unrelated));
}
