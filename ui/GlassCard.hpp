// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "base/Signal.hpp"

class GlassAppearance;

// A rounded glass card behind a group of the window's body: a translucent
// backdrop, a tint and a thin border whose strengths follow the shared
// transparency. Where the desktop composites, the window leaves its own
// background out behind the cards, so the desktop shows through them as far
// as the transparency lets it; over an opaque window the same card is simply
// opaque. Holds its children in a layout.
class GlassCard final : public QWidget {
  // The window finds its cards by type.
  Q_OBJECT

 public:
  GlassCard(GlassAppearance& appearance, double radius, QWidget* parent = nullptr);
  double radius() const { return radius_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  GlassAppearance& appearance_;
  double radius_;
  Subscription changes_;
};
