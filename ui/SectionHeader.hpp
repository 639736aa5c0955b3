// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <optional>

// A section's header: symbol, title, an optional count badge and a chevron,
// clickable across the whole width; a click (or Space, or Return) opens or
// closes the section. Screen readers read "Expanded" or "Collapsed" as its
// value and get its expanded state and each change of it.
class SectionHeader final : public QAbstractButton {
  // The accessibility factory recognises it by its class name.
  Q_OBJECT

 public:
  SectionHeader(const QString& title, const QString& symbol, QWidget* parent = nullptr);

  void setCount(std::optional<std::size_t> count);
  void setExpanded(bool expanded, const QString& stateText);
  bool isExpanded() const { return expanded_; }
  const QString& stateText() const { return stateText_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString symbol_;
  std::optional<std::size_t> count_;
  bool expanded_ = false;
  QString stateText_;
};
