// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/sim/SimAutostart.hpp"
#include "services/LoginLaunchController.hpp"

TEST(LoginLaunchController, RefusalSetsErrorTheNextToggleClearsItAndWithoutAutostartItIsUnavailable) {
  SimAutostart autostart;
  autostart.enabled = true;
  LoginLaunchController controller(&autostart);
  EXPECT_TRUE(controller.enabled) << "read at creation";
  autostart.enabled = false;
  autostart.refuseWith = "autostart folder is read-only";
  controller.setEnabled(true);
  EXPECT_EQ(controller.error.get(), "autostart folder is read-only");
  EXPECT_FALSE(controller.enabled);  // the switch follows the system, not the request

  autostart.refuseWith.reset();
  controller.setEnabled(true);
  EXPECT_FALSE(controller.error.get().has_value());
  EXPECT_TRUE(controller.enabled);
  controller.setEnabled(false);
  EXPECT_FALSE(controller.enabled);
  EXPECT_FALSE(autostart.enabled);

  LoginLaunchController unavailable(nullptr);
  unavailable.setEnabled(true);
  EXPECT_EQ(unavailable.error.get(), std::string(LoginLaunchController::unavailableText));
  EXPECT_FALSE(unavailable.enabled);
}
