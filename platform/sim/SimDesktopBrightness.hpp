// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ports/DesktopBrightness.hpp"

// A desktop brightness service whose displays a test lists by hand. It keeps
// every level asked for, answers on a later turn of the loop as the test says,
// and shows a level it took as the display's.
class SimDesktopBrightness final : public DesktopBrightness {
 public:
  explicit SimDesktopBrightness(MainLoop& loop) : loop_(loop) {}

  std::vector<Display> offered;
  std::vector<std::pair<std::string, std::uint32_t>> requests;
  SetStatus answer = SetStatus::ok;

  std::vector<Display> displays() override { return offered; }
  ScheduledWork setLevel(const std::string& name, std::uint32_t level, std::function<void(SetStatus)> done) override {
    requests.emplace_back(name, level);
    if (answer == SetStatus::ok)
      for (auto& display : offered)
        if (display.name == name) display.level = level;
    return loop_.post([status = answer, done = std::move(done)] { done(status); });
  }

 private:
  MainLoop& loop_;
};
