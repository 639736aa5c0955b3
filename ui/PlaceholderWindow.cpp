#include "ui/PlaceholderWindow.hpp"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

#include "app/AppModels.hpp"
#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "services/L10n.hpp"

PlaceholderWindow::PlaceholderWindow(AppModels& models, std::function<void()> quit)
    : QWidget(nullptr, Qt::Popup), models_(models), displays_(new QLabel), level_(new QLabel) {
  setWindowTitle("Dimmora");
  auto* layout = new QVBoxLayout(this);
  auto* title = new QLabel("<b>Dimmora</b>");
  layout->addWidget(title);
  displays_->setTextFormat(Qt::PlainText);
  layout->addWidget(displays_);
  layout->addWidget(level_);
  auto* quitButton = new QPushButton(QString::fromStdString(L10n::text("quit_app")));
  connect(quitButton, &QPushButton::clicked, this, [quit = std::move(quit)] { quit(); });
  layout->addWidget(quitButton);
  // The level moves during fades; a light poll while open is all this view needs.
  refreshTimer_.setInterval(250);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });
}

void PlaceholderWindow::refresh() {
  QString lines;
  for (const auto& display : models_.displayStore->displays.get()) {
    const auto status = ControlStatusStore::shared().status(display.displayID);
    lines += QString::fromStdString(display.name + " — " + L10n::text(status)) + "\n";
  }
  if (lines.isEmpty()) lines = QString::fromStdString(L10n::text("no_display_detected"));
  displays_->setText(lines.trimmed());
  level_->setText(QString::fromUtf8("\u263C %1 %").arg(std::lround(models_.engine->currentBrightnessPercent())));
}

void PlaceholderWindow::showNear(const QRect& anchor) {
  refresh();
  adjustSize();
  const QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 720);
  QPoint origin(anchor.center().x() - width() / 2, anchor.bottom() + 4);
  if (origin.y() + height() > area.bottom()) origin.setY(anchor.top() - height() - 4);
  origin.setX(std::clamp(origin.x(), area.left(), std::max(area.left(), area.right() - width())));
  origin.setY(std::clamp(origin.y(), area.top(), std::max(area.top(), area.bottom() - height())));
  move(origin);
  show();
}

void PlaceholderWindow::showEvent(QShowEvent* event) {
  models_.engine->setMenuVisible(true);
  refreshTimer_.start();
  QWidget::showEvent(event);
}

void PlaceholderWindow::hideEvent(QHideEvent* event) {
  refreshTimer_.stop();
  models_.engine->setMenuVisible(false);
  QWidget::hideEvent(event);
}
