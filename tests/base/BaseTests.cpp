// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "base/Numbers.hpp"
#include "base/Published.hpp"
#include "base/Signal.hpp"
#include "base/Uuid.hpp"
#include "platform/sim/VirtualMainLoop.hpp"

TEST(Signal, DeliversUntilSubscriptionDiesEvenWhenDisconnectedDuringDeliveryOrOutlivingIt) {
  Signal<int> signal;
  std::vector<int> seen;
  {
    auto sub = signal.connect([&](int v) { seen.push_back(v); });
    signal.emit(1);
  }
  signal.emit(2);
  EXPECT_EQ(seen, std::vector<int>{1});
  EXPECT_EQ(signal.subscriberCount(), 0u);

  // A slot may disconnect another during delivery.
  Subscription second;
  auto first = signal.connect([&](int) { second.reset(); });
  second = signal.connect([&](int v) { seen.push_back(v); });
  signal.emit(3);
  EXPECT_EQ(seen, std::vector<int>{1});

  Subscription outliving;
  {
    Signal<> gone;
    outliving = gone.connect([] {});
  }
  EXPECT_FALSE(outliving.isConnected());
  outliving.reset();
}

TEST(Published, EveryAssignmentNotifiesWithTheNewValue) {
  Published<int> value{3};
  std::vector<int> seen;
  auto sub = value.changed.connect([&](int v) { seen.push_back(v); });
  value = 4;
  value = 4;
  EXPECT_EQ(value.get(), 4);
  EXPECT_EQ(seen, (std::vector<int>{4, 4}));
}

TEST(Uuid, TextIsCanonicalUpperCaseParsesEitherCaseAndNothingMalformed) {
  const Uuid id = Uuid::random();
  const std::string text = id.uuidString();
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(text[14], '4');  // version nibble
  for (char c : text) EXPECT_TRUE(c == '-' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << text;
  std::string lower = text;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Uuid::parse(lower), id);
  EXPECT_EQ(Uuid::parse(text), id);
  EXPECT_NE(Uuid::random(), id);
  EXPECT_FALSE(Uuid::parse(""));
  EXPECT_FALSE(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5"));    // short
  EXPECT_FALSE(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5FF"));  // long
  EXPECT_FALSE(Uuid::parse("E621E1F8C-36C-495A-93FC-0C247A3E6E5F"));   // hyphen misplaced
  EXPECT_FALSE(Uuid::parse("G621E1F8-C36C-495A-93FC-0C247A3E6E5F"));   // not hex
  EXPECT_TRUE(Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
}

TEST(Numbers, ToleranceRoundingAndShortestText) {
  EXPECT_TRUE(nearlyEqual(70.0, 70.0009));
  EXPECT_FALSE(nearlyEqual(70.0, 70.0011));
  EXPECT_EQ(roundHalfAwayFromZero(2.5), 3);
  EXPECT_EQ(roundHalfAwayFromZero(-2.5), -3);
  EXPECT_EQ(formatShortest(24.0), "24");
  EXPECT_EQ(formatShortest(0.1), "0.1");
  EXPECT_EQ(std::stod(formatShortest(1.0 / 3.0)), 1.0 / 3.0);
  EXPECT_EQ(formatShortest(0.1f), "0.1");
  // No finite number, whatever its sign, is full brightness: it must never darken a screen.
  for (const double unknown : {NAN, INFINITY, -INFINITY}) EXPECT_EQ(sanitizedPercent(unknown), 100) << unknown;
  EXPECT_EQ(sanitizedPercent(-3), 0);
  EXPECT_EQ(sanitizedPercent(150), 100);
  EXPECT_EQ(sanitizedPercent(42.5), 42.5);
}

TEST(VirtualMainLoop, RunsDueWorkInTimeOrderOnlyWhenAdvancedAndWorkScheduledFromWorkToo) {
  VirtualMainLoop loop;
  std::vector<std::string> order;
  auto late = loop.after(0.5, [&] { order.push_back("late"); });
  auto early = loop.after(0.2, [&] { order.push_back("early"); });
  auto posted = loop.post([&] { order.push_back("posted"); });
  EXPECT_TRUE(order.empty());
  loop.advance(0.3);
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "early"}));
  EXPECT_DOUBLE_EQ(loop.uptime(), 0.3);
  EXPECT_FALSE(early.isActive());
  EXPECT_TRUE(late.isActive());
  loop.advance(0.2);
  EXPECT_EQ(order.back(), "late");

  // Work scheduled from work runs within the same advance.
  ScheduledWork second;
  double ranAt = 0;
  auto first = loop.after(0.1, [&] { second = loop.after(0.1, [&] { ranAt = loop.uptime(); }); });
  loop.advance(1.0);
  EXPECT_DOUBLE_EQ(ranAt, 0.7);
}

TEST(VirtualMainLoop, RepeatingWorkKeepsCadenceAndStopsWhenCancelledOrDroppedAndTheWallClockMayJump) {
  VirtualMainLoop loop;
  int ticks = 0;
  std::vector<double> times;
  auto timer = loop.every(0.25, 0.025, [&] {
    ++ticks;
    times.push_back(loop.uptime());
  });
  ASSERT_EQ(loop.activeRepeatingTimers().size(), 1u);
  EXPECT_DOUBLE_EQ(loop.activeRepeatingTimers()[0].tolerance, 0.025);
  loop.advance(1.0);
  EXPECT_EQ(ticks, 4);
  EXPECT_DOUBLE_EQ(times.front(), 0.25);
  timer.cancel();
  loop.advance(1.0);
  EXPECT_EQ(ticks, 4);

  {
    auto dropped = loop.every(0.1, 0, [&] { ++ticks; });
  }
  loop.advance(1.0);
  EXPECT_EQ(ticks, 4);

  // The wall clock moves with the uptime and can jump.
  const auto start = loop.now();
  loop.advance(2.0);
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(loop.now() - start).count(), 2000);
  loop.shiftWallClock(std::chrono::seconds(-60));
  EXPECT_LT(loop.now(), start);
  EXPECT_DOUBLE_EQ(loop.uptime(), 5.0);
}
