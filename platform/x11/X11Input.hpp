// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
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

// Seconds since the last input of any kind (XTEST's included), from the SYNC
// extension's IDLETIME counter, without asking the server while nobody
// touches anything: one query anchors the counter to the local clock, and an
// alarm armed just below the value read reports the next input (`resumed`),
// which makes the next ask query again. A second alarm reports the counter
// reaching a length (`reached`). A resting desktop costs no request and no
// wake-up.
class X11IdleTime {
 public:
  explicit X11IdleTime(X11Session& session);
  ~X11IdleTime();
  X11IdleTime(const X11IdleTime&) = delete;
  X11IdleTime& operator=(const X11IdleTime&) = delete;

  bool isAvailable() const { return counter_ != 0; }
  std::optional<double> secondsSinceLastInput();
  // Arms `resumed` for the next input; false when input is going on right now
  // (no room below the counter) or there is no counter.
  bool armResume();
  // Arms `reached` for the counter reaching `seconds` (one report; a new call replaces it).
  bool armReach(double seconds);

  Signal<> resumed;
  Signal<> reached;

 private:
  struct Anchor {
    std::int64_t idleMilliseconds;
    std::chrono::steady_clock::time_point readAt;
  };
  std::optional<double> query();
  void noticeAlarms();
  void inputSeen();

  X11Session& session_;
  int eventBase_ = 0;
  unsigned long counter_ = 0;  // the IDLETIME counter; 0 without SYNC
  unsigned long alarm_ = 0;       // negative transition: input
  unsigned long reachAlarm_ = 0;  // positive comparison: a length reached
  std::optional<Anchor> anchor_;  // valid until the alarm reports input
  std::chrono::steady_clock::time_point checkedAt_;
  Subscription subscription_;
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
