// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/HUDPanelView.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>

HUDPanelView::HUDPanelView()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput) {}

void HUDPanelView::build() {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(static_cast<int>(HUDPanel::width), static_cast<int>(HUDPanel::height));
  setWindowOpacity(0);
}

std::optional<HUDPanel::Rect> HUDPanelView::screenVisibleFrame() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().first();
  if (!screen) return std::nullopt;
  const QRect frame = screen->availableGeometry();
  return Rect{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())};
}

void HUDPanelView::setOrigin(double x, double y) {
  move(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

void HUDPanelView::orderFrontRegardless() {
  show();
  raise();
}

void HUDPanelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paint(painter);
}
