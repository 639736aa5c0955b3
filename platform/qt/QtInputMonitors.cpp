// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtInputMonitors.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include "platform/linux/X11Input.hpp"

namespace {
constexpr unsigned long kMonBrightnessUp = 0x1008FF02;    // XF86XK_MonBrightnessUp
constexpr unsigned long kMonBrightnessDown = 0x1008FF03;  // XF86XK_MonBrightnessDown

std::uint64_t flagsFrom(Qt::KeyboardModifiers modifiers) {
  std::uint64_t flags = 0;
  if (modifiers & Qt::ShiftModifier) flags |= InputModifier::shift;
  if (modifiers & Qt::ControlModifier) flags |= InputModifier::control;
  if (modifiers & Qt::AltModifier) flags |= InputModifier::option;
  if (modifiers & Qt::MetaModifier) flags |= InputModifier::command;
  return flags;
}

InputEventType buttonType(Qt::MouseButton button, bool down) {
  if (button == Qt::LeftButton) return down ? InputEventType::leftMouseDown : InputEventType::leftMouseUp;
  if (button == Qt::RightButton) return down ? InputEventType::rightMouseDown : InputEventType::rightMouseUp;
  return down ? InputEventType::otherMouseDown : InputEventType::otherMouseUp;
}

std::optional<InputEvent> translateQt(QEvent* event) {
  InputEvent input;
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* key = static_cast<QKeyEvent*>(event);
      const bool down = event->type() == QEvent::KeyPress;
      input.modifierFlags = flagsFrom(key->modifiers());
      if (key->key() == Qt::Key_MonBrightnessUp || key->key() == Qt::Key_MonBrightnessDown) {
        input.type = InputEventType::systemDefined;
        input.subtype = kAuxControlButtonsSubtype;
        input.data1 = auxKeyData(key->key() == Qt::Key_MonBrightnessUp ? kBrightnessUpKeyCode : kBrightnessDownKeyCode,
                                 down);
      } else if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control || key->key() == Qt::Key_Alt ||
                 key->key() == Qt::Key_Meta) {
        input.type = InputEventType::flagsChanged;
      } else {
        input.type = down ? InputEventType::keyDown : InputEventType::keyUp;
      }
      return input;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      input.type = buttonType(mouse->button(), event->type() == QEvent::MouseButtonPress);
      input.modifierFlags = flagsFrom(mouse->modifiers());
      return input;
    }
    case QEvent::Wheel:
      input.type = InputEventType::scrollWheel;
      input.modifierFlags = flagsFrom(static_cast<QWheelEvent*>(event)->modifiers());
      return input;
    default: return std::nullopt;
  }
}
}  // namespace

QtInputMonitors::QtInputMonitors(X11RawInput* raw) : raw_(raw) {}

QtInputMonitors::QtInputMonitors(Signal<>* resumed) : resumed_(resumed) {}

QtInputMonitors::~QtInputMonitors() {
  if (filtering_ && qApp) qApp->removeEventFilter(this);
}

InputEvent QtInputMonitors::translate(const RawInputEvent& raw) {
  InputEvent input;
  using Kind = RawInputEvent::Kind;
  if (raw.controlAndAlt) input.modifierFlags = InputModifier::control | InputModifier::option;
  const bool down = raw.kind == Kind::keyDown || raw.kind == Kind::buttonDown;
  if ((raw.kind == Kind::keyDown || raw.kind == Kind::keyUp) &&
      (raw.keySymbol == kMonBrightnessUp || raw.keySymbol == kMonBrightnessDown)) {
    input.type = InputEventType::systemDefined;
    input.subtype = kAuxControlButtonsSubtype;
    input.data1 = auxKeyData(raw.keySymbol == kMonBrightnessUp ? kBrightnessUpKeyCode : kBrightnessDownKeyCode, down);
    return input;
  }
  switch (raw.kind) {
    case Kind::keyDown: input.type = InputEventType::keyDown; break;
    case Kind::keyUp: input.type = InputEventType::keyUp; break;
    case Kind::modifierChanged: input.type = InputEventType::flagsChanged; break;
    case Kind::scroll: input.type = InputEventType::scrollWheel; break;
    case Kind::buttonDown:
    case Kind::buttonUp:
      input.type = raw.button == 1   ? (down ? InputEventType::leftMouseDown : InputEventType::leftMouseUp)
                   : raw.button == 3 ? (down ? InputEventType::rightMouseDown : InputEventType::rightMouseUp)
                                     : (down ? InputEventType::otherMouseDown : InputEventType::otherMouseUp);
      break;
  }
  return input;
}

Subscription QtInputMonitors::addGlobalMonitor(InputEventMask mask, GlobalHandler handler) {
  if (resumed_ && !rawSubscription_.isConnected())
    rawSubscription_ = resumed_->connect([this] { global_.emit(InputEvent{InputEventType::keyDown, 0, 0, 0}); });
  if (!raw_ && !resumed_) return {};
  if (raw_ && !rawSubscription_.isConnected()) {
    if (!raw_->setEnabled(true)) return {};
    rawSubscription_ = raw_->events.connect([this](const RawInputEvent& raw) {
      // Like a global monitor elsewhere: events for this application are the local monitor's.
      if (QApplication::activeWindow()) return;
      global_.emit(translate(raw));
    });
  }
  return global_.connect([mask, handler = std::move(handler)](const InputEvent& event) {
    if (mask & eventMaskBit(event.type)) handler(event);
  });
}

Subscription QtInputMonitors::addLocalMonitor(InputEventMask mask, LocalHandler handler) {
  if (!qApp) return {};
  if (!filtering_) {
    qApp->installEventFilter(this);
    filtering_ = true;
  }
  return local_.connect([mask, handler = std::move(handler)](const InputEvent& event, bool* swallowed) {
    if (!*swallowed && (mask & eventMaskBit(event.type))) *swallowed = handler(event);
  });
}

bool QtInputMonitors::eventFilter(QObject* watched, QEvent* event) {
  // Each event reaches the filter once per receiving object; count it at its window only.
  if (!watched->isWindowType()) return false;
  const auto input = translateQt(event);
  if (!input) return false;
  bool swallowed = false;
  local_.emit(*input, &swallowed);
  return swallowed;
}
