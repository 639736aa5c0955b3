#include "platform/linux/X11Input.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>

#include "platform/linux/X11Session.hpp"

X11IdleTime::X11IdleTime(X11Session& session) : session_(session) {
  int eventBase = 0, errorBase = 0;
  available_ = XScreenSaverQueryExtension(session_.display(), &eventBase, &errorBase);
}

std::optional<double> X11IdleTime::secondsSinceLastInput() const {
  if (!available_ || !session_.isAlive()) return std::nullopt;
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return std::nullopt;
  std::optional<double> seconds;
  if (XScreenSaverQueryInfo(session_.display(), session_.rootWindow(), info)) seconds = info->idle / 1000.0;
  XFree(info);
  return seconds;
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
