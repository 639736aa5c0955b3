// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the window's custom controls readable and operable by screen readers
// (AT-SPI through Qt's bridge): sliders with their value and steps of 5, the
// range editor's two handles as sliders, section headers with their state.
namespace MenuAccessibility {
// Idempotent; call before the first window is shown.
void install();
}  // namespace MenuAccessibility
