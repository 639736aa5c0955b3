// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "ports/InputMonitors.hpp"

class X11RawInput;
struct RawInputEvent;

// The global monitor is XInput2's raw key and button events of every client
// on X11; on Wayland, where no client sees another's input, it is the
// compositor's word that input resumed after idleness, delivered as a key
// press. The local one is the Qt application's own events, which a handler
// may swallow.
class QtInputMonitors final : public QObject, public InputMonitors {
 public:
  // `raw` may be null (no XInput2): there is then no global monitor.
  explicit QtInputMonitors(X11RawInput* raw);
  // `resumed` may be null (no idle protocol): there is then no global monitor.
  explicit QtInputMonitors(Signal<>* resumed);
  ~QtInputMonitors() override;

  Subscription addGlobalMonitor(GlobalHandler handler) override;
  Subscription addLocalMonitor(LocalHandler handler) override;

  // The event a desktop-wide raw event stands for.
  static InputEvent translate(const RawInputEvent& raw);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  X11RawInput* raw_ = nullptr;
  Signal<>* resumed_ = nullptr;
  Subscription rawSubscription_;
  Signal<InputEvent> global_;
  Signal<InputEvent, bool*> local_;
  bool filtering_ = false;
};
