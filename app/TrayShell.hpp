#pragma once

#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class AppModels;
class PlaceholderWindow;

// The program's only presence on the desktop: a tray icon (no taskbar entry,
// no main window) whose click drops down the window.
class TrayShell {
 public:
  TrayShell(AppModels& models, std::function<void()> quit);
  ~TrayShell();

  // Drops the window down (or brings it forward when it is already shown).
  void showWindow();

 private:
  void toggleWindow();
  void updateIcon();

  QSystemTrayIcon tray_;
  std::unique_ptr<PlaceholderWindow> window_;
};
