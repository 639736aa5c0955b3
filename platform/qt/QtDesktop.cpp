// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtDesktop.hpp"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "platform/linux/DBusSession.hpp"

QtDesktop::QtDesktop(DBusSession* bus, std::function<void()> quit) : bus_(bus), quit_(std::move(quit)) {}

bool QtDesktop::setText(const std::string& text) {
  auto* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  clipboard->setText(QString::fromStdString(text));
  return clipboard->text() == QString::fromStdString(text);
}

bool QtDesktop::revealFile(const std::filesystem::path& file) {
  const auto uri = QUrl::fromLocalFile(QString::fromStdString(file.string())).toString().toStdString();
  if (bus_ && bus_->showItemInFileManager(uri)) return true;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

bool QtDesktop::openURL(const std::string& url) {
  const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
  if (!parsed.isValid()) return false;
  if (parsed.scheme() == "https" || parsed.scheme() == "http") return QDesktopServices::openUrl(parsed);
  // A local document (the installed README); never a program, which "opening" would run.
  if (parsed.isLocalFile()) {
    const QFileInfo info(parsed.toLocalFile());
    if (!info.isFile() || info.isExecutable()) return false;
    return QDesktopServices::openUrl(parsed);
  }
  return false;
}

std::optional<Rect> QtDesktop::mainScreenAvailableArea() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  const QRect area = screen->availableGeometry();
  return Rect{double(area.x()), double(area.y()), double(area.width()), double(area.height())};
}

void QtDesktop::requestQuit() {
  // From a button's click handler: let the click finish before the loop ends.
  QTimer::singleShot(0, qApp, [quit = quit_] { quit(); });
}
