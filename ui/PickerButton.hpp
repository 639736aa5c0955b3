// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <optional>
#include <vector>

#include "menu/MenuPicker.hpp"

// The window's pop-up picker, 140 by 28: its face shows the current choice
// (or a fixed label) on the hover surface with a chevron; its menu lists the
// options with a check mark beside the selected one. A combo box underneath,
// so keyboards and screen readers list and choose its items.
class PickerButton final : public QComboBox {
 public:
  static constexpr int pickerWidth = 140;
  static constexpr int pickerHeight = 28;

  PickerButton(const QString& accessibleName, QWidget* parent = nullptr);

  // Shows `picker`; `separatorAfter` puts a divider after that entry. Leaves
  // the list alone when it is unchanged (an open menu stays as it is).
  void setPicker(MenuPicker picker, std::optional<std::size_t> separatorAfter = std::nullopt);
  // The face draws the divider and chevron of a picker; a menu button shows only the chevron.
  void setShowsSeparator(bool shows) { showsSeparator_ = shows; }
  QString faceText() const;
  // Whether the face shows its whole text: a long label is drawn smaller, down
  // to three quarters of the font, before it is cut short (its tooltip then
  // carries the whole text).
  bool faceTextFits() const;

  QSize sizeHint() const override { return {pickerWidth, pickerHeight}; }
  QSize minimumSizeHint() const override { return sizeHint(); }
  void showPopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  // The wheel scrolls the window; it never changes a setting in passing.
  void wheelEvent(QWheelEvent* event) override;

 private:
  static constexpr int padding = 9, spacing = 6, chevronWidth = 15;
  QRect faceTextRect() const;
  QFont faceFont() const;

  MenuPicker picker_;
  std::vector<std::optional<std::size_t>> entryOfItem_;  // item row -> option index, none for a divider
  bool showsSeparator_ = true;
};
