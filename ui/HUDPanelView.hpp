// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "platform/qt/PaintedHUDPanel.hpp"

// The heads-up panel as a Qt window. It bypasses the window manager, so it
// has no frame, no taskbar entry, never takes focus and sits where it is put;
// clicks go through it to whatever is below. Needs a QApplication.
class HUDPanelView final : public QWidget, public PaintedHUDPanel {
 public:
  HUDPanelView();

  void build() override;

  bool isVisible() const override { return QWidget::isVisible(); }
  std::optional<Rect> screenVisibleFrame() const override;
  void setOrigin(double x, double y) override;

  double alpha() const override { return windowOpacity(); }
  void setAlpha(double alpha) override { setWindowOpacity(alpha); }
  void orderFrontRegardless() override;
  void orderOut() override { hide(); }

 protected:
  void changed() override { update(); }
  void paintEvent(QPaintEvent* event) override;
};
