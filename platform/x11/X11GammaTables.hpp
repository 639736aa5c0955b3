// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "platform/x11/GammaStash.hpp"
#include "platform/x11/RandrScreen.hpp"
#include "ports/GammaTables.hpp"

// CRTC gamma through RandR, as fractions. The first change of an output
// stores its original ramps in the crash-safety stash, so a process that dies
// dimmed is undone by the next start. Ramps that are already dimmed are never
// taken for an output's original.
class X11GammaTables final : public GammaTables {
 public:
  // `stash` may be null (no runtime folder): gamma then works without crash safety.
  X11GammaTables(RandrScreen& randr, std::unique_ptr<GammaStash> stash);

  // Puts back ramps a dead process left changed; call once before anything captures gamma.
  int recoverAbandoned();

  // Goes on through another connection's screen (the first one broke), with
  // the ramps captured so far: what the restore at exit needs.
  void useScreen(RandrScreen& randr) { randr_ = &randr; }

  std::uint32_t size(DisplayID displayID) override;
  Result read(DisplayID displayID, GammaTable& table) override;
  Result write(DisplayID displayID, const GammaTable& table) override;

 private:
  // The output's ramps as they are before the first change, unless they are
  // dimmed (see looksDimmed): then the linear ramp stands in.
  std::optional<GammaRamps> originalRamps(DisplayID displayID, const std::string& outputName);

  RandrScreen* randr_;
  std::unique_ptr<GammaStash> stash_;
};
