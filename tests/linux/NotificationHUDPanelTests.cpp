// SPDX-License-Identifier: GPL-3.0-or-later
// The heads-up panel as desktop notifications, driven through ShortcutHUD and
// answered by a notification service on a private session bus, which writes
// down every call it receives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <memory>

#include "SessionBusTestSupport.hpp"
#include "platform/linux/NotificationHUDPanel.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/ShortcutHUD.hpp"

namespace {
class NotificationPanel : public ::testing::Test {
 protected:
  NotificationPanel() { ShortcutHUD::usePorts(&panel, &loop); }
  ~NotificationPanel() override { ShortcutHUD::usePorts(nullptr, nullptr); }

  void startService(bool stallFirst = false) {
    std::vector<std::string> arguments{"/usr/bin/python3", DIMMORA_TESTS_DIR "/linux/fake_notification_service.py",
                                       record.string()};
    if (stallFirst) arguments.emplace_back("--stall-first");
    service = std::make_unique<ChildProcess>(arguments,
                                             std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(pump([&] { return DBusSession::nameHasOwner(client.get(), "org.freedesktop.Notifications"); }, 10))
        << "the fake notification service did not start";
  }
  // What the service received, oldest first.
  std::vector<nlohmann::json> calls() const {
    std::vector<nlohmann::json> list;
    std::ifstream file(record);
    for (std::string line; std::getline(file, line);) list.push_back(nlohmann::json::parse(line));
    return list;
  }
  // Lets posted work and bus traffic run until `done`, for at most `seconds` of real time.
  bool pump(const std::function<bool()>& done, double seconds = 5) {
    return pumpBuses({client.get()}, done, seconds, [this] { loop.runPending(); });
  }
  bool waitForCalls(std::size_t count) {
    return pump([&] { return calls().size() >= count; });
  }
  void show(double percent) { ShortcutHUD::shared().show("Brightness", percent); }
  // What a Notify call showed: the notification it replaces, its text and its bar.
  static nlohmann::json shown(const nlohmann::json& call) {
    return {{"replaces_id", call["replaces_id"]}, {"body", call["body"]}, {"value", call["hints"]["value"]}};
  }
  static nlohmann::json showing(int replaces, const std::string& body, int value) {
    return {{"replaces_id", replaces}, {"body", body}, {"value", nlohmann::json::array({"Int32", value})}};
  }

  PrivateSessionBus bus;
  BusConnection client{bus.address()};
  TemporaryFolder folder{"dimmora-notify"};
  const std::filesystem::path record = folder.path() / "calls.jsonl";
  std::unique_ptr<ChildProcess> service;
  VirtualMainLoop loop;
  NotificationHUDPanel panel{client.get(), loop};
  ScopedLogRecorder log;
};
}  // namespace

TEST_F(NotificationPanel, EachShowReplacesThePreviousNotificationWithTitleLevelAndBar) {
  ASSERT_TRUE(bus.isRunning());
  ASSERT_NE(client.get(), nullptr);
  startService();

  show(40);
  ASSERT_TRUE(pump([&] { return calls().size() == 1 && panel.notificationID() != 0; }));
  const auto first = calls()[0];
  EXPECT_EQ(std::tuple(first["call"], first["app_name"], first["summary"]), std::tuple("Notify", "Dimmora", "Brightness"));
  EXPECT_EQ(shown(first), showing(0, "40%", 40));
  EXPECT_EQ(first["hints"]["transient"], nlohmann::json::array({"Boolean", true}));
  EXPECT_GT(first["expire_timeout"].get<int>(), 900);  // outlives the panel's own hiding
  EXPECT_EQ(panel.notificationID(), first["id"]);

  // A press while it shows replaces it; the bar and the text round alike.
  loop.advance(0.5);
  show(49.5);
  ASSERT_TRUE(waitForCalls(2));
  const int id = first["id"];
  EXPECT_EQ(shown(calls()[1]), showing(id, "50%", 50));
  EXPECT_EQ(calls()[1]["id"], id);

  // Presses within one turn of the loop go out as one notification with the last level.
  show(60);
  show(150);
  ASSERT_TRUE(waitForCalls(3));
  EXPECT_FALSE(pump([&] { return calls().size() > 3; }, 0.3));
  EXPECT_EQ(shown(calls()[2]), showing(id, "100%", 100));

  // 0.9 s after the last press the panel hides: the notification is closed.
  loop.advance(ShortcutHUD::hideDelay);
  ASSERT_TRUE(waitForCalls(4));
  EXPECT_EQ(calls()[3], (nlohmann::json{{"call", "CloseNotification"}, {"id", id}}));

  // The next press is a new notification, not a replacement of the closed one.
  show(-5);
  ASSERT_TRUE(pump([&] { return calls().size() == 5 && panel.notificationID() != 0; }));
  EXPECT_EQ(shown(calls()[4]), showing(0, "0%", 0));
  EXPECT_NE(calls()[4]["id"], id);
  EXPECT_EQ(log->entries.size(), 0u);
}

TEST_F(NotificationPanel, WithoutAServiceEveryShowFailsQuietlyAfterOneLogLine) {
  ASSERT_TRUE(bus.isRunning());
  const std::string line = "The notification service cannot show the brightness level: ";
  auto failures = [&] {
    return std::count_if(log->entries.begin(), log->entries.end(),
                         [&](const auto& e) { return e.message.rfind(line, 0) == 0; });
  };
  show(40);
  ASSERT_TRUE(pump([&] { return failures() == 1; }));
  loop.advance(0.5);
  show(45);
  EXPECT_FALSE(pump([&] { return failures() > 1; }, 0.3));

  // Once a service is there, the panel works again without a restart.
  startService();
  loop.advance(0.5);
  show(50);
  ASSERT_TRUE(pump([&] { return panel.notificationID() != 0; }));
  EXPECT_EQ(calls().back()["body"], "50%");
}

TEST_F(NotificationPanel, AServiceThatNeverAnswersHoldsUpdatesOnlyForAWhile) {
  startService(/*stallFirst=*/true);
  show(30);
  ASSERT_TRUE(waitForCalls(1));
  // While the answer is awaited, further presses wait for it rather than pile up.
  for (double percent : {35, 40, 45}) {
    loop.advance(0.5);
    show(percent);
  }
  EXPECT_FALSE(pump([&] { return calls().size() > 1; }, 0.3));

  // Past the patience the stuck call is given up and the latest level goes out.
  loop.advance(NotificationHUDPanel::kAnswerPatienceSeconds - 1.5 + 0.1);
  show(50);
  ASSERT_TRUE(pump([&] { return calls().size() == 2 && panel.notificationID() != 0; }));
  EXPECT_EQ(shown(calls()[1]), showing(0, "50%", 50));  // the first id never came back
  // The levels held back while waiting went out with that call, not again after its answer.
  EXPECT_FALSE(pump([&] { return calls().size() > 2; }, 0.3));
  EXPECT_TRUE(logMentions(*log, "did not answer"));
}
