// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSystemTrayIcon>
#include <QColor>
#include <memory>

#include "menu/MenuViewState.hpp"

class AppModels;
class MenuWindow;

// The program's only presence on the desktop: a tray icon (no taskbar entry,
// no main window) whose click drops the settings window down or closes it.
class TrayShell {
 public:
  TrayShell(AppModels& models, const MenuViewState::Ports& ports);
  ~TrayShell();

  // The one way to bring the window up (the icon, D-Bus, a second start).
  void showWindow();
  // Without a tray the window is the only way in: the first start that finds
  // none opens it, once, with the line that says how to open it again.
  void showWindowOnceWithoutTray();
  static constexpr const char* kNoTrayWindowShownKey = "shell.noTrayWindowShown";

 private:
  void toggleWindow();
  void updateIcon();

  UserDefaults* userDefaults_;
  QSystemTrayIcon tray_;
  std::unique_ptr<MenuViewState> menu_;
  std::unique_ptr<MenuWindow> window_;  // built at the first opening: a resting program never needs it
  QColor ink_;
  bool trayAvailable_ = false;
};
