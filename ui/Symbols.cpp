// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Symbols.hpp"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <map>

// The drawings live in a library: its resources are registered on first use.
static void registerDrawings() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)registered;
}

namespace {
// Symbolic names of the freedesktop icon themes with the same meaning.
const std::map<QString, QString>& themeNames() {
  static const std::map<QString, QString> names{
      {"power", "system-shutdown-symbolic"},     {"display", "video-display-symbolic"},
      {"trash", "user-trash-symbolic"},          {"plus", "list-add-symbolic"},
      {"chevron.down", "pan-down-symbolic"},     {"chevron.right", "pan-end-symbolic"},
      {"heart", "emblem-favorite-symbolic"},     {"checkmark", "object-select-symbolic"},
  };
  return names;
}

QString drawingPath(const QString& name) { return ":/icons/symbols/" + name + ".svg"; }

// A symbol keeps only its shape; the ink fills it.
void tint(QImage& image, const QColor& ink) {
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(image.rect(), ink);
}

QImage render(const QString& name, int pixels) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  const auto theme = themeNames().find(name);
  if (theme != themeNames().end() && QIcon::hasThemeIcon(theme->second)) {
    QPainter painter(&image);
    QIcon::fromTheme(theme->second).paint(&painter, image.rect());
    return image;
  }
  QSvgRenderer renderer(drawingPath(name));
  if (!renderer.isValid()) return image;
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  return image;
}
}  // namespace

bool Symbols::hasDrawing(const QString& name) {
  registerDrawings();
  return QFile::exists(drawingPath(name));
}

QPixmap Symbols::pixmap(const QString& name, const QColor& ink, int size, qreal devicePixelRatio) {
  registerDrawings();
  const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
  QImage image = render(name, pixels);
  tint(image, ink);
  image.setDevicePixelRatio(devicePixelRatio);
  return QPixmap::fromImage(image);
}

QIcon Symbols::icon(const QString& name, const QColor& ink, int size) {
  QIcon icon;
  for (const qreal ratio : {1.0, 2.0}) icon.addPixmap(pixmap(name, ink, size, ratio));
  return icon;
}

QPixmap Symbols::applicationIcon(int size, qreal devicePixelRatio) {
  registerDrawings();
  const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QSvgRenderer renderer(QStringLiteral(":/icons/io.github.dimmora.Dimmora.svg"));
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
  renderer.render(&painter);
  painter.end();
  image.setDevicePixelRatio(devicePixelRatio);
  return QPixmap::fromImage(image);
}
