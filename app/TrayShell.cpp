// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayShell.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "app/AppModels.hpp"
#include "app/MenuBarIcon.hpp"
#include "menu/MenuViewState.hpp"
#include "ports/UserDefaults.hpp"
#include "services/AppLog.hpp"
#include "ui/MenuBody.hpp"
#include "ui/MenuWindow.hpp"

namespace {
// The panel's colour around the icon, from the pixels just outside the icon's
// own drawing; nothing when the screen cannot be read (Wayland, no icon yet).
std::optional<QColor> panelColour(const QRect& icon) {
  if (!icon.isValid() || QGuiApplication::platformName() == QLatin1String("wayland")) return std::nullopt;
  QScreen* screen = QGuiApplication::screenAt(icon.center());
  if (!screen) return std::nullopt;
  const QImage image = screen->grabWindow(0, icon.x(), icon.y(), icon.width(), icon.height()).toImage();
  if (image.isNull() || image.width() < 2 || image.height() < 2) return std::nullopt;
  long red = 0, green = 0, blue = 0, count = 0;
  const auto add = [&](int x, int y) {
    const QColor c = image.pixelColor(x, y);
    red += c.red(), green += c.green(), blue += c.blue(), ++count;
  };
  // The top and bottom rows: the drawing is wider than tall, so they are panel, not icon.
  for (int x = 0; x < image.width(); ++x) add(x, 0), add(x, image.height() - 1);
  return QColor(int(red / count), int(green / count), int(blue / count));
}
}  // namespace

TrayShell::TrayShell(AppModels& models, const MenuViewState::Ports& ports)
    : userDefaults_(ports.userDefaults),
      menu_(std::make_unique<MenuViewState>(models.stepStore, models.displayStore, models.engine, ports)) {
  updateIcon();
  tray_.setToolTip(MenuBarIcon::accessibilityDescription);
  QObject::connect(&tray_, &QSystemTrayIcon::activated, &tray_, [this](QSystemTrayIcon::ActivationReason reason) {
    // A quick second click arrives as a double click: it toggles too.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
        reason == QSystemTrayIcon::DoubleClick)
      toggleWindow();
  });
  trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
  // Qt waits for an X11 tray to start; elsewhere (Wayland without a StatusNotifier host) it has
  // no way to, and showing the icon only makes it warn about a signal that platform lacks.
  const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
  if (!trayAvailable_)
    AppLog::app.error(x11 ? "No system tray is available; the icon appears once a tray starts"
                          : "No system tray is available (no StatusNotifier host on the session bus); open the "
                            "window from the applications or by starting dimmora again");
  if (trayAvailable_ || x11) tray_.show();
  // The panel the icon sits on is known only once the tray has placed it; it is looked at again
  // whenever the window opens (a theme switch may have recoloured it).
  QTimer::singleShot(500, &tray_, [this] { updateIcon(); });
}

TrayShell::~TrayShell() = default;

// A template icon takes the ink that reads on its panel: dark on a light panel, light on a dark one.
void TrayShell::updateIcon() {
  QColor ink = QApplication::palette().color(QPalette::WindowText);
  if (const auto panel = panelColour(tray_.geometry())) ink = panel->lightness() < 128 ? Qt::white : Qt::black;
  if (ink == ink_) return;
  ink_ = ink;
  tray_.setIcon(MenuBarIcon::icon(ink));
}

void TrayShell::showWindow() {
  updateIcon();
  if (!window_) {
    window_ = std::make_unique<MenuWindow>(*menu_);
    if (!trayAvailable_) window_->body()->showNoTrayHint();
  }
  if (window_->isVisible()) {
    window_->raise();
    window_->activateWindow();
    return;
  }
  window_->showFrom(tray_.geometry());
}

void TrayShell::showWindowOnceWithoutTray() {
  if (trayAvailable_) return;
  if (userDefaults_ && userDefaults_->boolValue(kNoTrayWindowShownKey).value_or(false)) return;
  if (userDefaults_) userDefaults_->setBool(kNoTrayWindowShownKey, true);
  showWindow();
}

void TrayShell::toggleWindow() {
  if (window_ && window_->isVisible()) {
    window_->hide();
    return;
  }
  // The click that took the focus away (and so closed the window) was this one.
  if (window_ && window_->closedByFocusLossJustNow()) return;
  showWindow();
}
