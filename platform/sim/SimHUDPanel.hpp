// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/HUDPanel.hpp"

// A panel that keeps its state and records what was done to it, in order.
class SimHUDPanel final : public HUDPanel {
 public:
  std::optional<Rect> screen = Rect{0, 25, 1920, 1055};  // nullopt: no screen at all
  int builds = 0;
  int titleWrites = 0;
  int valueWrites = 0;
  int layouts = 0;
  std::vector<std::pair<double, double>> origins;  // every setOrigin, in order
  bool visible = false;
  double originX = 0;
  double originY = 0;

  void build() override { ++builds; }
  std::string titleText() const override { return title_; }
  void setTitleText(const std::string& text) override {
    ++titleWrites;
    title_ = text;
  }
  std::string valueText() const override { return value_; }
  void setValueText(const std::string& text) override {
    ++valueWrites;
    value_ = text;
  }
  bool isVisible() const override { return visible; }
  std::optional<Rect> screenVisibleFrame() const override { return screen; }
  void setOrigin(double x, double y) override {
    originX = x;
    originY = y;
    origins.emplace_back(x, y);
  }
  // The track spans the panel's width less both insets once laid out.
  double trackWidth() const override { return laidOut_ ? HUDPanel::width - 2 * HUDPanel::horizontalInset : 0; }
  void layoutContent() override {
    ++layouts;
    laidOut_ = true;
  }
  double fillWidth() const override { return fill_; }
  void setFillWidth(double width) override { fill_ = width; }
  double alpha() const override { return alpha_; }
  void setAlpha(double alpha) override { alpha_ = alpha; }
  void orderFrontRegardless() override { visible = true; }
  void orderOut() override { visible = false; }

 private:
  std::string title_;
  std::string value_;
  bool laidOut_ = false;
  double fill_ = 0;
  double alpha_ = 0;
};
