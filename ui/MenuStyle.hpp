// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

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

enum class Text { title, headline, subheadline, body, callout, caption, caption2, readout, sliderValue, rangeCaption };
// The desktop's sans font; its default figures are of equal width, so numbers do not jitter.
QFont font(Text text, QFont::Weight weight = QFont::Normal);
}  // namespace MenuStyle
