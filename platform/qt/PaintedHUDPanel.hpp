// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "ports/HUDPanel.hpp"

class QPainter;

// What every heads-up panel of ours shows, and the one drawing of it: a
// dark rounded card with the title, the value and the bar. The X11 window
// and the Wayland overlay paint the same picture with it. Needs a QGuiApplication
// (fonts and the accent colour).
class PaintedHUDPanel : public HUDPanel {
 public:
  std::string titleText() const override { return title_; }
  void setTitleText(const std::string& text) override;
  std::string valueText() const override { return value_; }
  void setValueText(const std::string& text) override;

  // The bar spans the panel less its side insets once laid out.
  double trackWidth() const override { return laidOut_ ? width - 2 * horizontalInset : 0; }
  void layoutContent() override { laidOut_ = true; }
  double fillWidth() const override { return fill_; }
  void setFillWidth(double width) override;

  // Draws the panel into a `width` × `height` area at the painter's origin.
  void paint(QPainter& painter) const;

 protected:
  // The picture changed: draw it again.
  virtual void changed() = 0;

 private:
  std::string title_;
  std::string value_;
  double fill_ = 0;
  bool laidOut_ = false;
};
