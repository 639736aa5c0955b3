// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "ports/DesktopIdleDimming.hpp"

typedef struct sd_bus sd_bus;
typedef struct _GFileMonitor GFileMonitor;

// PowerDevil's dimming when idle, in its configuration file under
// $XDG_CONFIG_HOME, per power profile (AC, Battery, LowBattery):
// - Plasma 5: powermanagementprofilesrc, where a profile's [DimDisplay]
//   group (its idleTime in ms) turns dimming on;
// - Plasma 6: powerdevilrc, where a profile's [Display] DimDisplayWhenIdle
//   (true when absent) does.
// The file is watched through GLib's file monitor (inotify), on GLib's main
// context; after a change of its own the binding asks PowerDevil on the
// session bus to read the file again.
class PlasmaIdleDimming final : public DesktopIdleDimming {
 public:
  enum class Version { plasma5, plasma6 };
  static constexpr const char* kService = "org.kde.Solid.PowerManagement";
  static constexpr const char* kPath = "/org/kde/Solid/PowerManagement";

  // Plasma's own KDE_SESSION_VERSION where set, else whichever file is there (6 without either).
  static Version versionFor(const std::filesystem::path& configHome, const std::optional<std::string>& sessionVersion);
  // Without a session bus the change is read at PowerDevil's next start.
  PlasmaIdleDimming(const std::filesystem::path& configHome, Version version, sd_bus* sessionBus);
  ~PlasmaIdleDimming() override;
  PlasmaIdleDimming(const PlasmaIdleDimming&) = delete;
  PlasmaIdleDimming& operator=(const PlasmaIdleDimming&) = delete;

  const std::filesystem::path& file() const { return file_; }
  Version version() const { return version_; }

  Desktop desktop() const override { return Desktop::plasma; }
  bool isOn() const override { return on_; }
  std::variant<std::vector<Setting>, std::string> turnOff() override;
  std::optional<std::string> restore(const std::vector<Setting>& previous) override;

  // The file may have changed: read it again, and say so when the answer did.
  void reread();

 private:
  bool readIsOn() const;
  void askToReload();

  std::filesystem::path file_;
  Version version_;
  sd_bus* bus_;
  GFileMonitor* monitor_ = nullptr;
  bool on_ = false;
};
