// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11Input.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/sync.h>
#include <X11/keysym.h>

#include <algorithm>
#include <limits>
#include <string_view>

#include "platform/x11/X11Session.hpp"

namespace {
bool isAlarmNotify(const XEvent& event, int eventBase, unsigned long alarm) {
  return event.type == eventBase + XSyncAlarmNotify &&
         reinterpret_cast<const XSyncAlarmNotifyEvent&>(event).alarm == alarm;
}
}  // namespace

X11IdleTime::X11IdleTime(X11Session& session) : session_(session) {
  Display* display = session_.display();
  int errorBase = 0, major = 0, minor = 0;
  if (!XSyncQueryExtension(display, &eventBase_, &errorBase) || !XSyncInitialize(display, &major, &minor)) return;
  int count = 0;
  if (XSyncSystemCounter* counters = XSyncListSystemCounters(display, &count)) {
    for (int i = 0; i < count; ++i)
      if (std::string_view(counters[i].name) == "IDLETIME") counter_ = counters[i].counter;
    XSyncFreeSystemCounterList(counters);
  }
  if (!counter_) return;
  // Fires when the counter is at or below its value, set on each query; until
  // then the lowest value keeps it quiet. It notifies this client only.
  XSyncAlarmAttributes attributes{};
  attributes.trigger.counter = counter_;
  attributes.trigger.value_type = XSyncAbsolute;
  attributes.trigger.test_type = XSyncNegativeComparison;
  XSyncIntsToValue(&attributes.trigger.wait_value, 0, std::numeric_limits<int>::min());
  XSyncIntToValue(&attributes.delta, 0);
  attributes.events = True;
  alarm_ = XSyncCreateAlarm(display, XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue |
                                         XSyncCADelta | XSyncCAEvents,
                            &attributes);
  attributes.trigger.test_type = XSyncPositiveComparison;
  XSyncIntsToValue(&attributes.trigger.wait_value, 0xFFFFFFFFu, std::numeric_limits<int>::max());
  reachAlarm_ = XSyncCreateAlarm(display, XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue |
                                              XSyncCADelta | XSyncCAEvents,
                                 &attributes);
  subscription_ = session_.onEvent([this](XEvent& event) {
    if (isAlarmNotify(event, eventBase_, alarm_)) inputSeen();
    if (isAlarmNotify(event, eventBase_, reachAlarm_) &&
        reinterpret_cast<const XSyncAlarmNotifyEvent&>(event).state == XSyncAlarmInactive)
      reached.emit();
  });
}

void X11IdleTime::inputSeen() {
  anchor_.reset();
  resumed.emit();
}

X11IdleTime::~X11IdleTime() {
  if (!session_.isAlive()) return;
  if (alarm_) XSyncDestroyAlarm(session_.display(), alarm_);
  if (reachAlarm_) XSyncDestroyAlarm(session_.display(), reachAlarm_);
}

void X11IdleTime::noticeAlarms() {
  // The engine asks once per event type in one tick; reading the socket once
  // per tick is enough. An alarm still in the socket is taken out without
  // running other handlers in the middle of the caller's work.
  const auto now = std::chrono::steady_clock::now();
  if (now - checkedAt_ < std::chrono::milliseconds(5)) return;
  checkedAt_ = now;
  if (!session_.hasInput()) return;
  XEvent event;
  auto matches = [](Display*, XEvent* candidate, XPointer self) -> Bool {
    const auto* idle = reinterpret_cast<const X11IdleTime*>(self);
    return isAlarmNotify(*candidate, idle->eventBase_, idle->alarm_);
  };
  while (XCheckIfEvent(session_.display(), &event, matches, reinterpret_cast<XPointer>(this))) inputSeen();
}

bool X11IdleTime::armResume() {
  if (!counter_ || !session_.isAlive()) return false;
  if (anchor_) noticeAlarms();
  if (!anchor_) query();
  return anchor_.has_value();
}

bool X11IdleTime::armReach(double seconds) {
  if (!counter_ || !session_.isAlive()) return false;
  const auto milliseconds = static_cast<std::int64_t>(std::min(seconds * 1000, 9.0e15));
  XSyncAlarmAttributes attributes{};
  XSyncIntsToValue(&attributes.trigger.wait_value, static_cast<unsigned int>(milliseconds & 0xFFFFFFFF),
                   static_cast<int>(milliseconds >> 32));
  // Changing the trigger makes the alarm active again; it goes inactive when it fires.
  XSyncChangeAlarm(session_.display(), reachAlarm_, XSyncCAValue, &attributes);
  session_.flush();
  return session_.isAlive();
}

std::optional<double> X11IdleTime::secondsSinceLastInput() {
  if (!counter_ || !session_.isAlive()) return std::nullopt;
  if (anchor_) noticeAlarms();
  if (!anchor_) return query();
  const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - anchor_->readAt).count();
  return anchor_->idleMilliseconds / 1000.0 + elapsed;
}

std::optional<double> X11IdleTime::query() {
  Display* display = session_.display();
  XSyncValue value;
  if (!XSyncQueryCounter(display, counter_, &value) || !session_.isAlive()) return std::nullopt;
  const std::int64_t idle = (static_cast<std::int64_t>(XSyncValueHigh32(value)) << 32) | XSyncValueLow32(value);
  // Input resets the counter to 0, below the value just read: the alarm
  // fires at one below it. Right after input there is no room below, and the
  // next ask queries again.
  if (idle >= 2) {
    const std::int64_t below = idle - 1;
    XSyncAlarmAttributes attributes{};
    XSyncIntsToValue(&attributes.trigger.wait_value, static_cast<unsigned int>(below & 0xFFFFFFFF),
                     static_cast<int>(below >> 32));
    XSyncChangeAlarm(display, alarm_, XSyncCAValue, &attributes);
    session_.flush();
    anchor_ = Anchor{idle, std::chrono::steady_clock::now()};
    checkedAt_ = anchor_->readAt;
  }
  return idle / 1000.0;
}

namespace {
bool isModifierKey(unsigned long keySymbol) {
  return (keySymbol >= XK_Shift_L && keySymbol <= XK_Hyper_R) || keySymbol == XK_ISO_Level3_Shift ||
         keySymbol == XK_Mode_switch || keySymbol == XK_Num_Lock;
}
}  // namespace

X11RawInput::X11RawInput(X11Session& session) : session_(session) {
  int event = 0, error = 0, major = 2, minor = 0;
  available_ = XQueryExtension(session_.display(), "XInputExtension", &opcode_, &event, &error) &&
               XIQueryVersion(session_.display(), &major, &minor) == Success;
}

bool X11RawInput::setEnabled(bool enabled) {
  if (!available_ || !session_.isAlive()) return false;
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  if (enabled) {
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
  }
  XIEventMask mask{XIAllMasterDevices, sizeof(bits), bits};
  const int code = session_.trapErrors([&] { XISelectEvents(session_.display(), session_.rootWindow(), &mask, 1); });
  if (!enabled) {
    subscription_.reset();
    return code == 0;
  }
  subscription_ = session_.onEvent([this](XEvent& event) {
    XGenericEventCookie& cookie = event.xcookie;
    if (cookie.type != GenericEvent || cookie.extension != opcode_ || !cookie.data) return;
    const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
    RawInputEvent input{RawInputEvent::Kind::keyDown};
    switch (cookie.evtype) {
      case XI_RawKeyPress:
      case XI_RawKeyRelease: {
        input.keySymbol = XkbKeycodeToKeysym(session_.display(), static_cast<KeyCode>(raw->detail), 0, 0);
        const bool down = cookie.evtype == XI_RawKeyPress;
        input.kind = isModifierKey(input.keySymbol) ? RawInputEvent::Kind::modifierChanged
                     : down                          ? RawInputEvent::Kind::keyDown
                                                     : RawInputEvent::Kind::keyUp;
        XkbStateRec state{};
        if (XkbGetState(session_.display(), XkbUseCoreKbd, &state) == Success)
          input.controlAndAlt = (state.mods & ControlMask) && (state.mods & Mod1Mask);
        break;
      }
      case XI_RawButtonPress:
      case XI_RawButtonRelease:
        input.button = raw->detail;
        if (raw->detail >= 4 && raw->detail <= 7) {
          // Wheel notches arrive as press-release pairs; count each once.
          if (cookie.evtype == XI_RawButtonRelease) return;
          input.kind = RawInputEvent::Kind::scroll;
        } else {
          input.kind = cookie.evtype == XI_RawButtonPress ? RawInputEvent::Kind::buttonDown
                                                         : RawInputEvent::Kind::buttonUp;
        }
        break;
      default: return;
    }
    events.emit(input);
  });
  return code == 0;
}

X11HotKeys::X11HotKeys(X11Session& session) : session_(session) {
  // Num Lock sits on whichever modifier the keymap puts it.
  Display* display = session_.display();
  const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
  if (XModifierKeymap* map = XGetModifierMapping(display)) {
    for (int modifier = 0; modifier < 8; ++modifier)
      for (int k = 0; k < map->max_keypermod; ++k)
        if (numLock != 0 && map->modifiermap[modifier * map->max_keypermod + k] == numLock)
          numLockMask_ = 1u << modifier;
    XFreeModifiermap(map);
  }
  // A held key then repeats as presses without releases in between.
  Bool detectable = False;
  XkbSetDetectableAutoRepeat(display, True, &detectable);
  subscription_ = session_.onEvent([this](XEvent& event) {
    if (event.type != KeyPress && event.type != KeyRelease) return;
    handleKey({event.type == KeyPress, static_cast<int>(event.xkey.keycode), event.xkey.state, event.xkey.time});
  });
}

void X11HotKeys::handleKey(const XKeyEventFields& key) {
  if (!key.press) {
    held_.erase(key.keycode);
    releasedAt_[key.keycode] = key.time;
    return;
  }
  const auto released = releasedAt_.find(key.keycode);
  const bool repeat = held_.contains(key.keycode) || (released != releasedAt_.end() && released->second == key.time);
  held_.insert(key.keycode);
  if (repeat) return;
  const unsigned int clean = key.state & ~(LockMask | numLockMask_);
  for (const auto& [id, grab] : grabs_)
    if (grab.keycode == key.keycode && grab.modifiers == clean) pressed.emit(id);
}

X11HotKeys::~X11HotKeys() {
  for (const auto& [id, grab] : grabs_) setGrab(grab, false);
  session_.flush();
}

unsigned int X11HotKeys::variantMask(int index) const {
  const unsigned int variants[] = {0, LockMask, numLockMask_, LockMask | numLockMask_};
  return variants[index];
}

void X11HotKeys::setGrab(const Grab& grab, bool take) {
  if (!session_.isAlive()) return;
  Display* display = session_.display();
  for (int i = 0; i < 4; ++i) {
    if (i >= 2 && numLockMask_ == 0) break;
    const unsigned int mask = grab.modifiers | variantMask(i);
    if (take)
      XGrabKey(display, grab.keycode, mask, session_.rootWindow(), False, GrabModeAsync, GrabModeAsync);
    else
      XUngrabKey(display, grab.keycode, mask, session_.rootWindow());
  }
}

int X11HotKeys::grab(int id, unsigned long keySymbol, unsigned int modifiers) {
  ungrab(id);
  if (!session_.isAlive()) return BadImplementation;
  const KeyCode keycode = XKeysymToKeycode(session_.display(), keySymbol);
  if (keycode == 0) return BadValue;
  const Grab wanted{keycode, modifiers};
  // The server lets a client grab its own combination twice; a second owner would be a silent takeover.
  for (const auto& [other, held] : grabs_)
    if (held.keycode == keycode && held.modifiers == modifiers) return BadAccess;
  const int code = session_.trapErrors([&] { setGrab(wanted, true); });
  if (code != 0) {
    // A partial grab would leave the key half taken; release all variants.
    session_.trapErrors([&] { setGrab(wanted, false); });
    return code;
  }
  grabs_[id] = wanted;
  return 0;
}

void X11HotKeys::ungrab(int id) {
  const auto it = grabs_.find(id);
  if (it == grabs_.end()) return;
  const Grab grab = it->second;
  grabs_.erase(it);
  session_.trapErrors([&] { setGrab(grab, false); });
}
