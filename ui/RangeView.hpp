// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "base/Signal.hpp"
#include "menu/SliderControllers.hpp"

// A display's two-handle range editor (minimum and maximum): draws its
// controller's values with the range geometry and hands it the pointer and
// the keys. Each handle is a Tab stop of its own (minimum first) and moves
// with the arrows, Page Up/Down, Home and End. Screen readers see two
// sliders, one per handle.
class RangeView final : public QWidget {
  // The accessibility factory recognises it by its class name.
  Q_OBJECT

 public:
  explicit RangeView(std::unique_ptr<DisplayRangeController> controller, QWidget* parent = nullptr);
  ~RangeView() override;

  DisplayRangeController& controller() { return *controller_; }
  // The handle the keys move while the editor has the focus.
  bool keyboardMovesMinimum() const { return keyboardMinimum_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return {60, sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  // Tab goes from the minimum handle to the maximum before it leaves.
  bool focusNextPrevChild(bool next) override;

 private:
  void setKeyboardHandle(bool minimum);

  std::unique_ptr<DisplayRangeController> controller_;
  Subscription valueSubscription_;
  bool keyboardMinimum_ = true;
};
