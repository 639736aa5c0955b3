// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The desktop's clipboard.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Replaces whatever the clipboard holds with one plain-text entry; false when refused.
  virtual bool setText(const std::string& text) = 0;
};
