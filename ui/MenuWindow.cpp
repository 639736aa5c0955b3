// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MenuWindow.hpp"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCursor>
#include <QPainterPath>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "engine/IdleBrightnessEngine.hpp"
#include "menu/DropDownPlacement.hpp"
#include "menu/MenuLabels.hpp"
#include "menu/MenuViewState.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"
#include "ui/ActionButton.hpp"
#include "ui/ConfirmationOverlay.hpp"
#include "ui/DesktopCompositing.hpp"
#include "ui/GlassCard.hpp"
#include "ui/MenuAccessibility.hpp"
#include "ui/MenuBody.hpp"
#include "ui/MenuStyle.hpp"
#include "ui/Symbols.hpp"
#include "ui/X11WindowState.hpp"

namespace {
QString l10n(const char* key) { return QString::fromStdString(L10n::text(key)); }
QString qt(const std::string& text) { return QString::fromStdString(text); }
Rect toRect(const QRect& r) { return {double(r.x()), double(r.y()), double(r.width()), double(r.height())}; }

// How long after a focus-loss close a click on the icon still counts as the one that closed it.
constexpr int focusLossGraceMs = 300;

QFrame* divider() {
  auto* line = new QFrame;
  line->setFixedHeight(1);
  line->setStyleSheet(QStringLiteral("background: palette(mid); border: none;"));
  return line;
}

// Depth first through the layouts: top to bottom, and left to right within a row.
void collectControls(QLayout* layout, std::vector<QWidget*>& controls);

void collectControls(QWidget* widget, std::vector<QWidget*>& controls) {
  if (widget->focusPolicy() & Qt::TabFocus) controls.push_back(widget);
  if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
    if (scroll->widget()) collectControls(scroll->widget(), controls);
    return;
  }
  // A control's own parts (a spin box's line edit) are reached through it.
  if (widget->focusPolicy() != Qt::NoFocus) return;
  if (widget->layout()) collectControls(widget->layout(), controls);
}

void collectControls(QLayout* layout, std::vector<QWidget*>& controls) {
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (QWidget* widget = item->widget()) collectControls(widget, controls);
    else if (QLayout* inner = item->layout()) collectControls(inner, controls);
  }
}
}  // namespace

MenuWindow::MenuWindow(MenuViewState& menu)
    : QWidget(nullptr), menu_(menu), wayland_(QGuiApplication::platformName() == QLatin1String("wayland")),
      translucent_(desktopComposites()) {
  MenuAccessibility::install();
  setWindowTitle(l10n("app_name"));
  setAccessibleName(l10n("app_name"));
  setWindowIcon(QIcon(Symbols::applicationIcon(64)));
  if (wayland_) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  } else {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  }
  if (translucent_) setAttribute(Qt::WA_TranslucentBackground);
  setFixedWidth(windowWidth);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  content_ = new QWidget;
  outer->addWidget(content_);
  contentLayout_ = new QVBoxLayout(content_);
  contentLayout_->setContentsMargins(0, 0, 0, 0);
  contentLayout_->setSpacing(0);
  overlay_ = new ConfirmationOverlay([this](std::size_t index) { pressCardButton(index); }, this);
  build();

  auto& engine = menu_.engine();
  subscriptions_.push_back(engine.masterPresentation.percent.changed.connect([this](const double& percent) {
    if (readout_) readout_->setText(qt(MenuLabels::percentText(percent)));
  }));
  subscriptions_.push_back(menu_.heights().changed.connect([this] { relayout(); }));
  subscriptions_.push_back(menu_.maintenance().changed.connect([this] { presentCard(); }));
  // Every text comes from the table of the chosen language: build the window again in it.
  subscriptions_.push_back(menu_.stepStore().language.changed.connect([this](const auto&) { scheduleRebuild(); }));
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) menu_.applicationBecameActive();
  });
  // However the focus got there (Tab from the header, Shift+Tab from the footer), the body shows it.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now && scroll_ && body_ && body_->isAncestorOf(now)) scroll_->ensureWidgetVisible(now, 8, 24);
  });
}

MenuWindow::~MenuWindow() = default;

void MenuWindow::build() {
  bodySubscriptions_.clear();
  while (auto* item = contentLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  header_ = buildHeader();
  contentLayout_->addWidget(header_);
  contentLayout_->addWidget(divider());
  scroll_ = new QScrollArea;
  // Tab goes to the controls inside; the area scrolls to each one focused.
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->viewport()->setAutoFillBackground(false);
  // A slim bar that leaves the cards their width.
  scroll_->verticalScrollBar()->setStyleSheet(QStringLiteral(
      "QScrollBar:vertical { width: 8px; background: transparent; margin: 2px 1px; }"
      "QScrollBar::handle:vertical { background: palette(mid); border-radius: 3px; min-height: 24px; }"
      "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
      "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
  body_ = new MenuBody(menu_);
  scroll_->setWidget(body_);
  // After setWidget, which fills the body: the window paints what lies behind it, glass cards left out.
  body_->setAutoFillBackground(false);
  contentLayout_->addWidget(scroll_);
  contentLayout_->addWidget(divider());
  footer_ = buildFooter();
  contentLayout_->addWidget(footer_);
  bodySubscriptions_.push_back(body_->layoutChanged.connect([this] { measure(); }));
  bodySubscriptions_.push_back(body_->rowsRebuilt.connect([this] { orderTabs(); }));
  orderTabs();
  measure();
  presentCard();
}

std::vector<QWidget*> MenuWindow::controlsInLayoutOrder() const {
  std::vector<QWidget*> controls;
  collectControls(contentLayout_, controls);
  return controls;
}

void MenuWindow::orderTabs() {
  const auto controls = controlsInLayoutOrder();
  for (std::size_t i = 1; i < controls.size(); ++i) QWidget::setTabOrder(controls[i - 1], controls[i]);
}

void MenuWindow::scheduleRebuild() {
  if (rebuildScheduled_) return;
  rebuildScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    rebuildScheduled_ = false;
    // The new window keeps the old one's place: its scroll position and the focused control.
    const int scrolled = scroll_->verticalScrollBar()->value();
    const auto before = controlsInLayoutOrder();
    const auto focused = std::find(before.begin(), before.end(), focusWidget());
    const auto focusIndex = focused == before.end() ? std::nullopt : std::optional(focused - before.begin());
    setWindowTitle(l10n("app_name"));
    build();
    // The body's new height is applied on the next turn of the loop. The focus goes back first, since
    // it scrolls to its control; the scroll position that was in view then wins.
    QTimer::singleShot(0, this, [this, scrolled, focusIndex] {
      const auto after = controlsInLayoutOrder();
      if (focusIndex && *focusIndex < static_cast<std::ptrdiff_t>(after.size()))
        after[static_cast<std::size_t>(*focusIndex)]->setFocus(Qt::OtherFocusReason);
      scroll_->verticalScrollBar()->setValue(scrolled);
    });
  });
}

QWidget* MenuWindow::buildHeader() {
  auto* header = new QWidget;
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(14, 14, 14, 14);
  row->setSpacing(10);
  auto* icon = new QLabel;
  icon->setPixmap(Symbols::applicationIcon(36, devicePixelRatioF()));
  icon->setFixedSize(36, 36);
  row->addWidget(icon);
  auto* title = new QLabel(l10n("app_name"));
  title->setFont(MenuStyle::font(MenuStyle::Text::title, QFont::Bold));
  row->addWidget(title);
  row->addStretch();
  readout_ = new QLabel(qt(MenuLabels::percentText(menu_.engine().masterPresentation.percent.get())));
  readout_->setFont(MenuStyle::font(MenuStyle::Text::readout, QFont::DemiBold));
  readout_->setAlignment(Qt::AlignCenter);
  readout_->setFixedSize(48, 28);
  readout_->setAccessibleDescription(l10n("everyday_brightness"));
  row->addWidget(readout_);
  auto* quit = new QToolButton;
  quit->setAutoRaise(true);
  quit->setFixedSize(32, 32);
  quit->setFocusPolicy(Qt::TabFocus);
  quit->setStyleSheet(MenuStyle::iconButtonStyleSheet());
  quit->setIcon(Symbols::icon("power", MenuStyle::secondaryLabel(palette()), 14));
  quit->setIconSize({14, 14});
  quit->setToolTip(l10n("quit_app"));
  quit->setAccessibleName(l10n("quit_app"));
  connect(quit, &QToolButton::clicked, this, [this] { menu_.maintenance().quit(); });
  row->addWidget(quit);
  return header;
}

QWidget* MenuWindow::buildFooter() {
  auto* footer = new QWidget;
  auto* column = new QVBoxLayout(footer);
  column->setContentsMargins(14, 10, 14, 10);
  column->setSpacing(6);
  auto* links = new QHBoxLayout;
  links->setSpacing(10);
  links->addStretch();
  for (const auto& link : menu_.maintenance().supportLinks()) {
    auto* button = new ActionButton(qt(link.label));
    button->setLink(true);
    button->setFont(MenuStyle::font(MenuStyle::Text::callout));
    button->setSymbol(link.kind == SupportLink::Kind::supportPage ? "arrow.up.right.square" : "heart");
    if (!link.tooltip.empty()) button->setToolTip(qt(link.tooltip));
    connect(button, &QPushButton::clicked, this, [this, kind = link.kind] { menu_.maintenance().openSupportLink(kind); });
    links->addWidget(button);
  }
  links->addStretch();
  column->addLayout(links);
  auto* credit = new QLabel(qt(menu_.creditLine()));
  credit->setFont(MenuStyle::font(MenuStyle::Text::caption2));
  credit->setForegroundRole(QPalette::PlaceholderText);
  credit->setAlignment(Qt::AlignCenter);
  credit->setWordWrap(true);
  column->addWidget(credit);
  return footer;
}

// The body and the fixed parts report their natural heights; the menu's rules say what the scroll view gets.
void MenuWindow::measure() {
  if (!body_) return;
  const int bodyWidth = windowWidth;
  const int bodyHeight = body_->hasHeightForWidth() ? body_->heightForWidth(bodyWidth) : body_->sizeHint().height();
  // The footer and both dividers stay on screen too, so they count with the header.
  const int fixed = header_->sizeHint().height() + footer_->heightForWidth(windowWidth) + 1;
  menu_.heights().reportChromeHeight(fixed);
  menu_.heights().reportBodyHeight(bodyHeight);
  relayout();
}

void MenuWindow::relayout() {
  if (!scroll_) return;
  auto& heights = menu_.heights();
  const int scrollHeight = static_cast<int>(std::ceil(heights.scrollHeight()));
  scroll_->setFixedHeight(scrollHeight);
  scroll_->setVerticalScrollBarPolicy(heights.scrollingEnabled() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  const int total = header_->sizeHint().height() + 1 + scrollHeight + 1 + footer_->heightForWidth(windowWidth);
  // A card taller than the window makes room for itself.
  setFixedHeight(std::max(total, overlay_->requiredHeight()));
}

void MenuWindow::showFrom(const QRect& icon) {
  if (wayland_) {
    // The compositor places the window; only its height follows the screen.
    menu_.heights().readScreenHeight();
    show();
    raise();
    activateWindow();
    return;
  }
  const QRect anchor = icon.isValid() ? icon : QRect(QCursor::pos(), QSize(1, 1));
  QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 720);
  if (screen) setScreen(screen);
  menu_.anchor().reset();
  const auto placement = dropDownPlacement(toRect(anchor), width(), height(), toRect(available));
  menu_.anchor().setDirection(placement.direction);
  move(static_cast<int>(std::lround(placement.origin.x)), static_cast<int>(std::lround(placement.origin.y)));
  show();
  raise();
  activateWindow();
}

bool MenuWindow::closedByFocusLossJustNow() const {
  return focusLossClose_.isValid() && focusLossClose_.elapsed() < focusLossGraceMs;
}

void MenuWindow::showEvent(QShowEvent* event) {
  if (!wayland_) keepOffTaskbarAndPager(this);
  QWidget::showEvent(event);
  menu_.appear();
  menu_.anchor().setActive(!wayland_);
  body_->refresh();
  // Set while the window is still unmapped, so activation brings the focus there without a focus
  // change of its own: the body's first control, not the quit button alone in the header above it,
  // which Space would press.
  const auto controls = controlsInLayoutOrder();
  const auto first = std::find_if(controls.begin(), controls.end(), [this](QWidget* c) { return body_->isAncestorOf(c); });
  if (first != controls.end()) (*first)->setFocus(Qt::OtherFocusReason);
  // Before the window is mapped: record its corner and fit its height at once, so it never
  // shows for a moment running off the screen.
  anchorWindow(true);
}

void MenuWindow::hideEvent(QHideEvent* event) {
  menu_.anchor().setActive(false);
  menu_.disappear();
  QWidget::hideEvent(event);
}

void MenuWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow() && isVisible())
    // Activation may pass to one of our own pop-up menus first: look again once it has settled.
    QTimer::singleShot(0, this, [this] { closeIfInactive(); });
  if (event->type() == QEvent::PaletteChange) update();
  QWidget::changeEvent(event);
}

void MenuWindow::closeIfInactive() {
  if (!isVisible() || isActiveWindow() || QApplication::activePopupWidget() || QApplication::activeModalWidget()) return;
  if (QApplication::activeWindow() && QApplication::activeWindow() != this) {
    // Another of our own windows (a context menu's owner, a dialog) has the focus: stay.
    if (QApplication::activeWindow()->isAncestorOf(this)) return;
  }
  focusLossClose_.start();
  hide();
}

void MenuWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (overlay_->isVisible()) return;
    hide();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MenuWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  anchorWindow();
}

void MenuWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  anchorWindow();
}

// Keeps the corner the window opened at while its height changes, and tells
// the menu how much height the screen leaves below (or above) that corner.
void MenuWindow::anchorWindow(bool now) {
  if (wayland_ || !isVisible()) return;
  const QScreen* current = screen();
  if (!current) return;
  const auto update = menu_.anchor().windowChanged(toRect(frameGeometry()), toRect(current->availableGeometry()));
  if (!update) return;
  const double available = update->availableHeight;
  if (now) menu_.heights().setScreenHeight(available);
  else QTimer::singleShot(0, this, [this, available] { menu_.heights().setScreenHeight(available); });
  if (update->moveTo) {
    const QPoint target(static_cast<int>(std::lround(update->moveTo->x)), static_cast<int>(std::lround(update->moveTo->y)));
    menu_.anchor().move([this, target] { move(target); });
  }
}

void MenuWindow::presentCard() {
  auto card = menu_.maintenance().card();
  showingCaptureError_ = false;
  if (!card) {
    if (const auto error = menu_.maintenance().captureError()) {
      card = ConfirmationCard{ConfirmationCard::Kind::uninstallError, L10n::text("ddc_log"), *error, {{"OK", false, true}}};
      showingCaptureError_ = true;
    }
  }
  overlay_->present(card);
  content_->setEnabled(!card);
  relayout();
}

void MenuWindow::pressCardButton(std::size_t index) {
  // The press may change the card, and this overlay's buttons with it: act after the click has finished.
  QTimer::singleShot(0, this, [this, index] {
    if (showingCaptureError_) {
      menu_.maintenance().dismissCaptureError();
      presentCard();
      return;
    }
    menu_.maintenance().pressCardButton(index);
    presentCard();
  });
}

QPainterPath MenuWindow::glassHoles() const {
  QPainterPath holes;
  if (!scroll_) return holes;
  const QRect viewport(scroll_->viewport()->mapTo(this, QPoint(0, 0)), scroll_->viewport()->size());
  QPainterPath visible;
  visible.addRect(viewport);
  for (const GlassCard* card : body_->findChildren<GlassCard*>()) {
    if (!card->isVisible()) continue;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QRect(card->mapTo(this, QPoint(0, 0)), card->size())), card->radius(), card->radius());
    holes |= shape & visible;
  }
  return holes;
}

void MenuWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const QColor border = MenuStyle::withOpacity(MenuStyle::label(colors), 0.2);
  if (translucent_) {
    // The desktop shows through the glass cards as far as their transparency lets it: no window behind them.
    QPainterPath background;
    if (wayland_) background.addRect(rect());
    else background.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(MenuStyle::withOpacity(MenuStyle::windowBackground(colors), 0.92));
    painter.drawPath(background.subtracted(glassHoles()));
    if (wayland_) return;
    painter.setPen(QPen(border, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    return;
  }
  // Off Wayland (which always composites), an opaque window with a thin border.
  painter.fillRect(rect(), MenuStyle::windowBackground(colors));
  painter.setPen(QPen(border, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
