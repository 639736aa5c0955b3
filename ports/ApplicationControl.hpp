// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The running application as a whole.
class ApplicationControl {
 public:
  virtual ~ApplicationControl() = default;
  // Asks the application to quit on a later turn of the main loop, with the
  // usual will-terminate handling (gamma put back, pending saves written).
  virtual void requestQuit() = 0;
};
