// SPDX-License-Identifier: GPL-3.0-or-later
// Each display's brightness channel, and writes through it.
#include "display/DDCBrightness/DDCIO.hpp"

#include <algorithm>
#include <cmath>

#include "base/MainLoop.hpp"
#include "base/Numbers.hpp"
#include "base/ProcessWide.hpp"
#include "display/DDCBrightness/DDCIO+State.hpp"
#include "ports/Backlights.hpp"
#include "ports/DesktopBrightness.hpp"
#include "ports/I2CBuses.hpp"
#include "services/DDCDebug.hpp"

namespace DDCIO::detail {
Caches& caches() { return processWide<Caches>(); }
const Ports& ports() { return processWide<Ports>(); }
}  // namespace DDCIO::detail

namespace {
using namespace DDCIO::detail;

// Trace lines are built only when someone listens.
void log(DisplayID displayID, const char* text) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, text); });
}
template <typename MakeText>
void log(DisplayID displayID, MakeText&& makeText) {
  DDCDebug::log([&] { return DDCDebug::displayLine(displayID, makeText()); });
}

// Shortest text that reads back as the same single-precision level, always
// with a fraction ("1.0", "0.37").
std::string levelText(float level) {
  std::string text = formatShortest(level);
  if (text.find_first_of(".eni") == std::string::npos) text += ".0";
  return text;
}

void forget(DisplayID displayID) { caches().displayInfos.erase(displayID); }

// What a failed transfer means for retrying and for the user.
DDCIO::WriteFailure failureFor(I2CStatus status) {
  switch (status) {
    case I2CStatus::busy: return DDCIO::WriteFailure::busy;
    case I2CStatus::noModule: return DDCIO::WriteFailure::driverMissing;
    case I2CStatus::noAccess: return DDCIO::WriteFailure::notPermitted;
    case I2CStatus::claimedByDriver: return DDCIO::WriteFailure::kernelDriver;
    default: return DDCIO::WriteFailure::noAnswer;
  }
}

// A panel's refusal has its own remedies, not those of a monitor's bus.
DDCIO::WriteFailure panelFailureFor(BacklightStatus status) {
  switch (status) {
    case BacklightStatus::ok: return DDCIO::WriteFailure::none;
    case BacklightStatus::noAccess: return DDCIO::WriteFailure::backlightNotPermitted;
    default: return DDCIO::WriteFailure::noAnswer;
  }
}

DDCIO::WriteFailure setPanelBrightness(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps) {
  const DisplayID displayID = info.displayID;
  const float level = std::min(static_cast<float>(static_cast<double>(value) / steps), 1.0f);
  Backlights* backlights = ports().backlights;
  if (!backlights) {
    log(displayID, "no backlight facility");
    return DDCIO::WriteFailure::noChannel;
  }
  const BacklightStatus status = backlights->setLevel(*info.backlight, level);
  log(displayID, [&] { return "panel set via backlight " + *info.backlight + " brightness=" + levelText(level) +
                     " result=" + backlightStatusText(status); });
  return panelFailureFor(status);
}

// A monitor whose bus the ddcci driver owns: the driver's backlight device
// carries its brightness, a fraction of the monitor's range.
DDCIO::WriteFailure setMonitorBacklight(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps) {
  Backlights* backlights = ports().backlights;
  const BacklightStatus status =
      backlights ? backlights->setLevel(*info.backlight, static_cast<double>(value) / steps) : BacklightStatus::noDevice;
  DDCTransport::stampBus(info.displayID);  // the driver talks on the bus
  log(info.displayID, [&] { return "monitor set via backlight " + *info.backlight + " value=" + std::to_string(value) +
                          " result=" + backlightStatusText(status); });
  return status == BacklightStatus::ok ? DDCIO::WriteFailure::none : DDCIO::WriteFailure::noAnswer;
}

std::optional<double> fractionToPercent(float level) {
  return static_cast<double>(std::clamp(level, 0.0f, 1.0f)) * 100.0;
}

}  // namespace

std::optional<double> DDCIO::detail::backlightPercent(const DisplayInfo& info) {
  const DisplayID displayID = info.displayID;
  Backlights* backlights = ports().backlights;
  const auto level = backlights && info.backlight ? backlights->level(*info.backlight) : std::nullopt;
  log(displayID, [&] { return "get via backlight " + orNil(info.backlight) + " value=" +
                     (level ? levelText(static_cast<float>(*level)) : "none"); });
  if (!level) return std::nullopt;
  return fractionToPercent(static_cast<float>(*level));
}

std::optional<double> DDCIO::detail::monitorBacklightPercent(const DisplayInfo& info) {
  Backlights* backlights = ports().backlights;
  if (!backlights) return std::nullopt;
  const auto level = backlights->level(*info.backlight);
  const std::uint32_t maximum = backlights->steps(*info.backlight);
  log(info.displayID, [&] { return "monitor get via backlight " + *info.backlight + " value=" +
                          (level ? formatShortest(*level) : "none") + " maximum=" + std::to_string(maximum); });
  if (!level || maximum == 0) return std::nullopt;
  DDCTransport::setBrightnessMaximum(info.displayID, static_cast<std::uint16_t>(std::min<std::uint32_t>(maximum, 0xFFFF)));
  return static_cast<double>(std::lround(*level * maximum)) / maximum * 100.0;
}

std::optional<DesktopBrightness::Display> DDCIO::detail::offeredDisplay(const DisplayInfo& info) {
  DesktopBrightness* service = ports().desktopBrightness;
  if (!service || !info.desktopBrightness) return std::nullopt;
  for (auto& display : service->displays())
    if (display.name == *info.desktopBrightness && display.maximum > 0) return display;
  return std::nullopt;
}

std::optional<double> DDCIO::detail::desktopPercent(const DisplayInfo& info) {
  const auto display = offeredDisplay(info);
  log(info.displayID, [&] { return "get via the desktop's brightness service " + orNil(info.desktopBrightness) +
                          " value=" + (display ? std::to_string(display->level) + "/" + std::to_string(display->maximum)
                                               : std::string("none")); });
  if (!display) return std::nullopt;
  return std::min(100.0, 100.0 * display->level / display->maximum);
}

DDCIO::Channel DDCIO::channelFor(const DisplayInfo& info) {
  if (info.desktopBrightness) return Channel::desktopService;
  if (info.isBuiltIn) return info.backlight ? Channel::panelBacklight : Channel::none;
  if (info.backlight) return Channel::monitorBacklight;
  return info.i2cBus ? Channel::ddc : Channel::none;
}

bool DDCIO::followsOwnLevel(const DisplayInfo& info) {
  return info.isBuiltIn || channelFor(info) == Channel::desktopService;
}

std::uint32_t DDCIO::brightnessSteps(DisplayID displayID) {
  Backlights* backlights = ports().backlights;
  const auto info = displayInfo(displayID);
  std::uint32_t steps = 0;
  if (info && channelFor(*info) == Channel::desktopService) {
    if (const auto display = offeredDisplay(*info)) steps = display->maximum;
  } else if (info && backlights && channelFor(*info) == Channel::panelBacklight) {
    steps = backlights->steps(*info->backlight);
  }
  return steps > 0 ? steps : kPercentSteps;
}

namespace {
// Keeps the outcome for lastWriteFailure. A display that failed to take a
// value has its information dropped (a reconnect, a new bus, a module loaded
// since, a backlight device that appeared may be why), so the next write
// looks it up afresh; a bus another program holds is still the right one.
void noteOutcome(DisplayID displayID, DDCIO::WriteFailure failure) {
  auto& failures = caches().writeFailures;
  if (failure == DDCIO::WriteFailure::none) {
    failures.erase(displayID);
    return;
  }
  failures[displayID] = failure;
  if (failure != DDCIO::WriteFailure::busy) forget(displayID);
}

// An outcome known at once, handed over on a later turn of the loop.
ScheduledWork answer(DisplayID displayID, DDCIO::WriteFailure failure, std::function<void(DDCIO::WriteFailure)> done) {
  noteOutcome(displayID, failure);
  MainLoop* loop = ports().mainLoop;
  if (!loop) return {};
  return loop->post([failure, done = std::move(done)] { done(failure); });
}

// The service drives the display's bus or backlight itself: the level goes to
// it, scaled to its range, and nothing of ours touches the hardware.
ScheduledWork setThroughDesktop(const DisplayInfo& info, std::uint32_t value, std::uint32_t steps,
                                std::function<void(DDCIO::WriteFailure)> done) {
  const DisplayID displayID = info.displayID;
  const auto display = offeredDisplay(info);
  if (!display) {
    log(displayID, "the desktop's brightness service no longer offers it");
    return answer(displayID, DDCIO::WriteFailure::noChannel, std::move(done));
  }
  const auto level = std::min(display->maximum, static_cast<std::uint32_t>(std::lround(
                                                    static_cast<double>(value) * display->maximum / steps)));
  log(displayID, [&] { return "set via the desktop's brightness service " + display->name + " level=" +
                     std::to_string(level) + "/" + std::to_string(display->maximum); });
  return ports().desktopBrightness->setLevel(
      display->name, level, [displayID, done = std::move(done)](DesktopBrightness::SetStatus status) {
        const DDCIO::WriteFailure failure = status == DesktopBrightness::SetStatus::ok ? DDCIO::WriteFailure::none
                                            : status == DesktopBrightness::SetStatus::noDisplay
                                                ? DDCIO::WriteFailure::noChannel
                                                : DDCIO::WriteFailure::noAnswer;
        log(displayID, [&] { return std::string("the desktop's brightness service ") +
                               (failure == DDCIO::WriteFailure::none ? "took the level" : "did not take the level"); });
        noteOutcome(displayID, failure);
        done(failure);
      });
}
}  // namespace

ScheduledWork DDCIO::setBrightness(DisplayID displayID, std::uint32_t value, std::uint32_t steps,
                                   std::function<void(WriteFailure)> done) {
  const auto info = displayInfo(displayID);
  if (!info) {
    log(displayID, "no display info");
    return answer(displayID, WriteFailure::noChannel, std::move(done));
  }
  if (steps == 0) steps = kPercentSteps;
  const Channel channel = channelFor(*info);
  if (channel == Channel::desktopService) return setThroughDesktop(*info, value, steps, std::move(done));
  if (channel == Channel::panelBacklight)
    return answer(displayID, setPanelBrightness(*info, value, steps), std::move(done));
  if (info->isBuiltIn) {
    log(displayID, "no backlight device");
    return answer(displayID, WriteFailure::noChannel, std::move(done));
  }
  log(displayID, [&] { return "vendor=" + std::to_string(info->vendor) + " model=" + std::to_string(info->model) +
                     " serial=" + std::to_string(info->serial) + " key=" + orNil(info->stableKey) +
                     " connector=" + info->connector + " name=" + orNil(info->productName); });
  if (channel == Channel::none) {
    log(displayID, "no DDC/CI bus");
    return answer(displayID, WriteFailure::noChannel, std::move(done));
  }
  // The monitor would ignore a message that comes too soon after the last
  // one (and one inside a read would break it): the caller comes back.
  if (const double wait = DDCTransport::messageWait(displayID); wait > 0) {
    log(displayID, [&] { return "bus not free for another " + std::to_string(std::lround(wait * 1000)) + " ms"; });
    return answer(displayID, WriteFailure::busy, std::move(done));
  }
  if (channel == Channel::monitorBacklight) {
    const WriteFailure failure = setMonitorBacklight(*info, value, steps);
    if (failure == WriteFailure::none) hurryPatientRead(displayID);  // it answers again: so may its read
    return answer(displayID, failure, std::move(done));
  }
  return DDCTransport::writeBrightness(displayID, *info->i2cBus, value, steps,
                                       [displayID, done = std::move(done)](const I2CResult& result) {
                                         const WriteFailure failure =
                                             result.status == I2CStatus::ok ? WriteFailure::none : failureFor(result.status);
                                         if (failure == WriteFailure::none) hurryPatientRead(displayID);
                                         noteOutcome(displayID, failure);
                                         done(failure);
                                       });
}

DDCIO::WriteFailure DDCIO::lastWriteFailure(DisplayID displayID) {
  const auto& failures = caches().writeFailures;
  const auto found = failures.find(displayID);
  return found == failures.end() ? WriteFailure::none : found->second;
}

void DDCIO::usePorts(const Ports& ports) {
  processWide<Ports>() = ports;
  DDCTransport::usePorts(ports.mainLoop, ports.i2c);
  clearCaches();
}

void DDCIO::clearCaches() { caches().displayInfos.clear(); }

void DDCIO::resetBusTiming() {
  DDCTransport::reset();
  caches().writeFailures.clear();
  caches().assumedMaximums.clear();
  caches().patientReads.clear();
}

const std::map<DisplayID, DisplayInfo>& DDCIO::cachedDisplayInfos() { return caches().displayInfos; }
