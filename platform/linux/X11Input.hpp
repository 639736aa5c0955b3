#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "base/Signal.hpp"

class X11Session;

// The parts of an X key event the hot keys look at (Xlib stays out of this header).
struct XKeyEventFields {
  bool press;
  int keycode;
  unsigned int state;
  unsigned long time;
};

// Seconds since the last input of any kind, from the MIT-SCREEN-SAVER extension.
class X11IdleTime {
 public:
  explicit X11IdleTime(X11Session& session);
  bool isAvailable() const { return available_; }
  std::optional<double> secondsSinceLastInput() const;

 private:
  X11Session& session_;
  bool available_ = false;
};

// One press or release seen anywhere on the desktop.
struct RawInputEvent {
  enum class Kind { keyDown, keyUp, modifierChanged, buttonDown, buttonUp, scroll };
  Kind kind;
  int button = 0;                  // 1 left, 2 middle, 3 right, 8+ extra (buttons only)
  unsigned long keySymbol = 0;     // the key's unshifted symbol (keys only)
  bool controlAndAlt = false;      // Control and Alt were held (keys only)
};

// Raw key and button events of every client, through XInput 2; only observed,
// never taken away from the application they were meant for.
class X11RawInput {
 public:
  explicit X11RawInput(X11Session& session);
  bool isAvailable() const { return available_; }
  // Starts or stops delivery; delivery is off at creation.
  bool setEnabled(bool enabled);

  Signal<RawInputEvent> events;

 private:
  X11Session& session_;
  bool available_ = false;
  int opcode_ = 0;
  Subscription subscription_;
};

// Key combinations grabbed on the root window. The grab is also taken with
// Num Lock and Caps Lock on, or the keys would stop working then. A held key's
// auto-repeat is not a press: each combination is reported once until released.
class X11HotKeys {
 public:
  explicit X11HotKeys(X11Session& session);
  ~X11HotKeys();

  // `modifiers` is an X modifier mask (ControlMask | Mod1Mask ...). 0 when every
  // variant was grabbed; otherwise the X error (BadAccess when another client
  // holds the combination), and nothing stays grabbed.
  int grab(int id, unsigned long keySymbol, unsigned int modifiers);
  void ungrab(int id);

  Signal<int> pressed;

 private:
  struct Grab {
    int keycode;
    unsigned int modifiers;
  };
  unsigned int variantMask(int index) const;
  void setGrab(const Grab& grab, bool take);
  void handleKey(const XKeyEventFields& key);

  X11Session& session_;
  unsigned int numLockMask_ = 0;
  std::map<int, Grab> grabs_;
  // Keys whose press was reported and whose release has not come yet.
  std::set<int> held_;
  // Time of each key's last release: a press with the same time is the
  // auto-repeat of a server that cannot report repeats as presses alone.
  std::map<int, unsigned long> releasedAt_;
  Subscription subscription_;
};
