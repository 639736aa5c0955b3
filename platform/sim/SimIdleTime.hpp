// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "ports/IdleTimeSource.hpp"

class MainLoop;

// A scriptable idle clock: the idle time grows with the loop's monotonic
// clock from the last input a test reported. Its requests run on the loop,
// as a desktop's notifications would.
class SimIdleTime final : public IdleTimeSource {
 public:
  explicit SimIdleTime(MainLoop& loop);

  std::optional<double> idleSeconds() override;
  ScheduledWork whenIdleReaches(double seconds, std::function<void()> reached) override;
  ScheduledWork whenUserReturns(std::function<void()> back) override;
  std::string_view note() const override { return noteKey_; }

  // The user did something now: the idle time starts from 0.
  void registerInput();
  // The idle time is `seconds` now and grows from there.
  void setIdleSeconds(double seconds);
  // Every query fails (no answer, no notification) while set.
  void setFailing(bool failing);
  // What the source has to say (a localization key), as a desktop binding would.
  void setNote(std::string key);
  int queryCount() const { return queries_; }

 private:
  // Puts the reach request's timer where the idle clock says now.
  void scheduleReach();

  MainLoop& loop_;
  double lastInputAt_;
  bool failing_ = false;
  std::string noteKey_;
  int queries_ = 0;
  double reachSeconds_ = 0;
  IdleRequest reach_;
  ScheduledWork reachTimer_;
  IdleRequest back_;
  ScheduledWork backDelivery_;
};
