// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/ShortcutHUD.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

#include "base/Numbers.hpp"
#include "ports/HUDPanel.hpp"
#include "base/ProcessWide.hpp"

namespace {
std::unique_ptr<ShortcutHUD>& instance() {
  return processWide<std::unique_ptr<ShortcutHUD>>();
}

struct HUDPorts {
  HUDPanel* panel = nullptr;
  MainLoop* loop = nullptr;
};
HUDPorts& ports() { return processWide<HUDPorts>(); }
}  // namespace

void ShortcutHUD::usePorts(HUDPanel* panel, MainLoop* loop) {
  ports() = {panel, loop};
  instance().reset();  // a panel built from the old port is not this one
}

ShortcutHUD& ShortcutHUD::shared() {
  auto& hud = instance();
  if (!hud) hud.reset(new ShortcutHUD());
  return *hud;
}

void ShortcutHUD::resetForTesting() { instance().reset(); }

double ShortcutHUD::clamped(double percent) {
  if (!std::isfinite(percent) || percent <= 0) return 0;
  return std::min(percent, 100.0);
}

std::string ShortcutHUD::valueText(double percent) {
  return std::to_string(static_cast<int>(roundHalfAwayFromZero(clamped(percent)))) + "%";
}

void ShortcutHUD::show(const std::string& title, double percent) {
  const double value = clamped(percent);
  if (!window_) {
    window_ = ports().panel;
    if (!window_) return;  // no window system: the shortcut still works, nothing is shown
    window_->build();
  }
  HUDPanel& panel = *window_;

  if (panel.titleText() != title) panel.setTitleText(title);
  const std::string text = valueText(value);
  if (panel.valueText() != text) panel.setValueText(text);

  // A panel already on screen stays where it is, even on another screen.
  if (!panel.isVisible()) {
    if (const auto frame = panel.screenVisibleFrame()) {
      panel.setOrigin(frame->x + frame->width / 2 - HUDPanel::width / 2, frame->y + topMargin);
    }
  }

  if (panel.trackWidth() == 0) panel.layoutContent();
  const double fill = value / 100 * std::max(0.0, panel.trackWidth());
  if (panel.fillWidth() != fill) panel.setFillWidth(fill);

  hideWorkItem_.cancel();
  if (panel.alpha() != 1) panel.setAlpha(1);
  if (!panel.isVisible()) panel.orderFrontRegardless();

  if (MainLoop* loop = ports().loop) {
    // The handle is a member, so a HUD that is gone is never called back.
    hideWorkItem_ = loop->after(hideDelay, [this] {
      if (window_) window_->orderOut();
    });
  }
}
