// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GlassCard.hpp"

#include <QPainter>

#include "menu/GlassAppearance.hpp"
#include "ui/MenuStyle.hpp"

GlassCard::GlassCard(GlassAppearance& appearance, double radius, QWidget* parent)
    : QWidget(parent), appearance_(appearance), radius_(radius) {
  changes_ = appearance_.changes.connect([this](double) { update(); });
}

void GlassCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const auto glass = glassValues(appearance_.percent());
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(Qt::NoPen);
  // The backdrop: a lighter (or, dark, a deeper) shade of the window, then the control tint.
  const QColor backdrop = MenuStyle::isDark(colors) ? MenuStyle::windowBackground(colors).lighter(112)
                                                    : MenuStyle::windowBackground(colors).lighter(104);
  painter.setBrush(MenuStyle::withOpacity(backdrop, glass.effectAlpha));
  painter.drawRoundedRect(frame, radius_, radius_);
  painter.setBrush(MenuStyle::withOpacity(MenuStyle::controlBackground(colors), glass.tintAlpha));
  painter.drawRoundedRect(frame, radius_, radius_);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(MenuStyle::withOpacity(MenuStyle::secondaryLabel(colors), glass.borderAlpha), glass.borderWidth));
  painter.drawRoundedRect(frame, radius_, radius_);
}
