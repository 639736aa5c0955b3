// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Signal.hpp"

// Kept opaque here so that users of the session need no Xlib headers.
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

// The process's own Xlib connection for RandR, the screen saver extension,
// XInput2 and key grabs. Events are read when the owner's loop sees the
// connection's descriptor become readable and calls processPending().
class X11Session {
 public:
  // Opens the display named by `displayName` (DISPLAY when empty); nullptr
  // when there is no X server to talk to.
  static std::unique_ptr<X11Session> open(const std::string& displayName = {});
  ~X11Session();
  // Makes Xlib's process-wide error handlers ours (open() does this too). Qt
  // sets its own when it starts, and its I/O handler ends the process, so a
  // session opened before Qt calls this again afterwards.
  static void installErrorHandlers();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  Display* display() const { return display_; }
  unsigned long rootWindow() const;
  int fileDescriptor() const;
  // The display string the connection was opened with (":0").
  const std::string& name() const { return name_; }
  // False once the server went away; every binding then reports failure.
  bool isAlive() const { return alive_; }

  // Handlers see every event read from the connection.
  using EventHandler = std::function<void(XEvent&)>;
  [[nodiscard]] Subscription onEvent(EventHandler handler);
  // Handles every event that arrived, reading the connection for more.
  void processPending();
  // Handles only what Xlib has already read (while waiting for a reply):
  // the connection's descriptor no longer shows those as readable.
  void processQueued();
  // Whether an event waits in Xlib's queue or on the connection, without
  // reading it: one poll at most.
  bool hasInput() const;
  void flush();

  // Runs `requests`, waits for the server to answer them and returns the
  // first X error code they caused (0 for none), instead of Xlib's default of
  // printing the error and exiting.
  int trapErrors(const std::function<void()>& requests);

  // Emitted once, when the connection breaks; nothing is sent after that.
  Signal<> lost;

 private:
  explicit X11Session(Display* display, std::string name);
  void markLost();

  Display* display_;
  std::string name_;
  bool alive_ = true;
  unsigned long flushedUpTo_ = 0;  // the request number that follows the last flush
  Signal<XEvent&> events_;
};
