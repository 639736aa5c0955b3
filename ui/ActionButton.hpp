// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>

// The window's push buttons, drawn on the same hover surface as the pickers
// (or, prominent, filled with the accent colour), with an optional symbol.
class ActionButton final : public QPushButton {
 public:
  ActionButton(const QString& text, QWidget* parent = nullptr);

  void setSymbol(const QString& symbol) { symbol_ = symbol; update(); }
  void setProminent(bool prominent) { prominent_ = prominent; update(); }
  // A link: no surface, accent-coloured text.
  void setLink(bool link) { link_ = link; update(); }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString symbol_;
  bool prominent_ = false;
  bool link_ = false;
};
