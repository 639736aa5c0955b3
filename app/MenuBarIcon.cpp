// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MenuBarIcon.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
// The drawing is given with the origin at the bottom left; Qt's is at the top left.
QRectF fromBottomLeft(double x, double y, double w, double h) {
  return QRectF(x, MenuBarIcon::height - y - h, w, h);
}

QImage draw(int scale) {
  QImage image(MenuBarIcon::width * scale, MenuBarIcon::height * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(scale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(fromBottomLeft(1, 6, 12, 10), 2, 2);
  painter.drawRoundedRect(fromBottomLeft(9, 2, 12, 10), 2, 2);
  painter.fillRect(fromBottomLeft(4, 8, 14, 2), Qt::black);
  return image;
}
}  // namespace

const QImage& MenuBarIcon::image(int scale) {
  static const QImage shared = draw(scale);
  return shared;
}

QIcon MenuBarIcon::icon(const QColor& ink) {
  // A template keeps only its alpha; the panel's own text colour fills it.
  QImage tinted = image().copy();
  QPainter painter(&tinted);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRectF(0, 0, width, height), ink);
  painter.end();
  return QIcon(QPixmap::fromImage(tinted));
}
