// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// The heads-up panel's window: a borderless, non-activating, click-through
// panel above everything, with a title, a value and a progress bar. The rules
// of what it shows and when live in ShortcutHUD; this is only the view.
// Coordinates are screen points with y growing downwards.
class HUDPanel {
 public:
  struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
  };

  static constexpr double width = 240;
  static constexpr double height = 86;
  static constexpr double horizontalInset = 16;  // the bar spans the width less both insets

  virtual ~HUDPanel() = default;

  // Builds the window (hidden, alpha 0, empty labels, empty bar). Called once.
  virtual void build() = 0;

  virtual std::string titleText() const = 0;
  virtual void setTitleText(const std::string& text) = 0;
  virtual std::string valueText() const = 0;
  virtual void setValueText(const std::string& text) = 0;

  virtual bool isVisible() const = 0;
  // The visible frame of the main screen, else of the first screen; nullopt without screens.
  virtual std::optional<Rect> screenVisibleFrame() const = 0;
  virtual void setOrigin(double x, double y) = 0;

  // The bar's track width as laid out (0 before the first layout).
  virtual double trackWidth() const = 0;
  virtual void layoutContent() = 0;
  virtual double fillWidth() const = 0;
  virtual void setFillWidth(double width) = 0;

  virtual double alpha() const = 0;
  virtual void setAlpha(double alpha) = 0;
  // Shows the panel in front without activating the application or taking focus.
  virtual void orderFrontRegardless() = 0;
  virtual void orderOut() = 0;
};
