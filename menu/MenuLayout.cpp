// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/MenuLayout.hpp"

#include <algorithm>
#include <cmath>

#include "ports/ScreenGeometry.hpp"

MenuHeights::MenuHeights(const ScreenGeometry* screens) : screens_(screens) { readScreenHeight(); }

void MenuHeights::assign(double& field, double value) {
  if (field == value) return;
  field = value;
  changed.emit();
}

void MenuHeights::reportBodyHeight(double height) { assign(contentHeight_, std::ceil(std::max(height, 0.0))); }

void MenuHeights::reportChromeHeight(double height) { assign(chromeHeight_, std::ceil(std::max(height, 0.0)) + 2); }

void MenuHeights::setScreenHeight(double height) {
  if (!std::isfinite(height) || std::fabs(height - screenHeight_) <= 0.5) return;
  assign(screenHeight_, height);
}

void MenuHeights::readScreenHeight() {
  const auto area = screens_ ? screens_->mainScreenAvailableArea() : std::nullopt;
  assign(screenHeight_, area ? area->height : screenHeightWithoutScreen);
}

double MenuHeights::scrollHeight() const {
  const double room = std::max(screenHeight_ - chromeHeight_ - bottomMargin, minimumScrollHeight);
  return std::min(contentHeight_, room);
}

void MenuWindowAnchor::setActive(bool active) { active_ = active; }
void MenuWindowAnchor::reset() { anchor_.reset(); }

void MenuWindowAnchor::setDirection(Direction direction) {
  if (direction == direction_) return;
  direction_ = direction;
  anchor_.reset();
}

std::optional<MenuWindowAnchor::Update> MenuWindowAnchor::windowChanged(const Rect& frame, const Rect& area) {
  if (!active_ || adjusting_) return std::nullopt;
  const bool down = direction_ == Direction::down;
  if (!anchor_) anchor_ = Point{frame.x, down ? frame.top() : frame.bottom()};

  Update update;
  const double room = down ? area.bottom() - anchor_->y : anchor_->y - area.top();
  update.availableHeight = std::max(room - screenMargin, minimumAvailableHeight);
  const Point target{anchor_->x, down ? anchor_->y : anchor_->y - frame.height};
  if (std::fabs(frame.x - target.x) > moveThreshold || std::fabs(frame.y - target.y) > moveThreshold)
    update.moveTo = target;
  return update;
}

void MenuWindowAnchor::move(const std::function<void()>& move) {
  adjusting_ = true;
  move();
  adjusting_ = false;
}
