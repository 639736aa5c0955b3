// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "ports/ApplicationControl.hpp"
#include "ports/Clipboard.hpp"
#include "ports/FileManager.hpp"
#include "ports/ScreenGeometry.hpp"
#include "ports/URLOpener.hpp"

class DBusSession;

// Hand-offs to the desktop through Qt: the clipboard, the file manager, the
// browser, the screens, and quitting. Needs a QGuiApplication.
class QtDesktop final : public Clipboard, public FileManager, public URLOpener, public ScreenGeometry,
                        public ApplicationControl {
 public:
  // `bus`: the session bus for the file manager (may be null); `quit`: how
  // the application leaves (will-terminate handling included).
  QtDesktop(DBusSession* bus, std::function<void()> quit);

  bool setText(const std::string& text) override;
  // FileManager1.ShowItems over the session bus selects the file; where no
  // file manager offers that, its folder is opened instead.
  bool revealFile(const std::filesystem::path& file) override;
  // Web pages (http, https) and existing local files that are not programs.
  bool openURL(const std::string& url) override;
  std::optional<Rect> mainScreenAvailableArea() const override;
  void requestQuit() override;

 private:
  DBusSession* bus_;
  std::function<void()> quit_;
};
