// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <vector>

#include "base/Signal.hpp"

class MenuViewState;
class MenuBody;
class ConfirmationOverlay;
class QLabel;
class QPainterPath;
class QScrollArea;
class QVBoxLayout;

// The settings window that drops down from the tray icon: 310 pixels wide, a
// fixed header, a scrolling body as tall as the screen allows, a footer, and
// the confirmation card over everything when one is pending.
//
// On X11 it is a frameless utility window placed beside the icon, kept out of
// taskbars and pagers, and pinned at that corner while its height changes. It
// is deliberately not a Qt::Popup (those are left out of the accessibility
// tree), so it closes itself when it loses focus, on Escape and on a second
// click on the icon. On Wayland, where a client cannot place windows, it is an
// ordinary window the compositor places.
//
// The keyboard: each opening starts on the first control below the header
// (not the quit button, which Space would press); Tab walks the controls in
// the order they stand on screen, top to bottom and left to right, each
// showing its focus.
class MenuWindow final : public QWidget {
  // The accessibility factory recognises it by its class name.
  Q_OBJECT

 public:
  static constexpr int windowWidth = 310;

  explicit MenuWindow(MenuViewState& menu);
  ~MenuWindow() override;

  // Opens beside the tray icon at `icon` (screen coordinates); an empty
  // rectangle means "near the pointer".
  void showFrom(const QRect& icon);
  // True for a moment after the window closed because it lost focus: the
  // click that took the focus may be the one on the tray icon, which must not
  // open it again at once.
  bool closedByFocusLossJustNow() const;
  bool isTranslucent() const { return translucent_; }
  MenuBody* body() const { return body_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void build();
  QWidget* buildHeader();
  QWidget* buildFooter();
  void scheduleRebuild();
  // Every control that takes the focus from Tab, as the layouts place them.
  std::vector<QWidget*> controlsInLayoutOrder() const;
  // Chains them into the Tab order in that order.
  void orderTabs();
  void measure();
  void relayout();
  // `now`: apply the height the screen leaves at once rather than on the next turn of the loop.
  void anchorWindow(bool now = false);
  void presentCard();
  void pressCardButton(std::size_t index);
  void closeIfInactive();
  // Where the glass cards lie within the scroll view, in window coordinates.
  QPainterPath glassHoles() const;

  MenuViewState& menu_;
  const bool wayland_;
  const bool translucent_;
  QWidget* content_ = nullptr;
  QVBoxLayout* contentLayout_ = nullptr;
  QWidget* header_ = nullptr;
  QLabel* readout_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  MenuBody* body_ = nullptr;
  QWidget* footer_ = nullptr;
  ConfirmationOverlay* overlay_ = nullptr;
  bool showingCaptureError_ = false;
  bool rebuildScheduled_ = false;
  QElapsedTimer focusLossClose_;
  std::vector<Subscription> subscriptions_;
  std::vector<Subscription> bodySubscriptions_;
};
