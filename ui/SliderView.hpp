// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "base/Signal.hpp"
#include "menu/SliderControllers.hpp"

class QKeyEvent;

// Which slider move a key press asks for (arrows, Page Up/Down, Home, End).
std::optional<SliderKey> sliderKeyFor(const QKeyEvent& event);

// The custom single-value slider (master level, step brightness, glass
// transparency): draws its controller's value with the slider geometry and
// hands it the pointer and the keys. Screen readers see a slider (value
// 0...100 in whole numbers; increase and decrease by 5).
class SliderView final : public QWidget {
  // The accessibility factory recognises it by its class name.
  Q_OBJECT

 public:
  explicit SliderView(std::unique_ptr<SliderController> controller, QWidget* parent = nullptr);
  ~SliderView() override;

  SliderController& controller() { return *controller_; }
  const SliderController& controller() const { return *controller_; }
  void setDisabled(bool disabled);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return {40, sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void valueChanged();

  std::unique_ptr<SliderController> controller_;
  Subscription valueSubscription_;
  double lastAnnounced_;
};
