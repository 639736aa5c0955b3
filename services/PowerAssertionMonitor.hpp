// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "base/Published.hpp"
#include "base/Signal.hpp"

class Inhibitors;

// Watches the inhibitors: publishes whether something holds the screen awake
// (a media player, usually) and logs changes of what is held.
class PowerAssertionMonitor {
 public:
  // Without inhibitors, starting logs that media playback is not detected.
  explicit PowerAssertionMonitor(Inhibitors* inhibitors) : inhibitors_(inhibitors) {}

  // Asks at once, then whenever the inhibitors change and when a diagnostic
  // capture starts; a second call does nothing.
  void start();

  Published<bool> isMediaPlaybackAssertionActive{false};

 private:
  void refresh();

  Inhibitors* const inhibitors_;
  bool started_ = false;
  Subscription changed_;
  Subscription captureStarted_;
  std::string lastStatusDigest_;
  // nullopt until the holders are first listed while tracing (and again when a capture starts).
  std::optional<std::string> lastHolderDigest_;
};
