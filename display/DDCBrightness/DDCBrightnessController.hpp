// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "base/MainLoop.hpp"
#include "display/DDCBrightness/BrightnessController.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "display/NearBlackGammaController.hpp"

// Maps a logical level onto each display's range and writes it in hardware
// (DDC/CI or the built-in panel), handing the unrounded levels to the gamma
// controller. Skips unchanged values, keeps the launch brightness until the
// maximum is known, spaces one-step decreases out to one write per
// kThrottleSeconds, never writes a monitor sooner than its bus allows, and
// backs off from a display that failed. Whatever is held back is delivered by
// a single deferred re-apply of the newest request: a value asked for while
// a monitor's bus is busy replaces the one before it, so a fade on a slow bus
// never queues up. Writes are answered later (a monitor's on its bus's
// thread); the controller learns of a failure then.
//
// A display whose hardware cannot be driven is dimmed through its gamma table
// instead ("gamma stands in"), as in full-gamma mode but without touching the
// settings, until a hardware write succeeds again. So is a monitor whose
// brightness is still being read, which is not written at all until then:
// nothing written could leave it brighter than its user had it.
class DDCBrightnessController final : public BrightnessController {
 public:
  static constexpr double kThrottleSeconds = 0.18;
  // A display that fails to take a write (each is two attempts on a
  // monitor's bus) rests 1 s, then 2, 4, ... up to a minute.
  static constexpr double kFirstRetrySeconds = 1;
  static constexpr double kLongestRetrySeconds = 60;
  // A bus another program holds is tried again soon, backing off to a second.
  static constexpr double kLongestBusyRetrySeconds = 1;

  // Without gamma tables no display is dimmed through gamma, neither below
  // its hardware range nor in its place; without notifications the gamma
  // tables are not put back when the application is told to quit.
  struct Ports {
    MainLoop& mainLoop;
    GammaTables* gamma = nullptr;
    SystemNotifications* notifications = nullptr;
  };
  explicit DDCBrightnessController(const Ports& ports)
      : loop_(ports.mainLoop), gammaController_({.gamma = ports.gamma, .notifications = ports.notifications}) {}
  DDCBrightnessController(const DDCBrightnessController&) = delete;
  DDCBrightnessController& operator=(const DDCBrightnessController&) = delete;

  void apply(double brightnessPercent, const std::set<DisplayID>& targetDisplayIDs,
             const std::map<DisplayID, double>& displayMaximumPercents,
             const std::map<DisplayID, double>& displayMinimumPercents,
             const std::map<DisplayID, bool>& displayFullGammaModes, double safetyMinimumPercent) override;
  void restoreBrightness(const std::set<DisplayID>& displayIDs, const std::map<DisplayID, double>& maximums,
                         const std::map<DisplayID, bool>& fullGamma, double safety) override;
  void invalidateDisplayState() override;
  // Going away reads each panel's level: what the user left it at.
  void setUserAway(bool away) override;

  // A display's effective maximum and range, within the floor and 100.
  static double displayMaximumPercent(DisplayID displayID, const std::map<DisplayID, double>& maximums,
                                      double safetyMinimumPercent);
  struct Range {
    double maximum;
    double minimum;
  };
  static Range displayRange(DisplayID displayID, const std::map<DisplayID, double>& maximums,
                            const std::map<DisplayID, double>& minimums, double safetyMinimumPercent);
  // The unrounded percent a logical level gives within a range.
  static double actualLevel(double brightnessPercent, const Range& range);

  // A built-in panel at rest this long is read again before it is dimmed.
  static constexpr double kPanelRestSeconds = 1;
  // After the user's return a panel is read this often, for this long: a
  // desktop's dimmer that puts back a level it saved from us is undone.
  static constexpr double kLateRestoreReadSeconds = 0.1;
  static constexpr double kLateRestoreWatchSeconds = 2;

  // What the controller remembers, for the menu's diagnostics and for tests.
  // Values count in each display's own steps: percents for monitors, the
  // backlight's levels for panels.
  const std::map<DisplayID, int>& lastAppliedByDisplay() const { return lastAppliedByDisplay_; }
  const std::set<DisplayID>& startupPreservedDisplays() const { return startupPreservedDisplays_; }
  bool preservesStartupBrightness() const { return preserveStartupBrightness_; }
  bool hasPendingWrite() const { return pendingWrite_.isActive(); }
  // Seconds until a display that failed is tried again; nullopt when the
  // display is not backing off.
  std::optional<double> retryDelay(DisplayID displayID) const;
  NearBlackGammaController& gammaController() { return gammaController_; }

  // Lets gamma stand in for the display's hardware brightness, as after a
  // failed write: from the next apply on, the display's level is shown
  // through its gamma table, relative to its maximum (where the hardware is
  // taken to sit), so full logical brightness puts the original table back.
  // The hardware is tried again on the display's back-off (the first interval
  // when it has none yet); the first write it takes ends the stand-in. Failed
  // writes call it for the causes gammaStandsInFor names; code that knows by
  // other means that a display cannot be driven yet calls it directly.
  void standInWithGamma(DisplayID displayID);
  bool gammaStandsIn(DisplayID displayID) const { return gammaStandIns_.contains(displayID); }
  // The one rule for which failed writes hand a display over to gamma: those
  // that leave the hardware undrivable until something changes outside the
  // program. A bus another program holds is not one of them.
  static bool gammaStandsInFor(DDCIO::WriteFailure failure);

 private:
  // How a display's brightness is set, picked once per display until the displays change.
  struct Channel {
    std::uint32_t steps = DDCIO::kPercentSteps;  // what a value counts up to
    // Its own level is followed (DDCIO::followsOwnLevel): a built-in panel's
    // backlight, or a display the desktop's brightness service drives; cheap
    // to read, no bus of ours to pace.
    bool isPanel = false;

    // The value for an actual level; never 0, which turns some backlights off.
    int valueFor(double actualPercent) const;
    double percentOf(int value) const { return value * 100.0 / steps; }
    std::string text(int value) const;
  };
  // A panel's own level, which the desktop's brightness keys change. Kept
  // across display changes: a panel that went away dimmed comes back with it.
  struct PanelLevel {
    double restPercent;   // where the panel is at full logical brightness, as its user left it
    double shownPercent;  // what it shows, as last read or written
    double shownLogical;  // the logical level it was shown at
    double shownAt;       // monotonic seconds of that read or write
    // A level another program set while the user was away: neither theirs
    // nor brightened. Held until a step goes below it or the level rises.
    std::optional<double> othersPercent = {};
    double othersLogical = 0;  // the last logical level asked for while it holds
    std::set<int> dimmedValues = {};  // what we dimmed the panel to since the user went away
    std::optional<int> returnValue = {};  // the user's level written on their return, watched until
    double watchUntil = 0;
  };
  struct BackOff {
    int failures = 0;     // in a row
    double retryAt = 0;   // monotonic seconds
  };
  struct Request;

  // Drives the targets to the request's level; the latest request, also a
  // restore's, is what a deferred re-apply or a failed write applies again.
  void run(const Request& request);
  // Writes `value` unless the launch brightness is kept, the display has it
  // already, or the write must wait; seconds until a held-back or failed
  // write is due, 0 when none is.
  double driveHardware(DisplayID displayID, double logical, int value, const Range& range, const Channel& channel,
                       bool restoring);
  Channel channel(DisplayID displayID);
  // The panel's limits, capped at its own level. Reads the level when the
  // panel is first driven and when a dim starts from rest, so a level its
  // user set meanwhile is where the dim starts and where it comes back to.
  Range panelRange(DisplayID displayID, const Range& limits, double logical);
  // A write of `value` (`percent`) at `logical`: dims are remembered, and a
  // rise after them is the user's return, whose level is then watched.
  void notePanelShown(DisplayID displayID, int value, double percent, double logical);
  // A panel another program darkened while the user is away is not written
  // unless `value` is darker still; true when the write is left out.
  bool leftToOthers(DisplayID displayID, int value, double logical, const Channel& channel);
  // Reads each panel watched since the user's return: a level we dimmed it to comes
  // back as the user's level, once; any other change is the user's.
  void watchLateRestores();
  // A level the panel was found at while the user is present: theirs.
  void takeAsUsersLevel(DisplayID displayID, PanelLevel& panel, double level);
  bool shouldDelayWrite(DisplayID displayID, int nextValue) const;
  // Seconds before `nextValue` may be written to the display; 0: now.
  double writeDelay(DisplayID displayID, int nextValue, const Channel& channel) const;
  // Sends `value` to the display, counted as written at once; the outcome
  // comes back later: a failure backs off and re-applies the latest request
  // (so gamma stands in at once and the retry is scheduled), a success ends
  // a stand-in. A restore's write neither spaces the next one-step decrease
  // from it nor traces lines of its own: the transport traces it.
  void write(DisplayID displayID, int value, const Channel& channel, double logical, double maximum, bool restoring);
  // Records a failed write (status, log, back-off).
  void recordFailure(DisplayID displayID, DDCIO::WriteFailure failure);
  // The single deferred re-apply of the latest request, `seconds` from now (never when infinite).
  void scheduleReapply(double seconds);
  void reapplyLatest();
  void forget(DisplayID displayID);
  // A monitor whose brightness is being read: not written, its status says why.
  void holdUntilRead(DisplayID displayID, double actual);
  // The hardware took a value: gamma no longer stands in.
  void endGammaStandIn(DisplayID displayID);

  MainLoop& loop_;
  std::map<DisplayID, int> lastAppliedByDisplay_;
  // Monotonic seconds of the last successful write: a wall clock set back
  // would otherwise hold one-step decreases back for as long as it was moved.
  std::map<DisplayID, double> lastWriteAtByDisplay_;
  std::set<DisplayID> startupPreservedDisplays_;
  std::map<DisplayID, BackOff> backOffByDisplay_;  // dropped on success and on display changes
  std::set<DisplayID> gammaStandIns_;              // dropped on success and on display changes
  std::map<DisplayID, Channel> channels_;          // dropped on display changes
  std::map<DisplayID, PanelLevel> panelLevels_;
  bool userAway_ = false;
  ScheduledWork lateRestoreWatch_;  // reads panels after the user's return
  bool preserveStartupBrightness_ = true;
  NearBlackGammaController gammaController_;
  // The latest apply, or a restore as the apply that finishes it: what a
  // deferred re-apply or a write's failure applies again.
  struct Request {
    double brightnessPercent;
    std::set<DisplayID> targets;
    std::map<DisplayID, double> maximums;
    std::map<DisplayID, double> minimums;
    std::map<DisplayID, bool> fullGammaModes;
    double safetyMinimumPercent;
    bool restoring = false;  // finishing a restore, which traces only its writes
  };
  std::optional<Request> latest_;
  // Writes whose outcome is still to come; a newer write to a display replaces its entry.
  std::map<DisplayID, ScheduledWork> writes_;
  ScheduledWork pendingWrite_;  // cancelled with the controller, so it never outlives it
};
