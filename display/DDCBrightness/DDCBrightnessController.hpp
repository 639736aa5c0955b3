#pragma once

#include <map>
#include <set>

#include "base/MainLoop.hpp"
#include "display/DDCBrightness/BrightnessController.hpp"
#include "display/NearBlackGammaController.hpp"

// Maps a logical level onto each display's range and writes it in hardware
// (DDC/CI or the built-in panel), handing the unrounded levels to the gamma
// controller. Skips unchanged values, keeps the launch brightness until the
// maximum is known, and spaces one-step decreases out to one write per
// kThrottleSeconds with a single deferred re-apply delivering the last value.
class DDCBrightnessController final : public BrightnessController {
 public:
  static constexpr double kThrottleSeconds = 0.18;

  DDCBrightnessController() = default;
  DDCBrightnessController(const DDCBrightnessController&) = delete;
  DDCBrightnessController& operator=(const DDCBrightnessController&) = delete;

  void apply(double brightnessPercent, const std::set<DisplayID>& targetDisplayIDs,
             const std::map<DisplayID, double>& displayMaximumPercents,
             const std::map<DisplayID, double>& displayMinimumPercents,
             const std::map<DisplayID, bool>& displayFullGammaModes, double safetyMinimumPercent) override;
  void restoreBrightness(const std::set<DisplayID>& displayIDs, const std::map<DisplayID, double>& maximums,
                         const std::map<DisplayID, bool>& fullGamma, double safety) override;
  void invalidateDisplayState() override;

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

  // What the controller remembers, for the menu's diagnostics and for tests.
  const std::map<DisplayID, int>& lastAppliedByDisplay() const { return lastAppliedByDisplay_; }
  const std::set<DisplayID>& startupPreservedDisplays() const { return startupPreservedDisplays_; }
  bool preservesStartupBrightness() const { return preserveStartupBrightness_; }
  bool hasPendingWrite() const { return pendingWrite_.isActive(); }
  NearBlackGammaController& gammaController() { return gammaController_; }

 private:
  bool shouldDelayWrite(DisplayID displayID, int nextValue) const;
  void forget(DisplayID displayID);

  std::map<DisplayID, int> lastAppliedByDisplay_;
  // Monotonic seconds of the last successful write: a wall clock set back
  // would otherwise hold one-step decreases back for as long as it was moved.
  std::map<DisplayID, double> lastWriteAtByDisplay_;
  std::set<DisplayID> startupPreservedDisplays_;
  bool preserveStartupBrightness_ = true;
  NearBlackGammaController gammaController_;
  ScheduledWork pendingWrite_;  // cancelled with the controller, so it never outlives it
};
