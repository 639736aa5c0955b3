// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/OverlayHUDPanel.hpp"

#include <QImage>
#include <QPainter>

#include "services/ShortcutHUD.hpp"

OverlayHUDPanel::OverlayHUDPanel(WaylandSession& session, MainLoop& loop, WaylandOverlay::OutputScale outputScale)
    : loop_(loop),
      overlay_(session, kNameSpace,
               WaylandOverlay::Placement{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                         static_cast<std::int32_t>(ShortcutHUD::topMargin)},
               [this](std::uint8_t* pixels, int w, int h, int stride) {
                 // Wayland's ARGB8888 is Qt's ARGB32 on a little-endian machine, premultiplied.
                 QImage image(pixels, w, h, stride, QImage::Format_ARGB32_Premultiplied);
                 QPainter painter(&image);
                 painter.setOpacity(alpha_);
                 // The buffer has the output's pixel density, or the compositor asked for another size.
                 painter.scale(w / width, h / height);
                 paint(painter);
               },
               std::move(outputScale)) {}

void OverlayHUDPanel::setAlpha(double alpha) {
  alpha_ = alpha;
  changed();
}

void OverlayHUDPanel::changed() {
  if (!visible_ || repaint_.isActive()) return;
  repaint_ = loop_.post([this] { overlay_.show(); });
}

void OverlayHUDPanel::orderFrontRegardless() {
  visible_ = true;
  repaint_.cancel();
  overlay_.show();
}

void OverlayHUDPanel::orderOut() {
  visible_ = false;
  repaint_.cancel();
  overlay_.hide();
}
