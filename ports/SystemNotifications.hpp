// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Signal.hpp"

// The system's broadcast notifications. A binding emits them on the main
// thread; models connect and keep the Subscription for as long as they listen.
class SystemNotifications {
 public:
  Signal<> willSleep;                 // the machine is about to sleep
  Signal<> didWake;                   // the machine woke up
  Signal<> willTerminate;             // the application is about to quit
  Signal<> screenParametersChanged;   // displays were added, removed or rearranged
};
