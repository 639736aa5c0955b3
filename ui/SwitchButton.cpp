// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SwitchButton.hpp"

#include <QPainter>

#include "ui/MenuStyle.hpp"

SwitchButton::SwitchButton(const QString& accessibleName, QWidget* parent) : QCheckBox(parent) {
  setAccessibleName(accessibleName);
  setToolTip(accessibleName);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SwitchButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const QRectF track = QRectF(rect()).adjusted(1, 2, -1, -2);
  const double radius = track.height() / 2;
  const double opacity = isEnabled() ? 1.0 : 0.4;
  painter.setOpacity(opacity);
  painter.setPen(Qt::NoPen);
  painter.setBrush(isChecked() ? MenuStyle::accent(colors)
                               : MenuStyle::withOpacity(MenuStyle::label(colors), MenuStyle::isDark(colors) ? 0.28 : 0.2));
  painter.drawRoundedRect(track, radius, radius);
  const double knobSize = track.height() - 4;
  const double knobX = isChecked() ? track.right() - 2 - knobSize : track.left() + 2;
  painter.setBrush(Qt::white);
  painter.setPen(QPen(MenuStyle::withOpacity(Qt::black, 0.12), 0.5));
  painter.drawEllipse(QRectF(knobX, track.top() + 2, knobSize, knobSize));
  if (hasFocus()) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(MenuStyle::withOpacity(MenuStyle::accent(colors), 0.6), 2));
    painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
  }
}
