// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ports/ApplicationControl.hpp"
#include "ports/Clipboard.hpp"
#include "ports/FileManager.hpp"
#include "ports/ScreenGeometry.hpp"
#include "ports/URLOpener.hpp"

// The desktop hand-offs of the settings window, recorded. Each can be told to
// refuse, as a desktop without a file manager or browser would.

class SimClipboard final : public Clipboard {
 public:
  std::vector<std::string> entries;  // what the clipboard holds now
  int writes = 0;
  bool refuse = false;
  bool setText(const std::string& text) override {
    if (refuse) return false;
    ++writes;
    entries = {text};
    return true;
  }
};

class SimFileManager final : public FileManager {
 public:
  std::vector<std::filesystem::path> revealed;
  bool refuse = false;
  bool revealFile(const std::filesystem::path& file) override {
    if (refuse) return false;
    revealed.push_back(file);
    return true;
  }
};

class SimURLOpener final : public URLOpener {
 public:
  std::vector<std::string> opened;
  bool refuse = false;
  bool openURL(const std::string& url) override {
    if (refuse) return false;
    opened.push_back(url);
    return true;
  }
};

class SimApplicationControl final : public ApplicationControl {
 public:
  int quitRequests = 0;
  void requestQuit() override { ++quitRequests; }
};

class SimScreenGeometry final : public ScreenGeometry {
 public:
  std::optional<Rect> available = Rect{0, 27, 1920, 1053};
  std::optional<Rect> mainScreenAvailableArea() const override { return available; }
};
