// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "base/Signal.hpp"
#include "ports/GammaTables.hpp"

class WaylandSession;
class WaylandOutputs;
struct zwlr_gamma_control_manager_v1;
struct zwlr_gamma_control_v1;

// Gamma through wlroots' gamma control. A control is exclusive: only one
// client at a time holds an output's, and a second one is told `failed`
// (so is anyone on an output that takes no tables: the protocol does not
// tell the two apart). Such a display has no gamma (size 0) and says
// why, refused or taken back, until the output list changes: then the
// holder may have let go, or the output come back, and the control is asked
// for again on its next use. The compositor itself puts the output's
// tables back when our control goes, even if this process dies, so no
// crash stash is needed; the control is let go whenever the identity is
// written, leaving the output free for night-light tools.
class WaylandGammaTables final : public GammaTables {
 public:
  WaylandGammaTables(WaylandSession& session, WaylandOutputs& outputs);
  ~WaylandGammaTables() override;
  WaylandGammaTables(const WaylandGammaTables&) = delete;
  WaylandGammaTables& operator=(const WaylandGammaTables&) = delete;

  bool isOffered() const { return manager_ != nullptr; }

  std::uint32_t size(DisplayID displayID) override;
  // The tables cannot be read back; the identity is what the compositor
  // shows when no client holds the control.
  Result read(DisplayID displayID, GammaTable& table) override;
  Result write(DisplayID displayID, const GammaTable& table) override;
  std::string_view unavailableReason(DisplayID displayID) override;

  // The compositor took a display's control away while we held it.
  Signal<DisplayID> controlFailed;

  struct Control {
    WaylandGammaTables* owner = nullptr;
    DisplayID displayID = 0;
    zwlr_gamma_control_v1* proxy = nullptr;
    std::uint32_t size = 0;
    bool failed = false;
    bool granted = false;  // the compositor gave the table size in answer to the latest request
    bool revoked = false;  // failed after it was granted
    bool stale = false;  // to be asked for afresh: refused before the outputs changed, or its output went
  };

 private:
  // The display's control, asked for (and answered) when not yet known.
  Control* control(DisplayID displayID);
  bool acquire(Control& control);
  void release(Control& control);
  void handleFailed(Control& control);

  WaylandSession& session_;
  WaylandOutputs& outputs_;
  zwlr_gamma_control_manager_v1* manager_ = nullptr;
  std::map<DisplayID, Control> controls_;
  Subscription removed_;
  Subscription changed_;
};
