// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The platform facilities a desktop offers, as a binding (or a test's
// simulated machine) provides them. Only the composition root reads the set:
// it hands each object the ports that object uses. A null entry means the
// facility is not available, and whoever is given it takes its documented
// fallback.
class MainLoop;
class Environment;
class Displays;                 // the connected displays and their facts
class I2CBuses;                 // transfers on /dev/i2c-N
class Backlights;               // kernel backlight devices
class DesktopBrightness;        // the desktop's own brightness service
class GammaTables;              // per-display gamma transfer tables
class IdleTimeSource;           // seconds since the last event of each type
class InputMonitors;            // global and in-application input events
class SystemNotifications;      // will-sleep, did-wake, will-terminate, screen changes (a concrete class of signals)
class Inhibitors;               // what holds the screen or the machine awake
class GlobalShortcuts;          // key combinations that reach the program anywhere
class Autostart;                // whether the program starts at login
class DesktopIdleDimming;       // the desktop's own dimming when idle
class HUDPanel;                 // the heads-up panel window
class UserDefaults;             // interface-only preferences
class Clipboard;                // the desktop's clipboard
class FileManager;              // reveal a file in the file manager
class URLOpener;                // open a web address or a local file
class ApplicationControl;       // ask the application to quit
class ScreenGeometry;           // the main screen's available area

struct SystemPorts {
  MainLoop* mainLoop = nullptr;
  Environment* environment = nullptr;
  Displays* displays = nullptr;
  I2CBuses* i2c = nullptr;
  Backlights* backlights = nullptr;
  DesktopBrightness* desktopBrightness = nullptr;
  GammaTables* gamma = nullptr;
  IdleTimeSource* idleTime = nullptr;
  InputMonitors* inputMonitors = nullptr;
  SystemNotifications* notifications = nullptr;
  Inhibitors* inhibitors = nullptr;
  GlobalShortcuts* shortcuts = nullptr;
  Autostart* autostart = nullptr;
  DesktopIdleDimming* desktopDimming = nullptr;
  HUDPanel* hudPanel = nullptr;
  UserDefaults* userDefaults = nullptr;
  Clipboard* clipboard = nullptr;
  FileManager* fileManager = nullptr;
  URLOpener* urlOpener = nullptr;
  ApplicationControl* application = nullptr;
  ScreenGeometry* screens = nullptr;
};
