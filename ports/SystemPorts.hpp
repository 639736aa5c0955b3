// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The process-wide set of platform facilities the core uses. A binding (or a
// test's simulated machine) fills it in at start; a null entry means the
// facility is not available, and the core takes its documented fallback.
class MainLoop;
class Environment;
class Displays;                 // the connected displays and their facts
class I2CBuses;                 // transfers on /dev/i2c-N
class Backlights;               // kernel backlight devices
class GammaTables;              // per-display gamma transfer tables
class IdleTimeSource;           // seconds since the last event of each type
class InputMonitors;            // global and in-application input events
class SystemNotifications;      // will-sleep, did-wake, will-terminate, screen changes (a concrete class of signals)
class Inhibitors;               // what holds the screen or the machine awake
class GlobalShortcuts;          // key combinations that reach the program anywhere
class Autostart;                // whether the program starts at login
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
  GammaTables* gamma = nullptr;
  IdleTimeSource* idleTime = nullptr;
  InputMonitors* inputMonitors = nullptr;
  SystemNotifications* notifications = nullptr;
  Inhibitors* inhibitors = nullptr;
  GlobalShortcuts* shortcuts = nullptr;
  Autostart* autostart = nullptr;
  HUDPanel* hudPanel = nullptr;
  UserDefaults* userDefaults = nullptr;
  Clipboard* clipboard = nullptr;
  FileManager* fileManager = nullptr;
  URLOpener* urlOpener = nullptr;
  ApplicationControl* application = nullptr;
  ScreenGeometry* screens = nullptr;
};

SystemPorts& systemPorts();

// Installs a set of ports for a scope (a test, a benchmark) and puts the
// previous set back afterwards.
class ScopedSystemPorts {
 public:
  explicit ScopedSystemPorts(const SystemPorts& ports) : previous_(systemPorts()) { systemPorts() = ports; }
  ~ScopedSystemPorts() { systemPorts() = previous_; }
  ScopedSystemPorts(const ScopedSystemPorts&) = delete;
  ScopedSystemPorts& operator=(const ScopedSystemPorts&) = delete;

 private:
  SystemPorts previous_;
};
