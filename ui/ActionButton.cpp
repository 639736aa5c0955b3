// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ActionButton.hpp"

#include <QEvent>
#include <QPainter>

#include "menu/GlassAppearance.hpp"
#include "ui/MenuStyle.hpp"
#include "ui/Symbols.hpp"

namespace {
constexpr int symbolSize = 14;
constexpr int symbolGap = 6;
constexpr int padding = 10;
}  // namespace

ActionButton::ActionButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
  // Return presses it when it has the focus, as Space does.
  setAutoDefault(true);
  setFont(MenuStyle::font(MenuStyle::Text::subheadline));
  setFocusPolicy(Qt::TabFocus);
}

QSize ActionButton::sizeHint() const {
  int width = fontMetrics().horizontalAdvance(text()) + 2 * padding;
  if (!symbol_.isEmpty()) width += symbolSize + symbolGap;
  return {width, 28};
}

bool ActionButton::event(QEvent* event) {
  if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave) update();
  return QPushButton::event(event);
}

void ActionButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const bool hovering = MenuStyle::pointerIsOver(this);
  if (!isEnabled()) painter.setOpacity(0.45);
  QColor ink = MenuStyle::label(colors);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  if (link_) {
    ink = MenuStyle::accent(colors);
    if (hovering) ink = ink.lighter(MenuStyle::isDark(colors) ? 125 : 85);
  } else if (prominent_) {
    painter.setPen(Qt::NoPen);
    QColor fill = MenuStyle::accent(colors);
    if (hovering) fill = fill.lighter(110);
    if (isDown()) fill = fill.darker(112);
    painter.setBrush(fill);
    painter.drawRoundedRect(frame, 7, 7);
    ink = colors.color(QPalette::HighlightedText);
  } else {
    const auto surface = hoverSurfaceValues(hovering);
    painter.setPen(QPen(MenuStyle::withOpacity(surface.borderUsesAccent ? MenuStyle::accent(colors) : ink,
                                               surface.borderOpacity),
                        surface.borderWidth));
    painter.setBrush(MenuStyle::withOpacity(ink, isDown() ? surface.fillOpacity + 0.08 : surface.fillOpacity));
    painter.drawRoundedRect(frame, surface.cornerRadius, surface.cornerRadius);
  }
  const int textWidth = fontMetrics().horizontalAdvance(text());
  const int contentWidth = textWidth + (symbol_.isEmpty() ? 0 : symbolSize + symbolGap);
  int x = std::max(padding / 2, (width() - contentWidth) / 2);
  if (!symbol_.isEmpty()) {
    painter.drawPixmap(x, (height() - symbolSize) / 2, Symbols::pixmap(symbol_, ink, symbolSize, devicePixelRatioF()));
    x += symbolSize + symbolGap;
  }
  painter.setFont(font());
  painter.setPen(ink);
  painter.drawText(QRect(x, 0, width() - x - padding / 2, height()), Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideRight, width() - x - padding / 2));
  painter.setOpacity(1);
  if (hasFocus()) MenuStyle::drawFocusRing(painter, QRectF(rect()), link_ ? 4 : 6, colors);
}
