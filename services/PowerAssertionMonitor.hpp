// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "base/MainLoop.hpp"
#include "base/Published.hpp"
#include "ports/PropertyValue.hpp"

// Polls the system's power assertions: publishes whether something keeps the
// display awake (a media player, usually) and logs changes of the assertion set.
class PowerAssertionMonitor {
 public:
  static constexpr double pollInterval = 5.0;
  static constexpr double pollTolerance = 1.0;

  // Polls once at once, then every five seconds for the life of the monitor; a second call does nothing.
  void start();

  Published<bool> isMediaPlaybackAssertionActive{false};

 private:
  void poll();
  void logAssertionStatusIfChanged();
  void logAssertionsByProcessIfChanged();

  ScheduledWork timer_;
  bool started_ = false;
  std::string lastStatusDigest_;
  std::string lastProcessDigest_;
};

// A one-line textual form of a property value ("{AssertType = NoDisplaySleep; Count = 1}").
std::string describePropertyValue(const PropertyValue& value);
