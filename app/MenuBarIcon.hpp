// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

// The tray icon: two overlapping screens joined by a bar, 22 by 18 points.
namespace MenuBarIcon {
inline constexpr int width = 22;
inline constexpr int height = 18;
inline constexpr const char* accessibilityDescription = "Dimmora";

// The template image: black shapes on transparent, drawn once and shared.
// Rendered at `scale` pixels per point.
const QImage& image(int scale = 2);
// The template recoloured for a panel whose text colour is `ink`.
QIcon icon(const QColor& ink);
}  // namespace MenuBarIcon
