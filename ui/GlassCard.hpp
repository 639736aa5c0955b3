// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "base/Signal.hpp"

class GlassAppearance;

// A rounded glass card behind a group of the window's body: a translucent
// backdrop, a tint and a thin border whose strengths follow the shared
// transparency. Over a translucent window the desktop shows through; over an
// opaque one the same card is simply opaque. Holds its children in a layout.
class GlassCard final : public QWidget {
 public:
  GlassCard(GlassAppearance& appearance, double radius, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  GlassAppearance& appearance_;
  double radius_;
  Subscription changes_;
};
