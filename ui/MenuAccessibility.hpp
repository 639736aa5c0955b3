// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Makes the window's custom controls readable and operable by screen readers
// (AT-SPI through Qt's bridge): sliders with their value (whole numbers;
// increase and decrease by 5), the range editor's two handles as sliders,
// section headers with their state, the confirmation card as a dialog (an
// alert for an error), and widgets marked as groups (step rows) as panels.
namespace MenuAccessibility {
// Idempotent; call before the first window is shown.
void install();
// Makes `widget` a named group (a panel) to screen readers.
void markAsGroup(QWidget* widget);
// Tells readers that `widget` was expanded or collapsed. Qt's bridge passes
// no such change on, so the event goes out here, on the bridge's connection.
void announceExpanded(QWidget* widget, bool expanded);
}  // namespace MenuAccessibility
