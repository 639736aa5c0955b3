// SPDX-License-Identifier: GPL-3.0-or-later
// The Debian package as a user gets it: built by scripts/package, clean under
// Debian's own checks, holding what it should, and a program that runs from
// where it is installed.
#include <gtest/gtest.h>

#include <set>

#include "AppTestSupport.hpp"

namespace {
std::string packagePath;

int exitCode(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

class Package : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifdef DIMMORA_SANITIZED
    return;
#else
    const auto printed = run("DIMMORA_BUILD_DIR=" DIMMORA_BUILD_DIR " " DIMMORA_SOURCE_DIR "/scripts/package 2>/dev/null");
    packagePath = printed.substr(0, printed.find('\n'));
#endif
  }
  void SetUp() override {
#ifdef DIMMORA_SANITIZED
    GTEST_SKIP() << "packages are built from an ordinary build, not a sanitizer one";
#endif
    ASSERT_TRUE(packagePath.size() > 4 && std::filesystem::exists(packagePath)) << "scripts/package made no .deb";
    ASSERT_EQ(exitCode("dpkg-deb -x '" + packagePath + "' '" + root.root().string() + "'"), 0);
  }
  std::filesystem::path installed(const std::string& relative) const { return root.path(relative); }

  TempTree root;
};

TEST_F(Package, PassesLintianAndTheDesktopValidators) {
  const auto lintian = run("lintian --fail-on error '" + packagePath + "' 2>&1; echo exit=$?");
  EXPECT_NE(lintian.find("exit=0"), std::string::npos) << lintian;
  EXPECT_EQ(lintian.find("E: "), std::string::npos) << lintian;
  const auto desktop = installed("usr/share/applications/io.github.dimmora.Dimmora.desktop");
  EXPECT_EQ(exitCode("desktop-file-validate '" + desktop.string() + "'"), 0);
  const auto metainfo = installed("usr/share/metainfo/io.github.dimmora.Dimmora.metainfo.xml");
  EXPECT_EQ(exitCode("appstreamcli validate --no-net '" + metainfo.string() + "' >/dev/null"), 0);
}

TEST_F(Package, InstallsTheProgramItsTablesDesktopFilesAndMonitorAccess) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root.root()))
    if (!entry.is_directory()) files.insert(std::filesystem::relative(entry.path(), root.root()).string());
  const std::set<std::string> expected = {
      "usr/bin/dimmora",
      "usr/share/dimmora/Localization/en.json",
      "usr/share/dimmora/Localization/ja.json",
      "usr/share/applications/io.github.dimmora.Dimmora.desktop",
      "usr/share/metainfo/io.github.dimmora.Dimmora.metainfo.xml",
      "usr/share/icons/hicolor/scalable/apps/io.github.dimmora.Dimmora.svg",
      "usr/share/icons/hicolor/symbolic/apps/io.github.dimmora.Dimmora-symbolic.svg",
      "usr/lib/udev/rules.d/70-dimmora-i2c.rules",
      "usr/lib/modules-load.d/dimmora.conf",
      "usr/share/doc/dimmora/copyright",
      "usr/share/doc/dimmora/changelog.gz",
      "usr/share/doc/dimmora/README.md",
      "usr/share/man/man1/dimmora.1.gz",
  };
  EXPECT_EQ(files, expected);

  const auto rule = readTextFile(installed("usr/lib/udev/rules.d/70-dimmora-i2c.rules")).value_or("");
  EXPECT_NE(rule.find(R"(SUBSYSTEM=="i2c-dev")"), std::string::npos);
  EXPECT_NE(rule.find(R"(ATTRS{class}=="0x03*")"), std::string::npos);
  EXPECT_NE(rule.find(R"(TAG+="uaccess")"), std::string::npos);
  EXPECT_NE(readTextFile(installed("usr/lib/modules-load.d/dimmora.conf")).value_or("").find("\ni2c-dev\n"),
            std::string::npos);

  // Dependencies come from the libraries the program links, plus the Wayland platform plugin.
  const auto depends = run("dpkg-deb -f '" + packagePath + "' Depends");
  for (const char* library : {"libqt6widgets6", "libsystemd0", "libx11-6", "libxrandr2", "libc6", "qt6-wayland"})
    EXPECT_NE(depends.find(library), std::string::npos) << depends;
  // Stripped: the build's debug information stays out of the package.
  EXPECT_EQ(run("readelf -S '" + installed("usr/bin/dimmora").string() + "'").find(".debug_info"), std::string::npos);
}

TEST_F(Package, TheInstalledProgramFindsItsTablesAndALoneCopyDoesNot) {
  REQUIRE_X_SERVER();
  TempTree home;
  std::filesystem::create_directories(home.path("run"));
  std::filesystem::permissions(home.path("run"), std::filesystem::perms::owner_all);
  // Away from the build tree, whose AppResources a program would also find from its working folder.
  const auto elsewhere = home.folder("elsewhere");
  auto startedAndStopped = [&](const std::string& program) {
    std::filesystem::remove(home.path("app.log"));
    App app(home, {"LANGUAGE=ja", "DBUS_SESSION_BUS_ADDRESS="}, {program, elsewhere});
    EXPECT_TRUE(waitFor([&] {
      return readTextFile(home.path("app.log")).value_or("").find("Engine started") != std::string::npos;
    }, 10s));
    EXPECT_EQ(app.stop(SIGTERM), 0);
    return readTextFile(home.path("app.log")).value_or("");
  };
  const auto installedLog = startedAndStopped(installed("usr/bin/dimmora").string());
  EXPECT_EQ(installedLog.find("No localization table"), std::string::npos) << installedLog;

  const auto lone = home.path("lone/dimmora");
  std::filesystem::create_directories(lone.parent_path());
  std::filesystem::copy_file(installed("usr/bin/dimmora"), lone);
  const auto loneLog = startedAndStopped(lone.string());
  EXPECT_NE(loneLog.find("No localization table found"), std::string::npos) << loneLog;
}
