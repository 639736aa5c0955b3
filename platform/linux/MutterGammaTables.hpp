// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/MainLoop.hpp"
#include "platform/linux/GammaRamps.hpp"
#include "ports/GammaTables.hpp"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

// Gamma on GNOME, through Mutter's org.gnome.Mutter.DisplayConfig on the
// session bus (its Wayland session offers no gamma protocol). Each display is
// paired with the CRTC of Mutter's output of the same connector name; the
// table's size and the original come from GetCrtcGamma, so a night light's
// tint is kept and scaled. Calls carry the serial of the latest
// GetResources; one refused as stale (the monitors changed) is renewed and
// made once more.
//
// Mutter rebuilds a CRTC's table itself when the night light's temperature,
// the colour profile or the monitors change. While a table of ours is on
// screen, each of those signals (MonitorsChanged, the Temperature of
// org.gnome.SettingsDaemon.Color, Mutter coming back to the bus) has the
// table read back, then and twice more shortly after (Mutter finishes some
// rebuilds later); one that is no longer ours is announced as the output's
// new original (originalReplaced). At rest nothing is asked.
//
// Where Mutter offers org.gnome.Mutter.ColorManager, a table of ours goes
// through a calibration of the monitor instead, during which Mutter leaves
// the table alone; putting the original back stops the calibration, and
// Mutter then shows its own again, as it does when this process goes.
//
// The bus is borrowed: its owner watches its descriptor and processes it on
// the main loop. Calls wait for their answers (a second at most).
class MutterGammaTables final : public GammaTables {
 public:
  static constexpr const char* kService = "org.gnome.Mutter.DisplayConfig";
  static constexpr const char* kColorManager = "org.gnome.Mutter.ColorManager";
  // After a rebuild signal the table is read at once and again after these
  // delays: Mutter's rebuild may come after its signal, later on a busy machine.
  static constexpr double kFollowUpSeconds[] = {0.1, 0.4, 1.0, 2.0, 4.0};

  // The connector name of a display's output ("DP-1"); nullopt for one the session does not know.
  using ConnectorOf = std::function<std::optional<std::string>(DisplayID)>;

  MutterGammaTables(sd_bus* sessionBus, MainLoop& loop, ConnectorOf connectorOf);
  ~MutterGammaTables() override;
  MutterGammaTables(const MutterGammaTables&) = delete;
  MutterGammaTables& operator=(const MutterGammaTables&) = delete;

  // Mutter answered GetResources at start.
  bool isOffered() const { return offered_; }
  // Tables of ours go through org.gnome.Mutter.ColorManager's calibrations.
  bool usesColorManager() const { return colorManager_; }

  std::uint32_t size(DisplayID displayID) override;
  // The CRTC's table as Mutter shows it, unless it is dimmed (another copy
  // of this program died with it on screen): then the linear ramp.
  Result read(DisplayID displayID, GammaTable& table) override;
  Result write(DisplayID displayID, const GammaTable& table) override;
  std::string_view unavailableReason(DisplayID displayID) override;

 private:
  // A table of ours on screen: what was written, and the calibration it went through, if any.
  struct Held {
    GammaRamps ours;
    std::string calibration;
  };
  // Mutter's CRTC of the display's output, renewing a stale serial first; nullopt without one.
  std::optional<std::uint32_t> crtcOf(DisplayID displayID);
  bool renewResources();
  // GetCrtcGamma, or SetCrtcGamma with `ramps`, on the display's CRTC.
  Result callOnCrtc(DisplayID displayID, const GammaRamps* ramps, GammaRamps* answer);
  Result calibrate(DisplayID displayID, const GammaRamps& ramps);
  void stopCalibration(const std::string& path);
  void noteRebuildSignal();
  void checkHeldTables();
  void calibrationStopped(const std::string& path);
  void announceReplaced(std::vector<DisplayID> displayIDs);
  // Logs a display's failure once per distinct text.
  void logOnce(DisplayID displayID, const std::string& text);

  sd_bus* bus_;
  MainLoop& loop_;
  ConnectorOf connectorOf_;
  bool offered_ = false;
  bool colorManager_ = false;
  std::uint32_t serial_ = 0;
  bool resourcesStale_ = true;
  std::map<std::string, std::int32_t> crtcByConnector_;
  std::map<std::uint32_t, std::uint32_t> sizeByCrtc_;
  std::map<DisplayID, GammaRamps> originals_;
  std::map<DisplayID, Held> held_;
  // Displays Mutter gives no CRTC (virtual and headless monitors) or refuses.
  std::set<DisplayID> withoutCrtc_;
  std::set<DisplayID> refused_;
  std::map<DisplayID, std::string> lastFailure_;
  std::vector<sd_bus_slot*> matches_;
  std::vector<ScheduledWork> checks_;
  ScheduledWork announcement_;
};
