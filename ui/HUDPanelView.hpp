#pragma once

#include <QLabel>
#include <QWidget>

#include "ports/HUDPanel.hpp"

// The heads-up panel as a Qt window. It bypasses the window manager, so it
// has no frame, no taskbar entry, never takes focus and sits where it is put;
// clicks go through it to whatever is below. Needs a QApplication.
class HUDPanelView final : public QWidget, public HUDPanel {
 public:
  HUDPanelView();

  void build() override;

  std::string titleText() const override;
  void setTitleText(const std::string& text) override;
  std::string valueText() const override;
  void setValueText(const std::string& text) override;

  bool isVisible() const override { return QWidget::isVisible(); }
  std::optional<Rect> screenVisibleFrame() const override;
  void setOrigin(double x, double y) override;

  // The sizes on screen, read back from the widgets.
  double trackWidth() const override { return track_->width(); }
  void layoutContent() override;
  double fillWidth() const override { return fill_->width(); }
  void setFillWidth(double width) override;

  double alpha() const override { return windowOpacity(); }
  void setAlpha(double alpha) override { setWindowOpacity(alpha); }
  void orderFrontRegardless() override;
  void orderOut() override { hide(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* title_;
  QLabel* value_;
  QWidget* track_;
  QWidget* fill_;
};
