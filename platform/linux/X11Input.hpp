#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "base/Signal.hpp"

class X11Session;

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

// Control+Alt key combinations grabbed on the root window. The grab is also
// taken with Num Lock and Caps Lock on, or the keys would stop working then.
class X11HotKeys {
 public:
  explicit X11HotKeys(X11Session& session);
  ~X11HotKeys();

  // 0 when every variant was grabbed; otherwise the X error (BadAccess when
  // another client holds the combination), and nothing stays grabbed.
  int grab(int id, unsigned long keySymbol);
  void ungrab(int id);

  Signal<int> pressed;

 private:
  struct Grab {
    int keycode;
  };
  unsigned int variantMask(int index) const;
  void setGrab(int keycode, bool grab);

  X11Session& session_;
  unsigned int numLockMask_ = 0;
  std::map<int, Grab> grabs_;
  Subscription subscription_;
};
