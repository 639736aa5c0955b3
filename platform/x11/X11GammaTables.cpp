// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11GammaTables.hpp"

#include <algorithm>

#include "services/AppLog.hpp"

X11GammaTables::X11GammaTables(RandrScreen& randr, std::unique_ptr<GammaStash> stash)
    : randr_(&randr), stash_(std::move(stash)) {}

int X11GammaTables::recoverAbandoned() {
  if (!stash_ || !randr_->isAvailable()) return 0;
  const auto outputs = randr_->outputs();
  return stash_->recoverAbandoned([&](const std::string& name, const GammaRamps& ramps) {
    for (const auto& output : outputs)
      if (output.name == name && output.isOnline()) return randr_->setGamma(output.id, ramps);
    return 1;
  });
}

std::optional<GammaRamps> X11GammaTables::originalRamps(DisplayID displayID, const std::string& outputName) {
  auto ramps = randr_->gamma(displayID);
  if (!ramps || !looksDimmed(*ramps)) return ramps;
  // No display's own ramps stay below half brightness: another program (or
  // another copy of this one) dimmed them. Put back, they would keep the
  // screen dark; the linear ramp is what the server starts with.
  AppLog::app.error("The gamma ramps of " + outputName +
                    " are dimmed below half brightness, so they are not its own: the linear ramp is kept as its original");
  const std::size_t n = ramps->red.size();
  for (auto* channel : {&ramps->red, &ramps->green, &ramps->blue})
    for (std::size_t i = 0; i < n; ++i)
      (*channel)[i] = static_cast<std::uint16_t>(n < 2 ? 65535 : (i * 65535 + (n - 1) / 2) / (n - 1));
  return ramps;
}

std::uint32_t X11GammaTables::capacity(DisplayID displayID) {
  return static_cast<std::uint32_t>(std::max(0, randr_->gammaSize(displayID)));
}

std::int32_t X11GammaTables::getTransfer(DisplayID displayID, std::uint32_t capacity, float* red, float* green,
                                           float* blue, std::uint32_t& sampleCount) {
  sampleCount = 0;
  if (!red || !green || !blue) return illegalArgument;
  const auto output = randr_->output(displayID);
  if (!output) return invalidDisplay;
  const auto ramps = originalRamps(displayID, output->name);
  if (!ramps) return notImplemented;
  const auto n = std::min<std::size_t>(capacity, ramps->red.size());
  for (std::size_t i = 0; i < n; ++i) {
    red[i] = gammaFraction(ramps->red[i]);
    green[i] = gammaFraction(ramps->green[i]);
    blue[i] = gammaFraction(ramps->blue[i]);
  }
  sampleCount = static_cast<std::uint32_t>(n);
  return success;
}

std::int32_t X11GammaTables::setTransfer(DisplayID displayID, std::uint32_t sampleCount, const float* red,
                                           const float* green, const float* blue) {
  if (!red || !green || !blue) return illegalArgument;
  const auto output = randr_->output(displayID);
  if (!output || !output->isOnline()) return invalidDisplay;
  // RandR takes exactly the CRTC's ramp size.
  if (sampleCount == 0 || static_cast<int>(sampleCount) != randr_->gammaSize(displayID)) return illegalArgument;
  GammaRamps ramps;
  for (std::uint32_t i = 0; i < sampleCount; ++i) {
    ramps.red.push_back(gammaEntry(red[i]));
    ramps.green.push_back(gammaEntry(green[i]));
    ramps.blue.push_back(gammaEntry(blue[i]));
  }
  if (stash_ && !stash_->hasOriginal(output->name)) {
    if (const auto original = originalRamps(displayID, output->name); original && !(*original == ramps))
      stash_->rememberOriginal(output->name, *original);
  }
  if (randr_->setGamma(displayID, ramps) != 0) return failure;
  if (stash_) stash_->noteWritten(output->name, ramps);
  return success;
}
