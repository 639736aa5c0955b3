// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Opens web addresses and local files (file:// addresses) in the user's default application.
class URLOpener {
 public:
  virtual ~URLOpener() = default;
  // False when no application took it.
  virtual bool openURL(const std::string& url) = 0;
};
