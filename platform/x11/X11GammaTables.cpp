// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/X11GammaTables.hpp"

#include <algorithm>
#include <utility>

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
  return identityRamps(ramps->red.size());
}

std::uint32_t X11GammaTables::size(DisplayID displayID) {
  return randr_->isAvailable() ? static_cast<std::uint32_t>(std::max(0, randr_->gammaSize(displayID))) : 0;
}

GammaTables::Result X11GammaTables::read(DisplayID displayID, GammaTable& table) {
  if (!randr_->isAvailable()) return Result::failed;
  const auto output = randr_->output(displayID);
  if (!output) return Result::noSuchOutput;
  const auto ramps = originalRamps(displayID, output->name);
  if (!ramps) return Result::noGamma;
  table = gammaTable(*ramps);
  return Result::ok;
}

GammaTables::Result X11GammaTables::write(DisplayID displayID, const GammaTable& table) {
  if (!randr_->isAvailable()) return Result::failed;
  const auto output = randr_->output(displayID);
  if (!output || !output->isOnline()) return Result::noSuchOutput;
  const int size = randr_->gammaSize(displayID);
  if (size <= 0) return Result::noGamma;
  // RandR takes exactly the CRTC's ramp size.
  const auto wanted = static_cast<std::size_t>(size);
  if (table.red.size() != wanted || table.green.size() != wanted || table.blue.size() != wanted)
    return Result::invalidSize;
  const GammaRamps ramps = gammaRamps(table);
  if (stash_ && !stash_->hasOriginal(output->name)) {
    if (const auto original = originalRamps(displayID, output->name); original && !(*original == ramps))
      stash_->rememberOriginal(output->name, *original);
  }
  if (randr_->setGamma(displayID, ramps) != 0) return Result::failed;
  if (stash_) stash_->noteWritten(output->name, ramps);
  return Result::ok;
}
