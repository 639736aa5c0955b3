// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>

#include "base/Geometry.hpp"
#include "base/Signal.hpp"

class ScreenGeometry;

// The window's heights: a fixed header ("chrome") above a scrolling body that
// is given what the screen leaves.
class MenuHeights {
 public:
  static constexpr double initialChromeHeight = 120;
  static constexpr double screenHeightWithoutScreen = 760;
  static constexpr double bottomMargin = 24;
  static constexpr double minimumScrollHeight = 100;

  // Reads the main screen's available height; without screens it is 760.
  explicit MenuHeights(const ScreenGeometry* screens);

  // The body's natural height, stored rounded up to a whole pixel.
  void reportBodyHeight(double height);
  // The header's height, stored rounded up plus 2 for the divider.
  void reportChromeHeight(double height);
  // Taken only when it differs from the current one by more than half a pixel.
  void setScreenHeight(double height);
  // The main screen's available height again, 760 without a screen.
  void readScreenHeight();

  double contentHeight() const { return contentHeight_; }
  double chromeHeight() const { return chromeHeight_; }
  double screenHeight() const { return screenHeight_; }
  // The scroll view's height: the body's, but never more than the screen
  // leaves under the header (and never under 100).
  double scrollHeight() const;
  // Scrolling (and scroll bars) only when the body does not fit.
  bool scrollingEnabled() const { return contentHeight_ > scrollHeight(); }

  Signal<> changed;  // any of the three heights changed

 private:
  void assign(double& field, double value);

  const ScreenGeometry* screens_;

  double contentHeight_ = 0;
  double chromeHeight_ = initialChromeHeight;
  double screenHeight_ = screenHeightWithoutScreen;
};

// Keeps the window pinned at the corner where it first appeared while its
// height changes, and says how much height the screen leaves it.
//
// Dropping down (tray at the top), the top-left corner stays and the window
// grows downwards; opening upwards (tray at the bottom), the bottom-left
// corner stays and it grows upwards. The body never comes within 12 pixels of
// the available area's far edge, and is offered at least 100 pixels.
class MenuWindowAnchor {
 public:
  enum class Direction { down, up };
  static constexpr double screenMargin = 12;
  static constexpr double minimumAvailableHeight = 100;
  static constexpr double moveThreshold = 0.5;

  struct Update {
    std::optional<Point> moveTo;  // the window's new top-left corner, when it must move
    double availableHeight;       // for MenuHeights::setScreenHeight
  };

  // While inactive (window hidden), updates do nothing.
  void setActive(bool active);
  bool isActive() const { return active_; }
  // Forgets the recorded corner (the window was placed anew).
  void reset();
  void setDirection(Direction direction);
  Direction direction() const { return direction_; }
  const std::optional<Point>& anchor() const { return anchor_; }

  // Called with the window's frame and its screen's available area after
  // every resize, move or activation of the window. Records the corner the
  // first time, then gives where the window must go. Returns nothing while
  // inactive or while the anchor itself is moving the window (see move()).
  std::optional<Update> windowChanged(const Rect& windowFrame, const Rect& availableArea);
  // Runs `move` (which moves the window) with resulting window events ignored.
  void move(const std::function<void()>& move);

 private:
  bool active_ = false;
  bool adjusting_ = false;
  Direction direction_ = Direction::down;
  std::optional<Point> anchor_;  // the recorded corner: top-left dropping down, bottom-left opening up
};
