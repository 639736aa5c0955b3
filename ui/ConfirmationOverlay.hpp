// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>

#include "menu/MaintenanceActions.hpp"

class QBoxLayout;
class QLabel;

// The card over a dimmed window while a confirmation or an error waits: the
// dimming takes every click, so nothing beneath can be used; Escape presses
// the card's cancel button. The card grows to its text, and its buttons stand
// one above the other when they do not fit side by side, so that every choice
// reads in full. Screen readers meet it as a dialog (an alert for an error)
// named by its title, and each button points to the message.
class ConfirmationOverlay final : public QWidget {
  // The accessibility factory recognises it by its class name.
  Q_OBJECT

 public:
  static constexpr int cardWidth = 282;
  static constexpr int margin = 12;

  // `press(index)` is called with the button the user chose.
  ConfirmationOverlay(std::function<void(std::size_t)> press, QWidget* parent);

  // Shows `card` over the whole parent, or hides when there is none.
  void present(const std::optional<ConfirmationCard>& card);
  const std::optional<ConfirmationCard>& card() const { return card_; }
  // The window height the card needs (0 while none is shown).
  int requiredHeight() const;
  bool buttonsStacked() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void pressCancel();

  std::function<void(std::size_t)> press_;
  std::optional<ConfirmationCard> card_;
  QWidget* panel_;
  QLabel* title_;
  QLabel* message_;
  QBoxLayout* buttons_;
};
