// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The window's symbols ("sun.min", "trash", ...): the icon theme's symbolic
// icon where the desktop has one, else our own drawing, always in one ink so
// that they follow the palette like text does.
namespace Symbols {
// `size` in device-independent pixels; rendered for `devicePixelRatio`.
QPixmap pixmap(const QString& name, const QColor& ink, int size, qreal devicePixelRatio = 1.0);
QIcon icon(const QString& name, const QColor& ink, int size);
// The application icon in colour, from the bundled drawing.
QPixmap applicationIcon(int size, qreal devicePixelRatio = 1.0);
// True when `name` has a drawing of our own (every symbol the window uses does).
bool hasDrawing(const QString& name);
}  // namespace Symbols
