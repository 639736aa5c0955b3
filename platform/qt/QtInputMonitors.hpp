// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "ports/InputMonitors.hpp"

class X11RawInput;
struct RawInputEvent;

// The global monitor is XInput2's raw key and button events of every client
// on X11. Wayland has none: no client sees another's input, and the idle
// source tells when the user is back. The local one is the Qt application's
// own events, which a handler may swallow.
class QtInputMonitors final : public QObject, public InputMonitors {
 public:
  // `raw` may be null (Wayland, no XInput2): there is then no global monitor.
  explicit QtInputMonitors(X11RawInput* raw);
  ~QtInputMonitors() override;

  Subscription addGlobalMonitor(GlobalHandler handler) override;
  Subscription addLocalMonitor(LocalHandler handler) override;

  // The event a desktop-wide raw event stands for.
  static InputEvent translate(const RawInputEvent& raw);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  X11RawInput* raw_ = nullptr;
  Subscription rawSubscription_;
  Signal<InputEvent> global_;
  Signal<InputEvent, bool*> local_;
  bool filtering_ = false;
};
