// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11Session.hpp"

#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>

#include "services/AppLog.hpp"

namespace {
// Xlib's error handler is process-wide; the trap in progress collects into it.
int* activeTrap = nullptr;

int recordError(Display* display, XErrorEvent* error) {
  if (activeTrap && *activeTrap == 0) *activeTrap = error->error_code;
  if (activeTrap) return 0;
  char text[160] = "";
  XGetErrorText(display, error->error_code, text, sizeof text);
  AppLog::app.error("X11 request " + std::to_string(error->request_code) + "." + std::to_string(error->minor_code) +
                    " failed: " + text);
  return 0;
}

// Xlib's default I/O error handler exits the process; ours only logs, and the
// per-display exit handler below keeps the process alive.
int ioError(Display*) {
  AppLog::app.error("The connection to the X server was lost");
  return 0;
}
}  // namespace

std::unique_ptr<X11Session> X11Session::open(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (!display) return nullptr;
  installErrorHandlers();
  return std::unique_ptr<X11Session>(new X11Session(display, DisplayString(display)));
}

void X11Session::installErrorHandlers() {
  XSetErrorHandler(recordError);
  XSetIOErrorHandler(ioError);
}

X11Session::X11Session(Display* display, std::string name) : display_(display), name_(std::move(name)) {
  XSetIOErrorExitHandler(
      display_, [](Display*, void* self) { static_cast<X11Session*>(self)->markLost(); }, this);
}

X11Session::~X11Session() {
  // A broken connection cannot be closed cleanly; the process leaks its few bytes.
  if (alive_) XCloseDisplay(display_);
}

void X11Session::markLost() {
  if (!alive_) return;
  alive_ = false;
  lost.emit();
}

unsigned long X11Session::rootWindow() const { return DefaultRootWindow(display_); }

int X11Session::fileDescriptor() const { return ConnectionNumber(display_); }

Subscription X11Session::onEvent(EventHandler handler) {
  return events_.connect([handler = std::move(handler)](XEvent& event) { handler(event); });
}

void X11Session::processPending() {
  while (alive_ && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    // XInput2 payloads are fetched once here, so every handler can read them.
    const bool cookie = event.type == GenericEvent && XGetEventData(display_, &event.xcookie);
    events_.emit(event);
    if (cookie) XFreeEventData(display_, &event.xcookie);
  }
}

void X11Session::processQueued() {
  if (alive_ && XQLength(display_) > 0) processPending();
}

bool X11Session::hasInput() const {
  if (!alive_) return false;
  if (XQLength(display_) > 0) return true;
  pollfd descriptor{ConnectionNumber(display_), POLLIN, 0};
  return ::poll(&descriptor, 1, 0) > 0;
}

void X11Session::flush() {
  // XFlush also reads the connection; with nothing sent since the last one it
  // would be a wasted system call on every turn of the loop.
  if (!alive_ || NextRequest(display_) == flushedUpTo_) return;
  XFlush(display_);
  flushedUpTo_ = NextRequest(display_);
}

int X11Session::trapErrors(const std::function<void()>& requests) {
  if (!alive_) return BadImplementation;
  int code = 0;
  int* outer = activeTrap;
  activeTrap = &code;
  requests();
  if (alive_) XSync(display_, False);
  activeTrap = outer;
  return code;
}
