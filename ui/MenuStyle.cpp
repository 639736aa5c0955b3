// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MenuStyle.hpp"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QWidget>

bool MenuStyle::isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QColor MenuStyle::withOpacity(QColor color, double opacity) {
  color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
  return color;
}

QColor MenuStyle::label(const QPalette& palette) { return palette.color(QPalette::WindowText); }
QColor MenuStyle::secondaryLabel(const QPalette& palette) { return withOpacity(label(palette), 0.62); }
QColor MenuStyle::quaternaryLabel(const QPalette& palette) { return withOpacity(label(palette), isDark(palette) ? 0.16 : 0.12); }
QColor MenuStyle::accent(const QPalette& palette) { return palette.color(QPalette::Highlight); }
QColor MenuStyle::controlBackground(const QPalette& palette) { return palette.color(QPalette::Base); }
QColor MenuStyle::windowBackground(const QPalette& palette) { return palette.color(QPalette::Window); }
QColor MenuStyle::warning(const QPalette& palette) { return isDark(palette) ? QColor(255, 179, 64) : QColor(201, 110, 0); }
QColor MenuStyle::error(const QPalette& palette) { return isDark(palette) ? QColor(255, 105, 97) : QColor(204, 36, 29); }

QFont MenuStyle::font(Text text, QFont::Weight weight) {
  QFont font = QApplication::font();
  int pixels = 13;
  switch (text) {
    case Text::title: pixels = 20; break;
    case Text::headline: pixels = 14; break;
    case Text::subheadline: pixels = 12; break;
    case Text::body: pixels = 13; break;
    case Text::callout: pixels = 12; break;
    case Text::caption: pixels = 11; break;
    case Text::caption2: pixels = 10; break;
    case Text::readout: pixels = 15; break;
    case Text::sliderValue: pixels = 12; break;
    case Text::rangeCaption: pixels = 10; break;
  }
  font.setPixelSize(pixels);
  font.setWeight(weight);
  return font;
}

bool MenuStyle::pointerIsOver(const QWidget* widget) {
  if (!widget->isVisible() || !widget->underMouse() || QApplication::activePopupWidget()) return false;
  return widget->rect().contains(widget->mapFromGlobal(QCursor::pos()));
}

void MenuStyle::drawFocusRing(QPainter& painter, const QRectF& frame, double radius, const QPalette& palette) {
  painter.save();
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(withOpacity(accent(palette), 0.7), 2));
  painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius, radius);
  painter.restore();
}

QString MenuStyle::iconButtonStyleSheet() {
  return QStringLiteral("QToolButton { border: none; border-radius: 6px; }"
                        "QToolButton:hover { background: rgba(127, 127, 127, 40); }"
                        "QToolButton:focus { border: 2px solid palette(highlight); }");
}
