// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SectionHeader.hpp"

#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>

#include "ui/MenuAccessibility.hpp"
#include "ui/MenuStyle.hpp"
#include "ui/Symbols.hpp"

SectionHeader::SectionHeader(const QString& title, const QString& symbol, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol) {
  setText(title);
  setAccessibleName(title);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFont(MenuStyle::font(MenuStyle::Text::subheadline, QFont::DemiBold));
}

QSize SectionHeader::sizeHint() const { return {200, 36}; }

void SectionHeader::setCount(std::optional<std::size_t> count) {
  if (count_ == count) return;
  count_ = count;
  update();
}

void SectionHeader::setExpanded(bool expanded, const QString& stateText) {
  if (expanded_ == expanded && stateText_ == stateText) return;
  expanded_ = expanded;
  stateText_ = stateText;
  setAccessibleDescription(stateText);
  update();
  QAccessible::State changed;
  changed.expanded = true;
  QAccessibleStateChangeEvent event(this, changed);
  QAccessible::updateAccessibility(&event);
  MenuAccessibility::announceExpanded(this, expanded);
}

void SectionHeader::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return click();
  QAbstractButton::keyPressEvent(event);
}

void SectionHeader::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const QColor ink = MenuStyle::label(colors);
  constexpr int spacing = 8, symbolSize = 16;
  int x = 2;
  const int middle = height() / 2;
  painter.drawPixmap(x, middle - symbolSize / 2, Symbols::pixmap(symbol_, ink, symbolSize, devicePixelRatioF()));
  x += symbolSize + spacing;
  painter.setFont(font());
  painter.setPen(ink);
  const int titleWidth = fontMetrics().horizontalAdvance(text());
  painter.drawText(QRect(x, 0, titleWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
  x += titleWidth + spacing;
  if (count_) {
    const QFont badgeFont = MenuStyle::font(MenuStyle::Text::caption, QFont::DemiBold);
    const QString badge = QString::number(*count_);
    const int badgeWidth = std::max(18, QFontMetrics(badgeFont).horizontalAdvance(badge) + 10);
    const QRectF pill(x, middle - 8, badgeWidth, 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(MenuStyle::quaternaryLabel(colors));
    painter.drawRoundedRect(pill, 8, 8);
    painter.setFont(badgeFont);
    painter.setPen(MenuStyle::secondaryLabel(colors));
    painter.drawText(pill, Qt::AlignCenter, badge);
  }
  const QPixmap chevron = Symbols::pixmap(expanded_ ? "chevron.down" : "chevron.right", MenuStyle::secondaryLabel(colors),
                                          12, devicePixelRatioF());
  painter.drawPixmap(width() - 14, middle - 6, chevron);
  if (hasFocus()) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(MenuStyle::withOpacity(MenuStyle::accent(colors), 0.6), 1.5));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 2, -1, -2), 6, 6);
  }
}
