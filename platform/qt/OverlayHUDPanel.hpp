// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/MainLoop.hpp"
#include "platform/qt/PaintedHUDPanel.hpp"
#include "platform/wayland/WaylandOverlay.hpp"

class WaylandSession;

// The heads-up panel on a Wayland compositor with a layer shell: the same
// picture as the X11 window, painted into our own overlay surface, where the
// compositor places it at the top of the output the user works on. The
// changes of one turn of the loop are painted as one frame.
class OverlayHUDPanel final : public PaintedHUDPanel {
 public:
  static constexpr const char* kNameSpace = "dimmora-hud";

  // `outputScale` tells an output's scale, so the panel is sharp on dense screens.
  OverlayHUDPanel(WaylandSession& session, MainLoop& loop, WaylandOverlay::OutputScale outputScale);

  // False where the compositor has no layer shell: another panel must stand in.
  bool isOffered() const { return overlay_.isOffered(); }
  WaylandOverlay& overlay() { return overlay_; }
  const WaylandOverlay& overlay() const { return overlay_; }

  void build() override {}
  // Not once the compositor closed the surface, so the next show puts up a new one.
  bool isVisible() const override { return visible_ && overlay_.isShown(); }
  // The compositor places the surface: the top margin is part of its anchoring.
  std::optional<Rect> screenVisibleFrame() const override { return std::nullopt; }
  void setOrigin(double, double) override {}
  double alpha() const override { return alpha_; }
  void setAlpha(double alpha) override;
  void orderFrontRegardless() override;
  void orderOut() override;

 protected:
  void changed() override;

 private:
  MainLoop& loop_;
  WaylandOverlay overlay_;
  bool visible_ = false;
  double alpha_ = 0;
  ScheduledWork repaint_;
};
