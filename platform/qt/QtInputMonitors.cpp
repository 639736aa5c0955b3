// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtInputMonitors.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include "platform/x11/X11Input.hpp"

namespace {
constexpr unsigned long kMonBrightnessUp = 0x1008FF02;    // XF86XK_MonBrightnessUp
constexpr unsigned long kMonBrightnessDown = 0x1008FF03;  // XF86XK_MonBrightnessDown

bool controlAndAlt(Qt::KeyboardModifiers modifiers) {
  return (modifiers & Qt::ControlModifier) && (modifiers & Qt::AltModifier);
}

std::optional<InputEvent> translateQt(QEvent* event) {
  InputEvent input;
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* key = static_cast<QKeyEvent*>(event);
      input.pressed = event->type() == QEvent::KeyPress;
      input.controlAndAlt = controlAndAlt(key->modifiers());
      if (key->key() == Qt::Key_MonBrightnessUp)
        input.kind = InputEvent::Kind::brightnessUp;
      else if (key->key() == Qt::Key_MonBrightnessDown)
        input.kind = InputEvent::Kind::brightnessDown;
      else if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control || key->key() == Qt::Key_Alt ||
               key->key() == Qt::Key_Meta)
        input.kind = InputEvent::Kind::modifier;
      return input;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
      input.kind = InputEvent::Kind::button;
      input.pressed = event->type() == QEvent::MouseButtonPress;
      input.controlAndAlt = controlAndAlt(static_cast<QMouseEvent*>(event)->modifiers());
      return input;
    case QEvent::Wheel:
      input.kind = InputEvent::Kind::scroll;
      input.controlAndAlt = controlAndAlt(static_cast<QWheelEvent*>(event)->modifiers());
      return input;
    default: return std::nullopt;
  }
}
}  // namespace

QtInputMonitors::QtInputMonitors(X11RawInput* raw) : raw_(raw) {}

QtInputMonitors::~QtInputMonitors() {
  if (filtering_ && qApp) qApp->removeEventFilter(this);
}

InputEvent QtInputMonitors::translate(const RawInputEvent& raw) {
  using Kind = RawInputEvent::Kind;
  InputEvent input;
  input.controlAndAlt = raw.controlAndAlt;
  input.pressed = raw.kind == Kind::keyDown || raw.kind == Kind::buttonDown || raw.kind == Kind::scroll;
  switch (raw.kind) {
    case Kind::keyDown:
    case Kind::keyUp:
      input.kind = raw.keySymbol == kMonBrightnessUp     ? InputEvent::Kind::brightnessUp
                   : raw.keySymbol == kMonBrightnessDown ? InputEvent::Kind::brightnessDown
                                                         : InputEvent::Kind::key;
      break;
    case Kind::modifierChanged: input.kind = InputEvent::Kind::modifier; break;
    case Kind::scroll: input.kind = InputEvent::Kind::scroll; break;
    case Kind::buttonDown:
    case Kind::buttonUp: input.kind = InputEvent::Kind::button; break;
  }
  return input;
}

Subscription QtInputMonitors::addGlobalMonitor(GlobalHandler handler) {
  if (!raw_) return {};
  if (!rawSubscription_.isConnected()) {
    if (!raw_->setEnabled(true)) return {};
    rawSubscription_ = raw_->events.connect([this](const RawInputEvent& raw) {
      // Like a global monitor elsewhere: events for this application are the local monitor's.
      if (QApplication::activeWindow()) return;
      global_.emit(translate(raw));
    });
  }
  return global_.connect(std::move(handler));
}

Subscription QtInputMonitors::addLocalMonitor(LocalHandler handler) {
  if (!qApp) return {};
  if (!filtering_) {
    qApp->installEventFilter(this);
    filtering_ = true;
  }
  return local_.connect([handler = std::move(handler)](const InputEvent& event, bool* swallowed) {
    if (!*swallowed) *swallowed = handler(event);
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
