// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QPainter;
class QRectF;
class QWidget;

// The window's colours and type, derived from the desktop's palette so that a
// light or dark desktop gets a matching window. Sizes are pixels.
namespace MenuStyle {
bool isDark(const QPalette& palette);

QColor label(const QPalette& palette);
QColor secondaryLabel(const QPalette& palette);
QColor quaternaryLabel(const QPalette& palette);
QColor accent(const QPalette& palette);
QColor controlBackground(const QPalette& palette);
QColor windowBackground(const QPalette& palette);
QColor warning(const QPalette& palette);
QColor error(const QPalette& palette);
// `color` with its alpha multiplied by `opacity`.
QColor withOpacity(QColor color, double opacity);

// Whether the pointer is over `widget` now. Qt's own hover flag stays set
// when a pop-up or context menu took the pointer away, so it is not trusted.
bool pointerIsOver(const QWidget* widget);
// The keyboard focus: a two-pixel accent ring just inside `frame`.
void drawFocusRing(QPainter& painter, const QRectF& frame, double radius, const QPalette& palette);

// A symbol-only tool button (quit, remove step): no frame, a faint fill on
// hover, the accent ring when the keyboard is on it.
QString iconButtonStyleSheet();

enum class Text { title, headline, subheadline, body, callout, caption, caption2, readout, sliderValue, rangeCaption };
// The desktop's sans font; its default figures are of equal width, so numbers do not jitter.
QFont font(Text text, QFont::Weight weight = QFont::Normal);
}  // namespace MenuStyle
