// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "menu/SystemFacts.hpp"
#include "MenuTestSupport.hpp"

namespace {

namespace fs = std::filesystem;
using Kind = ConfirmationCard::Kind;

class MaintenanceTest : public MenuTest {
 protected:
  MaintenanceTest() { twoMonitors(); }
  MaintenanceActions& actions() { return menu->maintenance(); }
  Kind cardKind() {
    const auto card = actions().card();
    EXPECT_TRUE(card);
    return card ? card->kind : Kind::uninstallError;
  }
  std::size_t buttonIndex(const std::string& key) {
    const auto card = actions().card();
    for (std::size_t i = 0; card && i < card->buttons.size(); ++i)
      if (card->buttons[i].label == L10n::text(key)) return i;
    ADD_FAILURE() << "no button " << key;
    return 99;
  }
  // A file where the configuration folder belongs, once the writer thread is done with the folder.
  void blockConfigFolder() {
    stepStore->flushSaves();
    fs::remove_all(configFolder());
    writeFile(configFolder(), "a file where the folder should be");
  }
  bool quitsWithin(double seconds) {
    loop.advance(seconds);
    return application.quitRequests > 0;
  }
};

TEST_F(MaintenanceTest, CardsFollowTheirOrderAndEscapePressesTheCancelButton) {
  makeMenu();
  EXPECT_FALSE(actions().card());
  actions().requestUninstallPreparation();
  EXPECT_EQ(cardKind(), Kind::uninstallConfirmation);
  EXPECT_EQ(actions().card()->buttons.size(), 3u);
  actions().requestResetConfirmation();
  EXPECT_EQ(cardKind(), Kind::resetConfirmation) << "reset comes before uninstall";
  actions().pressEscape();  // the reset card's cancel
  EXPECT_FALSE(actions().showingResetConfirmation());
  EXPECT_EQ(cardKind(), Kind::uninstallConfirmation);
  actions().pressEscape();
  EXPECT_FALSE(actions().card());
  EXPECT_EQ(application.quitRequests, 0);
  EXPECT_TRUE(fileManager.revealed.empty()) << "cancel prepares nothing";

  // An error shows over a pending confirmation; its OK (or Escape) clears only the error.
  autostart.enabled = true;
  autostart.refuseWith = "autostart folder is read-only";
  menu->appear();
  actions().requestUninstallPreparation();
  actions().pressCardButton(buttonIndex("uninstall_keep_data"));
  actions().requestResetConfirmation();
  ASSERT_EQ(cardKind(), Kind::uninstallError);
  EXPECT_EQ(actions().card()->message, "autostart folder is read-only");
  EXPECT_EQ(actions().card()->title, L10n::text("uninstall_error_title"));
  actions().pressEscape();
  EXPECT_EQ(cardKind(), Kind::resetConfirmation);
}

TEST_F(MaintenanceTest, ResetStopsTheCaptureAndPutsEverythingBackThoughTheLoginItemStays) {
  makeMenu();
  autostart.enabled = true;
  menu->appear();
  menu->setGlassTransparency(80);
  menu->setStepsOpen(true);
  menu->setAdvancedSettingsOpen(true);
  menu->setDisplaysOpen(true);
  stepStore->frameRate = 60.0;
  stepStore->safetyMinimumPercent = 30.0;
  menu->setDisplaySelected(2, false);
  actions().toggleDiagnostics();
  ASSERT_TRUE(actions().diagnosticsRunning());

  actions().requestResetConfirmation();
  actions().pressCardButton(buttonIndex("reset_settings"));
  EXPECT_FALSE(actions().card());
  EXPECT_FALSE(actions().diagnosticsRunning());
  EXPECT_FALSE(autostart.enabled);
  EXPECT_EQ(menu->glassAppearance().percent(), 35);
  EXPECT_EQ(menu->savedGlassTransparency(), 35);
  EXPECT_FALSE(menu->isStepsOpen());
  EXPECT_FALSE(menu->isDisplaysOpen());
  EXPECT_FALSE(menu->isAdvancedSettingsOpen());
  EXPECT_EQ(stepStore->frameRate.get(), 24);
  EXPECT_EQ(stepStore->safetyMinimumPercent.get(), 5);
  EXPECT_TRUE(menu->isDisplaySelected(2)) << "every listed display is selected again";
  loop.advance(1);
  EXPECT_TRUE(engine->isStarted()) << "the engine runs again";
  EXPECT_TRUE(loop.activeRepeatingTimers().empty()) << "and rests between events";

  // A login item that cannot be removed does not stop the reset.
  autostart.enabled = true;
  menu->applicationBecameActive();
  stepStore->frameRate = 60.0;
  autostart.refuseWith = "permission denied";
  actions().resetSettings();
  EXPECT_EQ(menu->loginLaunch().error.get(), "permission denied");
  EXPECT_FALSE(actions().card()) << "shown in the advanced section, not on a card";
  EXPECT_EQ(stepStore->frameRate.get(), 24);
}

TEST_F(MaintenanceTest, UninstallKeepingDataRevealsTheProgramAndQuitsShortlyAfter) {
  makeMenu();
  actions().toggleDiagnostics();
  actions().requestUninstallPreparation();
  actions().pressCardButton(buttonIndex("uninstall_keep_data"));
  EXPECT_FALSE(actions().diagnosticsRunning());
  stepStore->flushSaves();
  EXPECT_TRUE(fs::exists(configFolder() / "config.json"));
  ASSERT_EQ(fileManager.revealed.size(), 2u) << "the capture file when it stopped, then the program";
  EXPECT_EQ(fileManager.revealed.back(), *environment.executable);
  EXPECT_FALSE(quitsWithin(0.29));
  menu.reset();  // the window may be gone by then: the quit still comes
  loop.advance(0.02);
  EXPECT_EQ(application.quitRequests, 1);
}

TEST_F(MaintenanceTest, RemovingDataDeletesTheFolderOrFindsNothingToDo) {
  makeMenu();
  actions().toggleDiagnostics();
  actions().toggleDiagnostics();  // a capture file lies in the folder too
  writeFile(configFolder() / "notes" / "kept.txt", "x");
  actions().prepareForUninstall(true);
  EXPECT_FALSE(fs::exists(configFolder()));
  EXPECT_FALSE(actions().uninstallPreparationError());
  loop.advance(0.3);
  EXPECT_EQ(application.quitRequests, 1);

  // Again, with the folder already gone.
  fileManager.revealed.clear();
  actions().prepareForUninstall(true);
  EXPECT_FALSE(actions().uninstallPreparationError());
  EXPECT_EQ(fileManager.revealed.size(), 1u);
}

TEST_F(MaintenanceTest, RemovingDataThroughASymlinkedFolderDeletesOnlyItsOwnEntries) {
  const fs::path elsewhere = home.path() / "dotfiles" / "dimmora";
  const fs::path outside = home.path() / "precious.txt";
  writeFile(elsewhere / "config.json", "{}");
  writeFile(outside, "keep me");
  fs::create_directories(configRoot);
  fs::create_directory_symlink(elsewhere, configFolder());
  fs::create_symlink(outside, elsewhere / "link-to-precious");
  fs::create_directory_symlink(home.path(), elsewhere / "link-to-home");
  makeMenu();
  actions().prepareForUninstall(true);
  EXPECT_FALSE(actions().uninstallPreparationError());
  EXPECT_FALSE(fs::exists(fs::symlink_status(configFolder())));
  EXPECT_TRUE(fs::is_directory(elsewhere)) << "the link's target folder is not ours";
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(fs::exists(*environment.executable));
}

// A failing step of the preparation stops it: nothing revealed, no quit, the settings file kept.
TEST_F(MaintenanceTest, AFailedUninstallPreparationShowsTheErrorAndKeepsRunning) {
  struct Failure {
    bool removeData;
    std::function<std::string()> cause;  // makes a step fail; gives what the error names
  };
  const Failure failures[] = {
      {true,
       [&] {
         autostart.refuseWith = "cannot remove autostart entry";
         return *autostart.refuseWith;
       }},
      {false,
       [&] {
         fileManager.refuse = true;
         return environment.executable->string();
       }},
      {true,
       [&] {
         fileManager.refuse = false;
         blockConfigFolder();
         return configFolder().string();
       }},
  };
  for (const auto& [removeData, cause] : failures) {
    autostart.enabled = true;
    makeMenu();
    menu->appear();
    const std::string named = cause();
    SCOPED_TRACE(named);
    actions().prepareForUninstall(removeData);
    ASSERT_TRUE(actions().uninstallPreparationError());
    EXPECT_NE(actions().uninstallPreparationError()->find(named), std::string::npos);
    EXPECT_TRUE(fileManager.revealed.empty());
    EXPECT_FALSE(quitsWithin(1));
    stepStore->flushSaves();
    EXPECT_TRUE(fs::exists(configFolder() / "config.json") || named == configFolder().string());
    autostart.refuseWith.reset();
  }
  // Without a file manager, showing the settings file fails on a card that names it.
  actions().pressEscape();
  fileManager.refuse = true;
  EXPECT_FALSE(actions().showConfiguration());
  ASSERT_EQ(actions().card()->kind, ConfirmationCard::Kind::actionFailed);
  EXPECT_NE(actions().card()->message.find(stepStore->configURL().string()), std::string::npos);
  EXPECT_TRUE(actions().card()->reportsFailure());
  actions().pressCardButton(0);  // "OK"
  EXPECT_FALSE(actions().card());
}

TEST_F(MaintenanceTest, PackagedInstallNamesThePackageInsteadOfShowingTheFile) {
  environment.executable = "/usr/bin/dimmora";
  writeFile(systemRoot.path() / "var/lib/dpkg/info/dimmora.list", "/.\n/usr\n/usr/bin\n/usr/bin/dimmora\n");
  makeMenu();
  actions().prepareForUninstall(false);
  ASSERT_EQ(cardKind(), Kind::uninstallPackage);
  EXPECT_NE(actions().card()->message.find("\"dimmora\""), std::string::npos);
  EXPECT_TRUE(fileManager.revealed.empty());
  EXPECT_EQ(application.quitRequests, 0);
  actions().pressEscape();
  EXPECT_EQ(application.quitRequests, 1);
}

TEST_F(MaintenanceTest, HelpAndACaptureFileThatNothingCanOpenShowTheErrorCard) {
  makeMenu({.systemRoot = "/", .homepage = "https://dimmora.example.org/"});
  urlOpener.refuse = true;
  EXPECT_FALSE(actions().openSupportLink(SupportLink::Kind::supportPage));
  ASSERT_TRUE(actions().card());
  EXPECT_NE(actions().card()->message.find("https://dimmora.example.org/en/dimmora/support/"), std::string::npos);
  actions().pressEscape();
  EXPECT_FALSE(actions().card());

  fileManager.refuse = true;
  actions().toggleDiagnostics();
  actions().toggleDiagnostics();  // the capture ends and its file is to be shown
  ASSERT_TRUE(actions().card());
  EXPECT_EQ(actions().card()->kind, ConfirmationCard::Kind::actionFailed);
  EXPECT_NE(actions().card()->message.find(DiagnosticCapture::shared().logURL.get()->string()), std::string::npos);
  menu->disappear();
  EXPECT_FALSE(actions().card()) << "closing the window dismisses it";
}

TEST_F(MaintenanceTest, SmallActionsHandOffToTheDesktop) {
  makeMenu();
  EXPECT_TRUE(actions().copyBuildNumber());
  EXPECT_TRUE(actions().copyBuildNumber());
  EXPECT_EQ(clipboard.entries, (std::vector<std::string>{"1.0.0 (202609091000)"}));
  EXPECT_TRUE(actions().showConfiguration());
  EXPECT_EQ(fileManager.revealed.back(), stepStore->configURL());
  clipboard.refuse = true;
  EXPECT_FALSE(actions().copyBuildNumber());
}

TEST_F(MaintenanceTest, DiagnosticSummaryDescribesTheSystemAndEachDisplay) {
  writeFile(systemRoot.path() / "etc/os-release",
            "NAME=\"Debian GNU/Linux\"\n# comment\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n");
  writeFile(systemRoot.path() / "proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
  makeMenu();
  stepStore->setDisplayMinimumPercent(37.5, 2);
  menu->setDisplaySelected(2, false);
  menu->setDisplayUsesFullGammaMode(1, true);
  const auto& displays = displayStore->displays.get();
  EXPECT_EQ(actions().diagnosticSummary(),
            "Dimmora 1.0.0 (202609091000)\n"
            "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64\n"
            "Master=100.0 Safety=5.0\n" +
                displays[0].name + " id=1 selected=true min=5.0 max=100.0 gamma=true\n" + displays[1].name +
                " id=2 selected=false min=37.5 max=100.0 gamma=false");
  actions().toggleDiagnostics();
  ASSERT_TRUE(DiagnosticCapture::shared().logURL.get());
  EXPECT_EQ(DiagnosticCapture::shared().logURL.get()->parent_path(), configFolder());
}

TEST(SystemFacts, OperatingSystemLineFallsBackStepByStep) {
  TemporaryFolder root("dimmora-os");
  EXPECT_EQ(SystemFacts::operatingSystemDescription(root.path()), "Linux");
  writeFile(root.path() / "proc/sys/kernel/osrelease", "6.8.0\n");
  EXPECT_EQ(SystemFacts::operatingSystemDescription(root.path()), "Linux 6.8.0");
  writeFile(root.path() / "usr/lib/os-release", "NAME='Arch Linux'\nVERSION=rolling\n");
  EXPECT_EQ(SystemFacts::operatingSystemDescription(root.path()), "Arch Linux rolling, Linux 6.8.0");
  writeFile(root.path() / "etc/os-release", "PRETTY_NAME=\"Say \\\"hi\\\"\"\n");
  EXPECT_EQ(SystemFacts::operatingSystemDescription(root.path()), "Say \"hi\", Linux 6.8.0");
  EXPECT_EQ(SystemFacts::fileURL("/opt/My Apps/README.md"), "file:///opt/My%20Apps/README.md");
}

TEST_F(MaintenanceTest, CaptureThatEndsByItselfShowsItsFileButNotAfterAnError) {
  makeMenu();
  actions().toggleDiagnostics();
  ASSERT_TRUE(actions().diagnosticsRunning());
  EXPECT_EQ(actions().diagnosticsButtonLabel(), L10n::text("diagnostics_stop"));
  loop.advance(MaintenanceActions::captureDurationSeconds + 1);
  EXPECT_FALSE(actions().diagnosticsRunning());
  ASSERT_EQ(fileManager.revealed.size(), 1u);
  EXPECT_EQ(fileManager.revealed[0], *DiagnosticCapture::shared().logURL.get());

  // A capture that cannot start reports its error and reveals nothing.
  blockConfigFolder();
  actions().toggleDiagnostics();
  EXPECT_FALSE(actions().diagnosticsRunning());
  EXPECT_TRUE(actions().captureError());
  actions().dismissCaptureError();
  EXPECT_FALSE(actions().captureError());
  EXPECT_EQ(fileManager.revealed.size(), 1u);
}

TEST_F(MaintenanceTest, SupportLinksUseTheBuildsHomepageOrTheInstalledReadme) {
  makeMenu({.systemRoot = "/", .homepage = "https://dimmora.example.org/"});
  auto links = actions().supportLinks();
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].url, "https://dimmora.example.org/en/dimmora/support/");
  EXPECT_EQ(links[1].url, "https://dimmora.example.org/en/dimmora/pay/");
  stepStore->language = AppLanguage::ja;
  EXPECT_EQ(actions().supportLinks()[1].url, "https://dimmora.example.org/ja/dimmora/pay/");
  EXPECT_TRUE(actions().openSupportLink(SupportLink::Kind::supportDevelopment));
  EXPECT_EQ(urlOpener.opened.back(), "https://dimmora.example.org/ja/dimmora/pay/");

  makeMenu({.systemRoot = "/", .homepage = ""});
  EXPECT_TRUE(actions().supportLinks().empty()) << "no web site and no README: no link";
  EXPECT_FALSE(actions().openSupportLink(SupportLink::Kind::supportPage));
  writeFile(home.path() / "share/doc/dimmora/README.md", "# Dimmora");
  links = actions().supportLinks();
  ASSERT_EQ(links.size(), 1u) << "no contribution link without a web site";
  EXPECT_EQ(links[0].kind, SupportLink::Kind::supportPage);
  EXPECT_EQ(links[0].url, SystemFacts::fileURL(home.path() / "share/doc/dimmora/README.md"));
  // The package's own copy, which stays where /usr/share/doc is left out.
  writeFile(home.path() / "share/dimmora/README.md", "# Dimmora");
  EXPECT_EQ(actions().supportLinks()[0].url, SystemFacts::fileURL(home.path() / "share/dimmora/README.md"));
}

}  // namespace
