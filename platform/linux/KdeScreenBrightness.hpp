// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/MainLoop.hpp"
#include "base/Signal.hpp"
#include "ports/DesktopBrightness.hpp"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

// KDE Plasma's brightness service (PowerDevil, Plasma 6.2 and later) on the
// session bus: org.kde.ScreenBrightness lists the displays it drives in
// DisplaysDBusNames, each an object /org/kde/ScreenBrightness/<name> with
// Label, IsInternal, MaxBrightness and Brightness, set by SetBrightness with
// the flag that keeps its on-screen indicator away.
//
// The list is kept here and read again when the service comes or goes or
// says a display was added or removed; levels follow its BrightnessChanged
// signal, except for the changes this connection asked for, which are known
// already. The bus is borrowed: its owner watches its descriptor and
// processes it on the main loop.
class KdeScreenBrightness final : public DesktopBrightness {
 public:
  static constexpr const char* kService = "org.kde.ScreenBrightness";
  // How long the first reading may take: it is done before the displays are
  // first looked at, so that no bus the desktop drives is touched meanwhile.
  static constexpr double kFirstReadSeconds = 1;

  KdeScreenBrightness(sd_bus* sessionBus, MainLoop& loop);
  ~KdeScreenBrightness() override;
  KdeScreenBrightness(const KdeScreenBrightness&) = delete;
  KdeScreenBrightness& operator=(const KdeScreenBrightness&) = delete;

  std::vector<Display> displays() override { return displays_; }
  ScheduledWork setLevel(const std::string& name, std::uint32_t level, std::function<void(SetStatus)> done) override;

  // On the main loop, after the displays offered or their ranges changed.
  Signal<> changed;

 private:
  struct Reading;
  void read();
  void readDisplay(Reading& reading);
  void finish(const Reading& reading);
  void levelChanged(sd_bus_message* message);
  void rangeChanged(sd_bus_message* message);

  sd_bus* bus_;
  MainLoop& loop_;
  std::vector<sd_bus_slot*> matches_;
  std::unique_ptr<Reading> reading_;  // the reading under way; a newer one replaces it
  bool read_ = false;                 // a reading has finished
  bool announcing_ = false;           // changes are announced: the constructor has returned
  std::vector<Display> displays_;
  ScheduledWork announcement_;
};
