// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one process-wide T, built on first use and never destroyed.
//
// Qt ends the process with exit() when its X connection breaks, and the exit
// handler that puts the gamma back then runs after the destructors of every
// function-local static built since the handler was registered. What that
// restore reaches (the control statuses, the log, the trace switches) must
// therefore outlive them all; the memory stays reachable, so it is no leak.
template <typename T>
T& processWide() {
  static T* const instance = new T();
  return *instance;
}
