// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/PaintedHUDPanel.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace {
constexpr double cornerRadius = 16;
constexpr double trackHeight = 8;
constexpr double trackRadius = 4;
// Tighter than the sides so both lines of text fit the fixed height.
constexpr double verticalInset = 12;
constexpr double titleHeight = 16;
constexpr double spacing = 6;

QFont font(int pixelSize, QFont::Weight weight) {
  QFont f = QGuiApplication::font();
  f.setPixelSize(pixelSize);
  f.setWeight(weight);
  return f;
}
}  // namespace

void PaintedHUDPanel::setTitleText(const std::string& text) {
  title_ = text;
  changed();
}

void PaintedHUDPanel::setValueText(const std::string& text) {
  value_ = text;
  changed();
}

void PaintedHUDPanel::setFillWidth(double width) {
  fill_ = std::max(0.0, width);
  changed();
}

void PaintedHUDPanel::paint(QPainter& painter) const {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(28, 28, 30, 230));
  painter.drawRoundedRect(QRectF(0, 0, width, height), cornerRadius, cornerRadius);

  const double inner = width - 2 * horizontalInset;
  const QRectF track(horizontalInset, height - verticalInset - trackHeight, inner, trackHeight);
  const QRectF title(horizontalInset, verticalInset, inner, titleHeight);
  const QRectF value(horizontalInset, title.bottom() + spacing, inner, track.top() - spacing - title.bottom() - spacing);

  // Titles come from translations and are drawn as plain text, never markup.
  painter.setFont(font(12, QFont::DemiBold));
  painter.setPen(QColor(255, 255, 255, 160));
  painter.drawText(title, Qt::AlignCenter, QString::fromStdString(title_));
  painter.setFont(font(22, QFont::Bold));
  painter.setPen(Qt::white);
  painter.drawText(value, Qt::AlignCenter, QString::fromStdString(value_));

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 40));
  painter.drawRoundedRect(track, trackRadius, trackRadius);
  const double fill = std::min(fill_, inner);
  if (fill > 0) {
    painter.setBrush(QGuiApplication::palette().color(QPalette::Highlight));
    painter.drawRoundedRect(QRectF(track.left(), track.top(), fill, trackHeight), trackRadius, trackRadius);
  }
  painter.restore();
}
