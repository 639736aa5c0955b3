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
// may swallow. The brightness keys arrive, as the engine expects, as
// system-defined events of subtype 8 with the key code in the first data word.
class QtInputMonitors final : public QObject, public InputMonitors {
 public:
  // `raw` may be null (no XInput2): there is then no global monitor.
  explicit QtInputMonitors(X11RawInput* raw);
  // `resumed` may be null (no idle protocol): there is then no global monitor.
  explicit QtInputMonitors(Signal<>* resumed);
  ~QtInputMonitors() override;

  Subscription addGlobalMonitor(InputEventMask mask, GlobalHandler handler) override;
  Subscription addLocalMonitor(InputEventMask mask, LocalHandler handler) override;

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

// Modifier flag bits of input events.
namespace InputModifier {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace InputModifier

// Auxiliary-button event codes for the brightness keys.
inline constexpr std::int16_t kAuxControlButtonsSubtype = 8;
inline constexpr std::int64_t kBrightnessUpKeyCode = 2;
inline constexpr std::int64_t kBrightnessDownKeyCode = 3;
// data1 of a system-defined key event: key code, then key state (0x0A down, 0x0B up).
inline constexpr std::int64_t auxKeyData(std::int64_t keyCode, bool down) {
  return (keyCode << 16) | ((down ? 0x0A : 0x0B) << 8);
}
