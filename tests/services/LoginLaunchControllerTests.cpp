// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ports/SystemPorts.hpp"
#include "platform/sim/SimLoginItemService.hpp"
#include "services/LoginLaunchController.hpp"

using Status = LoginItemService::Status;

TEST(LoginLaunchController, PublishesTheSystemStatus) {
  const std::tuple<Status, bool, bool> cases[] = {{Status::notRegistered, false, false},
                                                  {Status::enabled, true, false},
                                                  {Status::requiresApproval, true, true},
                                                  {Status::notFound, false, false}};
  for (const auto& [status, enabled, needsApproval] : cases) {
    LoginLaunchController controller([status = status] { return status; }, [] { return std::nullopt; },
                                     [] { return std::nullopt; });
    EXPECT_EQ(controller.enabled.get(), enabled);
    EXPECT_EQ(controller.needsApproval.get(), needsApproval);
  }
}

TEST(LoginLaunchController, RefusalSetsErrorAndTheNextToggleClearsIt) {
  SimLoginItemService service;
  ScopedSystemPorts ports(SystemPorts{.loginItems = &service});
  LoginLaunchController controller;
  service.refuseWith = "autostart folder is read-only";
  controller.setEnabled(true);
  EXPECT_EQ(controller.error.get(), "autostart folder is read-only");
  EXPECT_FALSE(controller.enabled);  // the switch follows the system, not the request

  service.refuseWith.reset();
  service.registrationNeedsApproval = true;
  controller.setEnabled(true);
  EXPECT_FALSE(controller.error.get().has_value());
  EXPECT_TRUE(controller.enabled && controller.needsApproval);
  controller.setEnabled(false);
  EXPECT_FALSE(controller.enabled || controller.needsApproval);
}

TEST(LoginLaunchController, WithoutTheServiceReportsNotFound) {
  LoginLaunchController controller;
  controller.setEnabled(true);
  EXPECT_EQ(controller.error.get(), std::string(LoginLaunchController::unavailableText));
  EXPECT_FALSE(controller.enabled);
}
