// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "ports/DesktopIdleDimming.hpp"

typedef struct _GSettings GSettings;

// GNOME's power plugin dims the panel at half the session's idle delay while
// `idle-dim` is set: both read through GSettings, on whichever backend the
// session uses (dconf; a keyfile in tests). Their changes arrive as GSettings'
// own signals on GLib's main context, which Qt's event loop runs.
class GnomeIdleDimming final : public DesktopIdleDimming {
 public:
  static constexpr const char* kPowerSchema = "org.gnome.settings-daemon.plugins.power";
  static constexpr const char* kSessionSchema = "org.gnome.desktop.session";

  // Null when the power plugin's schema is not installed.
  static std::unique_ptr<GnomeIdleDimming> open();
  ~GnomeIdleDimming() override;
  GnomeIdleDimming(const GnomeIdleDimming&) = delete;
  GnomeIdleDimming& operator=(const GnomeIdleDimming&) = delete;

  Desktop desktop() const override { return Desktop::gnome; }
  // `idle-dim`, and an idle delay that is not 0 ("never" blanks, so never dims).
  bool isOn() const override;
  std::variant<std::vector<Setting>, std::string> turnOff() override;
  std::optional<std::string> restore(const std::vector<Setting>& previous) override;

 private:
  GnomeIdleDimming(GSettings* power, GSettings* session);
  GSettings* power_;
  GSettings* session_;  // null without the desktop's session schema
};
