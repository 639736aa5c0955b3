// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/X11WindowState.hpp"

#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <vector>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

void keepOffTaskbarAndPager(QWidget* window) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return;
  const auto id = static_cast<Window>(window->winId());
  const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  std::vector<Atom> atoms;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, id, state, 0, 1024, False, XA_ATOM, &type, &format, &count, &remaining, &data) ==
          Success &&
      data) {
    if (type == XA_ATOM && format == 32) {
      const auto* existing = reinterpret_cast<const Atom*>(data);
      atoms.assign(existing, existing + count);
    }
    XFree(data);
  }
  // Qt writes its own states (above, ...) into the same property when it maps the window, keeping these.
  for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    const Atom atom = XInternAtom(display, name, False);
    if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) atoms.push_back(atom);
  }
  XChangeProperty(display, id, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(atoms.data()),
                  static_cast<int>(atoms.size()));
  XFlush(display);
}
