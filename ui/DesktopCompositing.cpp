// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DesktopCompositing.hpp"

#include <QGuiApplication>
#include <string>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>

bool desktopComposites() {
  if (QGuiApplication::platformName() == QLatin1String("wayland")) return true;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return false;
  const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
  const Atom atom = XInternAtom(display, selection.c_str(), False);
  return XGetSelectionOwner(display, atom) != None;
}
