// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <optional>
#include <vector>

#include "menu/MenuPicker.hpp"

// The window's pop-up picker, 140 wide and 28 high: its face shows the
// current choice (or a fixed label) on the hover surface with a chevron; its
// menu lists the options with a check mark beside the selected one. A face
// too long for one line is drawn smaller, down to 85 % of the font, and
// beyond that wraps (after a "+" of a key chord first), the picker growing
// taller. A combo box underneath, so keyboards and screen readers list and
// choose its items.
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
  // Whether the face shows its whole text (on one line or wrapped); only a
  // single word wider than the face is cut, and its tooltip then carries it.
  bool faceTextFits() const;
  // How many lines the face takes.
  int faceLineCount() const;

  QSize sizeHint() const override { return {pickerWidth, height()}; }
  QSize minimumSizeHint() const override { return sizeHint(); }
  // Opened from the keyboard with nothing chosen, the first entry is highlighted.
  void showPopup() override;
  void hidePopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  // The wheel scrolls the window; it never changes a setting in passing.
  void wheelEvent(QWheelEvent* event) override;

 private:
  static constexpr int padding = 9, spacing = 6, chevronWidth = 15, lineGap = 8;
  struct Face {
    QFont font;
    QString text;  // with the line-break opportunities it is drawn with
    int flags;
  };
  QRect faceTextRect() const;
  Face face() const;

  MenuPicker picker_;
  std::vector<std::optional<std::size_t>> entryOfItem_;  // item row -> option index, none for a divider
  bool showsSeparator_ = true;
};
