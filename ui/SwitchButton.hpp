// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCheckBox>

// A small on/off switch. It stays a check box underneath, so keyboards and
// screen readers operate it as one (role "check box", state "checked").
class SwitchButton final : public QCheckBox {
 public:
  // `accessibleName`: the row's text, since the switch shows no label of its own.
  explicit SwitchButton(const QString& accessibleName, QWidget* parent = nullptr);

  QSize sizeHint() const override { return {34, 20}; }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};
