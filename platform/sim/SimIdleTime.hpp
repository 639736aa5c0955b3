// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <string>

#include "ports/IdleTimeSource.hpp"

class MainLoop;

// A scriptable idle clock: the idle time grows with the loop's monotonic
// clock from the last input a test reported. Single types can be given their
// own answer or made to fail.
class SimIdleTime final : public IdleTimeSource {
 public:
  explicit SimIdleTime(const MainLoop& loop);

  std::optional<double> secondsSinceLastEvent(InputEventType type) const override;
  std::string_view note() const override { return noteKey; }

  // The user did something now: every type's idle time starts from 0.
  void registerInput();
  // Every type reports `seconds` now and grows from there.
  void setIdleSeconds(double seconds);
  // One type's fixed answer (nullopt: that query fails); clearOverrides() undoes it.
  void overrideType(InputEventType type, std::optional<double> answer);
  void clearOverrides() { overrides_.clear(); }
  // Every query fails.
  bool failing = false;
  // What the source has to say (a localization key), as a desktop binding would.
  std::string noteKey;
  int queryCount() const { return queries_; }

 private:
  const MainLoop& loop_;
  double lastInputAt_;
  std::map<InputEventType, std::optional<double>> overrides_;
  mutable int queries_ = 0;
};
