// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>

#include "menu/MaintenanceActions.hpp"

class QLabel;
class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

// The card over a dimmed window while a confirmation or an error waits: the
// dimming takes every click, so nothing beneath can be used; Escape presses
// the card's cancel button.
class ConfirmationOverlay final : public QWidget {
 public:
  static constexpr int cardWidth = 282;

  // `press(index)` is called with the button the user chose.
  ConfirmationOverlay(std::function<void(std::size_t)> press, QWidget* parent);

  // Shows `card` over the whole parent, or hides when there is none.
  void present(const std::optional<ConfirmationCard>& card);
  const std::optional<ConfirmationCard>& card() const { return card_; }

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
  QHBoxLayout* buttons_;
};
