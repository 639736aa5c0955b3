// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "LinuxTestSupport.hpp"
#include "platform/linux/InstanceLock.hpp"

// One Dimmora per user and runtime folder.
TEST(InstanceLock, TheSecondHolderIsRefusedUntilTheFirstLetsGo) {
  TempTree tree;
  const auto folder = tree.path("run/new");  // created on demand, private
  {
    InstanceLock first(folder);
    ASSERT_EQ(first.outcome(), InstanceLock::Outcome::acquired) << first.error();
    struct stat info {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    InstanceLock second(folder);
    EXPECT_EQ(second.outcome(), InstanceLock::Outcome::heldElsewhere);
    // Another runtime folder (another test, another engineer's run) is another instance.
    EXPECT_EQ(InstanceLock(tree.path("run/other")).outcome(), InstanceLock::Outcome::acquired);
  }
  EXPECT_EQ(InstanceLock(folder).outcome(), InstanceLock::Outcome::acquired);
}

TEST(InstanceLock, APlantedLinkIsNotFollowedAndTheReasonIsGiven) {
  TempTree tree;
  const auto target = tree.write("elsewhere/precious", "keep");
  std::filesystem::create_directories(tree.path("run"));
  std::filesystem::create_symlink(target, tree.path("run/dimmora.lock"));
  InstanceLock lock(tree.path("run"));
  EXPECT_EQ(lock.outcome(), InstanceLock::Outcome::failed);
  EXPECT_NE(lock.error().find("dimmora.lock"), std::string::npos) << lock.error();
  EXPECT_EQ(readTextFile(target).value_or(""), "keep");
}
