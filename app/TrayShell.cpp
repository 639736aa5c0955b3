#include "app/TrayShell.hpp"

#include <QApplication>
#include <QCursor>
#include <QPalette>

#include "app/MenuBarIcon.hpp"
#include "services/AppLog.hpp"
#include "ui/PlaceholderWindow.hpp"

TrayShell::TrayShell(AppModels& models, std::function<void()> quit)
    : window_(std::make_unique<PlaceholderWindow>(models, std::move(quit))) {
  updateIcon();
  tray_.setToolTip(MenuBarIcon::accessibilityDescription);
  QObject::connect(&tray_, &QSystemTrayIcon::activated, &tray_, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) toggleWindow();
  });
  if (!QSystemTrayIcon::isSystemTrayAvailable())
    AppLog::app.error("No system tray is available; the icon appears once a tray starts");
  tray_.show();
}

TrayShell::~TrayShell() = default;

void TrayShell::updateIcon() { tray_.setIcon(MenuBarIcon::icon(QApplication::palette().color(QPalette::WindowText))); }

void TrayShell::toggleWindow() {
  if (window_->isVisible()) {
    window_->hide();
    return;
  }
  showWindow();
}

void TrayShell::showWindow() {
  if (window_->isVisible()) {
    window_->raise();
    window_->activateWindow();
    return;
  }
  QRect anchor = tray_.geometry();
  if (!anchor.isValid()) anchor = QRect(QCursor::pos(), QSize(1, 1));
  window_->showNear(anchor);
}
