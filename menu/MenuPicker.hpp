// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One pop-up picker of the window as the view draws it: the face shows
// `faceLabel`, the menu lists `labels` in order with a check mark beside
// `selectedIndex` (none when the current value is not among the options),
// and choosing an entry calls `choose` with its index.
struct MenuPicker {
  std::string faceLabel;
  std::vector<std::string> labels;
  std::optional<std::size_t> selectedIndex;
  std::function<void(std::size_t)> choose;
};
