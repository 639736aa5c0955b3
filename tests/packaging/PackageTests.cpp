// SPDX-License-Identifier: GPL-3.0-or-later
// The Debian package and the RPM as a distribution gets them: built by
// scripts/package, clean under Debian's and rpm's own checks, hardened, the
// same bytes from the same tree, holding what they should, and a program that
// runs from where it is installed.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <set>

#include "e2e/AppTestSupport.hpp"

namespace {
std::string debPath;
std::string rpmPath;

int exitCode(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string packageCommand(const std::string& settings, const std::string& formats) {
  return settings + " " DIMMORA_SOURCE_DIR "/scripts/package " + formats + " 2>/dev/null";
}

// Width and height from a PNG's header.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char header[24] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  const auto big = [&](int at) {
    return std::uint32_t(header[at]) << 24 | std::uint32_t(header[at + 1]) << 16 | std::uint32_t(header[at + 2]) << 8 |
           header[at + 3];
  };
  return {big(16), big(20)};
}

// The .deb and the .rpm of the tree as scripts/package prints them.
void buildPackages() {
  const auto printed = run(packageCommand("", "deb rpm"));
  const auto newline = printed.find('\n');
  debPath = printed.substr(0, newline);
  if (newline != std::string::npos) rpmPath = printed.substr(newline + 1, printed.find('\n', newline + 1) - newline - 1);
}

// An RPM's files, not its folders, without rpm's links from build ids to the program.
std::set<std::string> rpmFiles(const std::filesystem::path& rpm) {
  std::set<std::string> files;
  std::istringstream lines(run("rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\\n]' '" + rpm.string() + "' 2>/dev/null"));
  for (std::string mode, name; lines >> mode >> name;)
    if (!mode.starts_with('d') && !name.starts_with("/usr/lib/.build-id")) files.insert(name);
  return files;
}
}  // namespace

class Package : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifdef DIMMORA_SANITIZED
    return;
#else
    buildPackages();
#endif
  }
  void SetUp() override {
#ifdef DIMMORA_SANITIZED
    GTEST_SKIP() << "packages are built from an ordinary build, not a sanitizer one";
#endif
    ASSERT_TRUE(debPath.ends_with(".deb") && std::filesystem::exists(debPath)) << "scripts/package made no .deb";
    ASSERT_EQ(exitCode("dpkg-deb -x '" + debPath + "' '" + root.root().string() + "'"), 0);
  }
  std::filesystem::path installed(const std::string& relative) const { return root.path(relative); }
  // The package's files, not its folders, as paths from `top`.
  std::set<std::string> files(const std::string& top) const {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root.root()))
      if (!entry.is_directory()) found.insert(top + std::filesystem::relative(entry.path(), root.root()).string());
    return found;
  }
  std::string field(const std::string& name) const { return run("dpkg-deb -f '" + debPath + "' " + name); }

  TempTree root;
};

TEST_F(Package, PassesLintianAndTheDesktopValidatorsWithoutHardeningTags) {
  const auto lintian = run("lintian --pedantic --display-info --fail-on error,warning '" + debPath + "' 2>&1; echo exit=$?");
  EXPECT_NE(lintian.find("exit=0"), std::string::npos) << lintian;
  EXPECT_EQ(lintian.find("E: "), std::string::npos) << lintian;
  EXPECT_EQ(lintian.find("W: "), std::string::npos) << lintian;
  EXPECT_EQ(lintian.find("hardening-"), std::string::npos) << lintian;
  const auto desktop = installed("usr/share/applications/io.github.dimmora.Dimmora.desktop");
  EXPECT_EQ(exitCode("desktop-file-validate '" + desktop.string() + "'"), 0);
  const auto metainfo = installed("usr/share/metainfo/io.github.dimmora.Dimmora.metainfo.xml");
  EXPECT_EQ(exitCode("appstreamcli validate --no-net '" + metainfo.string() + "' >/dev/null"), 0);
}

TEST_F(Package, TheProgramIsBuiltWithDebiansHardeningAndWithoutTheBuildFolder) {
  const auto program = installed("usr/bin/dimmora").string();
  const auto dynamic = run("readelf -d '" + program + "'");
  EXPECT_NE(dynamic.find("BIND_NOW"), std::string::npos) << dynamic;
  EXPECT_NE(dynamic.find("PIE"), std::string::npos) << "position independent";
  EXPECT_NE(run("readelf -lW '" + program + "'").find("GNU_RELRO"), std::string::npos);
  const auto symbols = run("readelf --dyn-syms -W '" + program + "'");
  EXPECT_NE(symbols.find("__stack_chk_fail"), std::string::npos) << "stack protector";
  EXPECT_TRUE(std::regex_search(symbols, std::regex(R"(__(?!stack_)\w+_chk@)"))) << "fortified functions";
  // Journal fields and messages name source files relative to the tree, never the builder's folders.
  EXPECT_EQ(exitCode("grep -q -F '" DIMMORA_SOURCE_DIR "/' '" + program + "'"), 1) << "absolute source path";
  // Stripped: the build's debug information stays out of the package.
  EXPECT_EQ(run("readelf -S '" + program + "'").find(".debug_info"), std::string::npos);
}

TEST_F(Package, CarriesTheLicenceInDebianAndAppStreamTerms) {
  const auto copyright = readTextFile(installed("usr/share/doc/dimmora/copyright")).value_or("");
  EXPECT_TRUE(copyright.starts_with("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
  EXPECT_NE(copyright.find("Files: *\nCopyright: 2026 The Dimmora developers\nLicense: GPL-3+\n"), std::string::npos);
  EXPECT_NE(copyright.find("\"/usr/share/common-licenses/GPL-3\""), std::string::npos);
  EXPECT_EQ(copyright.find("All rights reserved"), std::string::npos);
  // The tree's COPYING is the licence itself, word for word.
  const auto common = readTextFile("/usr/share/common-licenses/GPL-3");
  ASSERT_TRUE(common);
  EXPECT_EQ(readTextFile(DIMMORA_SOURCE_DIR "/COPYING"), common);

  const auto metainfo = readTextFile(installed("usr/share/metainfo/io.github.dimmora.Dimmora.metainfo.xml")).value_or("");
  EXPECT_NE(metainfo.find("<project_license>GPL-3.0-or-later</project_license>"), std::string::npos);
  EXPECT_NE(metainfo.find("<metadata_license>CC0-1.0</metadata_license>"), std::string::npos);
  EXPECT_NE(metainfo.find(R"(<dbus type="user">io.github.dimmora.Dimmora</dbus>)"), std::string::npos);
  // An unpublished build invents no web address.
  EXPECT_EQ(metainfo.find("<url"), std::string::npos);
  EXPECT_EQ(metainfo.find("<screenshots>"), std::string::npos);
}

TEST_F(Package, InstallsTheProgramItsHelpTablesDesktopFilesAndMonitorAccess) {
  const std::set<std::string> expected = {
      "usr/bin/dimmora",
      "usr/share/dimmora/Localization/en.json",
      "usr/share/dimmora/Localization/ja.json",
      "usr/share/dimmora/README.md",
      "usr/share/applications/io.github.dimmora.Dimmora.desktop",
      "usr/share/metainfo/io.github.dimmora.Dimmora.metainfo.xml",
      "usr/share/icons/hicolor/scalable/apps/io.github.dimmora.Dimmora.svg",
      "usr/share/icons/hicolor/symbolic/apps/io.github.dimmora.Dimmora-symbolic.svg",
      "usr/share/icons/hicolor/32x32/apps/io.github.dimmora.Dimmora.png",
      "usr/share/icons/hicolor/48x48/apps/io.github.dimmora.Dimmora.png",
      "usr/share/icons/hicolor/64x64/apps/io.github.dimmora.Dimmora.png",
      "usr/lib/udev/rules.d/70-dimmora-i2c.rules",
      "usr/lib/modules-load.d/dimmora.conf",
      "usr/share/doc/dimmora/copyright",
      "usr/share/doc/dimmora/changelog.gz",
      "usr/share/man/man1/dimmora.1.gz",
  };
  EXPECT_EQ(files(""), expected);
  for (const std::uint32_t size : {32u, 48u, 64u}) {
    const auto name = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(pngSize(installed("usr/share/icons/hicolor/" + name + "/apps/io.github.dimmora.Dimmora.png")),
              std::make_pair(size, size));
  }
  // The desktop recolours a symbolic icon by its fills: an outline drawn with strokes would turn solid.
  const auto symbolic =
      readTextFile(installed("usr/share/icons/hicolor/symbolic/apps/io.github.dimmora.Dimmora-symbolic.svg")).value_or("");
  EXPECT_EQ(symbolic.find("stroke"), std::string::npos) << symbolic;
  EXPECT_NE(symbolic.find("fill-rule=\"evenodd\""), std::string::npos) << symbolic;

  const auto rule = readTextFile(installed("usr/lib/udev/rules.d/70-dimmora-i2c.rules")).value_or("");
  EXPECT_NE(rule.find(R"(SUBSYSTEM=="i2c-dev")"), std::string::npos);
  EXPECT_NE(rule.find(R"(ATTRS{class}=="0x03*")"), std::string::npos);
  EXPECT_NE(rule.find(R"(TAG+="uaccess")"), std::string::npos);
  EXPECT_NE(readTextFile(installed("usr/lib/modules-load.d/dimmora.conf")).value_or("").find("\ni2c-dev\n"),
            std::string::npos);

  // Dependencies come from the libraries the program links, plus the Wayland platform plugin.
  const auto depends = field("Depends");
  for (const char* library : {"libqt6widgets6", "libsystemd0", "libx11-6", "libxrandr2", "libc6", "qt6-wayland"})
    EXPECT_NE(depends.find(library), std::string::npos) << depends;
  EXPECT_EQ(field("Recommends"), "xdg-utils\n");
  EXPECT_NE(run("ar t '" + debPath + "'").find("data.tar.xz"), std::string::npos);
}

TEST_F(Package, AnswersHelpAndVersionWithoutADisplayOrAnInstanceAndRefusesOtherArguments) {
  TempTree home;
  std::filesystem::create_directories(home.path("run"));
  // Neither a display nor a session bus: the answers must not need them.
  const auto program = "env -i HOME='" + home.root().string() + "' XDG_RUNTIME_DIR='" + home.path("run").string() +
                       "' '" + installed("usr/bin/dimmora").string() + "'";
  const auto help = run(program + " --help 2>&1; echo exit=$?");
  EXPECT_TRUE(help.starts_with("Usage: dimmora [--show-window | --help | --version]\n")) << help;
  EXPECT_NE(help.find("DIMMORA_TRACE"), std::string::npos) << help;
  EXPECT_TRUE(help.ends_with("exit=0\n")) << help;
  EXPECT_EQ(run(program + " -h"), run(program + " --help"));
  const auto version = run(program + " --version 2>&1; echo exit=$?");
  EXPECT_TRUE(version.starts_with("dimmora 1.0.0 (202609091000)\n")) << version;
  EXPECT_NE(version.find("GPL-3.0-or-later"), std::string::npos) << version;
  EXPECT_TRUE(version.ends_with("exit=0\n")) << version;
  // Nothing reached for the instance: no lock was taken in the runtime folder.
  EXPECT_TRUE(std::filesystem::is_empty(home.path("run")));

  const auto unknown = run(program + " --verbose 2>&1 >/dev/null; echo exit=$?");
  EXPECT_EQ(unknown, "dimmora: unknown option '--verbose'\nTry 'dimmora --help' for more information.\nexit=2\n");
  EXPECT_NE(run(program + " --help extra 2>&1; echo exit=$?").find("unexpected argument 'extra'"), std::string::npos);
  EXPECT_TRUE(run(program + " --help extra 2>/dev/null; echo exit=$?").ends_with("exit=2\n"))
      << "a refused argument wins over --help";
}

TEST_F(Package, MaintainerScriptsLeaveAChrootAloneAndForgetTheRuleOnRemoval) {
  TempTree tools;
  ASSERT_EQ(exitCode("dpkg-deb -e '" + debPath + "' '" + tools.path("control").string() + "'"), 0);
  // Stand-ins for the system's commands, each noting how it was called.
  const auto calls = tools.path("calls");
  for (const char* command : {"modprobe", "udevadm"}) {
    const auto script = tools.write(std::string("bin/") + command, "#!/bin/sh\necho \"" + std::string(command) +
                                                                          " $*\" >> '" + calls.string() + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }
  auto runScript = [&](const std::string& name, const std::string& argument, bool chroot) {
    const auto ischroot = tools.write("bin/ischroot", chroot ? "#!/bin/sh\nexit 0\n" : "#!/bin/sh\nexit 1\n");
    std::filesystem::permissions(ischroot, std::filesystem::perms::owner_all);
    std::filesystem::remove(calls);
    const int status = exitCode("PATH='" + tools.path("bin").string() + ":/usr/bin:/bin' sh '" +
                                tools.path("control/" + name).string() + "' " + argument);
    EXPECT_EQ(status, 0) << name << " " << argument;
    return readTextFile(calls).value_or("");
  };
  const auto configured = runScript("postinst", "configure", false);
  EXPECT_NE(configured.find("modprobe i2c-dev\n"), std::string::npos) << configured;
  EXPECT_NE(configured.find("udevadm trigger --subsystem-match=i2c-dev --action=change\n"), std::string::npos);
  EXPECT_EQ(runScript("postinst", "configure", true), "") << "an image being built in a chroot";
  EXPECT_EQ(runScript("postrm", "remove", false), "udevadm control --reload-rules\n");
  EXPECT_EQ(runScript("postrm", "upgrade", false), "");
  EXPECT_EQ(runScript("postrm", "remove", true), "");
}

TEST_F(Package, TwoPackagingsOfTheSameTreeAreTheSameBytesAndAPublisherNamesThemselves) {
  // Unpublished: the description says so, rather than a made-up address.
  EXPECT_NE(field("Description").find("nobody publishes"), std::string::npos) << field("Description");
  EXPECT_EQ(field("").find("Homepage:"), std::string::npos) << field("");
  EXPECT_NE(field("Maintainer").find(".invalid>"), std::string::npos);

  const auto first = readTextFile(debPath);
  ASSERT_TRUE(first);
  std::filesystem::remove(debPath);
  ASSERT_EQ(run(packageCommand("", "deb")), debPath + "\n");
  EXPECT_TRUE(readTextFile(debPath) == first) << "the second packaging differs from the first";

  ASSERT_EQ(run(packageCommand("DIMMORA_MAINTAINER='Jane Doe <jane@example.org>'", "deb")), debPath + "\n");
  EXPECT_EQ(field("Maintainer"), "Jane Doe <jane@example.org>\n");
  EXPECT_EQ(field("Description").find("nobody publishes"), std::string::npos);
  const auto changelog = run("dpkg-deb --fsys-tarfile '" + debPath +
                             "' | tar -xO ./usr/share/doc/dimmora/changelog.gz | gzip -dc");
  EXPECT_NE(changelog.find(" -- Jane Doe <jane@example.org>  "), std::string::npos) << changelog;
  // Back to the unpublished package the other tests read.
  ASSERT_EQ(run(packageCommand("", "deb")), debPath + "\n");
  EXPECT_TRUE(readTextFile(debPath) == first);
}

TEST_F(Package, TheRpmHoldsTheSameFilesAndPassesRpmlint) {
  ASSERT_TRUE(rpmPath.ends_with(".rpm") && std::filesystem::exists(rpmPath)) << "scripts/package made no .rpm";
  // Fedora's and openSUSE's settings: gzip'd manual pages; the publisher signs.
  const auto lint = run("rpmlint -c " DIMMORA_SOURCE_DIR "/packaging/rpmlint.toml '" + rpmPath + "' 2>&1");
  EXPECT_NE(lint.find(" 0 errors"), std::string::npos) << lint;
  EXPECT_EQ(lint.find("E: "), std::string::npos) << lint;
  EXPECT_EQ(run("rpm -qp --queryformat '%{LICENSE}' '" + rpmPath + "' 2>/dev/null"), "GPL-3.0-or-later");

  // Every path the RPM lists that is no folder in the .deb, without rpm's links from build ids to the program.
  std::set<std::string> listed;
  std::istringstream lines(run("rpm -qp --list '" + rpmPath + "' 2>/dev/null"));
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("/usr/lib/.build-id") && !std::filesystem::is_directory(installed(line.substr(1)))) listed.insert(line);
  EXPECT_EQ(listed, files("/"));
  const auto requires_ = run("rpm -qp --requires '" + rpmPath + "' 2>/dev/null");
  EXPECT_NE(requires_.find("libQt6Widgets.so.6"), std::string::npos) << requires_;
  EXPECT_NE(requires_.find("(qt6-qtwayland or qt6-wayland)"), std::string::npos) << requires_;
  EXPECT_EQ(run("rpm -qp --recommends '" + rpmPath + "' 2>/dev/null"), "xdg-utils\n");

  const auto scripts = run("rpm -qp --scripts '" + rpmPath + "' 2>/dev/null");
  EXPECT_NE(scripts.find("modprobe i2c-dev"), std::string::npos) << scripts;
  EXPECT_NE(scripts.find("udevadm control --reload-rules"), std::string::npos) << scripts;
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

// The Debian source package and the spec file as a distribution builds them:
// dpkg-buildpackage and rpmbuild from a clean copy of the last commit, through
// the same install rules as the packages above.
class SourcePackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifndef DIMMORA_SANITIZED
    changesPath = run(DIMMORA_SOURCE_DIR "/scripts/package source 2>/dev/null");
    if (!changesPath.empty()) changesPath.pop_back();
    buildPackages();
#endif
  }
  void SetUp() override {
#ifdef DIMMORA_SANITIZED
    GTEST_SKIP() << "packages are built from an ordinary build, not a sanitizer one";
#endif
    ASSERT_TRUE(changesPath.ends_with(".changes") && std::filesystem::exists(changesPath))
        << "scripts/package source made no .changes (or lintian failed)";
  }
  static std::filesystem::path built(const std::string& name) {
    return std::filesystem::path(changesPath).parent_path() / name;
  }
  static inline std::string changesPath;
};

TEST_F(SourcePackage, BuildsSourceAndBinaryCleanUnderLintian) {
  const auto lintian = readTextFile(built("lintian.txt"));
  ASSERT_TRUE(lintian);
  EXPECT_EQ(lintian->find("E: "), std::string::npos) << *lintian;
  EXPECT_EQ(lintian->find("W: "), std::string::npos) << *lintian;
  const auto changes = readTextFile(changesPath).value_or("");
  for (const char* file : {" dimmora_1.0.0.dsc\n", " dimmora_1.0.0.tar.xz\n", " dimmora_1.0.0_amd64.deb\n",
                           " dimmora-dbgsym_1.0.0_amd64.deb\n"})
    EXPECT_NE(changes.find(file), std::string::npos) << file << changes;
}

TEST_F(SourcePackage, HoldsWhatTheCPackPackageHolds) {
  const auto sourceBuilt = built("dimmora_1.0.0_amd64.deb").string();
  // Modes and paths; dpkg-deb's archive names its top folder, CPack's does not.
  const auto members = [](const std::string& deb) {
    return run("dpkg-deb -c '" + deb + "' | awk '$6 != \"./\" {print $1, $6}'");
  };
  EXPECT_EQ(members(sourceBuilt), members(debPath));
  for (const char* field : {"Version", "Maintainer", "Section", "Priority", "Recommends", "Description"})
    EXPECT_EQ(run("dpkg-deb -f '" + sourceBuilt + "' " + field), run("dpkg-deb -f '" + debPath + "' " + field)) << field;
  for (const char* script : {"postinst", "postrm"})
    EXPECT_EQ(run("dpkg-deb -I '" + sourceBuilt + "' " + script), run("dpkg-deb -I '" + debPath + "' " + script));
}

TEST_F(SourcePackage, PassesItsAutopkgtestsOnThisMachine) {
  const bool installedBefore = exitCode("dpkg-query -W -f='${Status}' dimmora 2>/dev/null | grep -q ' installed'") == 0;
  const auto summary = run("autopkgtest -q '" + changesPath + "' -- null 2>&1; echo exit=$?");
  // The null runner installs the package here; what it found here stays.
  if (!installedBefore) exitCode("dpkg --purge dimmora >/dev/null 2>&1");
  EXPECT_TRUE(summary.ends_with("exit=0\n")) << summary;
  EXPECT_TRUE(std::regex_search(summary, std::regex(R"(\nversion-and-help +PASS\n)"))) << summary;
  EXPECT_TRUE(std::regex_search(summary, std::regex(R"(\nsmoke +PASS\n)"))) << summary;
}

TEST_F(SourcePackage, TheSpecFilePassesRpmlintAndBuildsTheCPackRpmsFiles) {
  const std::string spec = DIMMORA_SOURCE_DIR "/packaging/rpm/dimmora.spec";
  const auto lint = run("rpmlint -c " DIMMORA_SOURCE_DIR "/packaging/rpmlint.toml '" + spec + "' 2>&1");
  EXPECT_NE(lint.find(" 0 errors"), std::string::npos) << lint;
  // Fedora's macros stood in, its build requirements not checked: rpm's database here knows Debian's packages.
  const auto top = built("rpmbuild");
  std::filesystem::create_directories(top / "SOURCES");
  ASSERT_EQ(exitCode("git -C " DIMMORA_SOURCE_DIR " archive --prefix=dimmora-1.0.0/ -o '" +
                     (top / "SOURCES/dimmora-1.0.0.tar.gz").string() + "' HEAD"), 0);
  const auto log = (top / "rpmbuild.log").string();
  ASSERT_EQ(exitCode("CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache rpmbuild --load " DIMMORA_SOURCE_DIR
                     "/tests/packaging/fedora.macros --nodeps --define '_topdir " + top.string() + "' -bb '" + spec +
                     "' >'" + log + "' 2>&1"), 0)
      << readTextFile(log).value_or("");
  auto expected = rpmFiles(rpmPath);
  // %license and %doc where CPack has Debian's copyright file and changelog.
  for (const char* debian : {"/usr/share/doc/dimmora/copyright", "/usr/share/doc/dimmora/changelog.gz"}) expected.erase(debian);
  expected.insert({"/usr/share/doc/dimmora/README.md", "/usr/share/licenses/dimmora/COPYING"});
  EXPECT_EQ(rpmFiles(top / "RPMS/x86_64/dimmora-1.0.0-1.x86_64.rpm"), expected);
}
