// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RangeView.hpp"

#include <QAccessible>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "ui/MenuStyle.hpp"
#include "ui/SliderView.hpp"

namespace {
QRectF toQt(const Rect& r) { return {r.x, r.y, r.width, r.height}; }
}  // namespace

RangeView::RangeView(std::unique_ptr<DisplayRangeController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFocusPolicy(Qt::StrongFocus);
  valueSubscription_ = controller_->valueChanged.connect([this] { update(); });
}

RangeView::~RangeView() = default;

QSize RangeView::sizeHint() const { return {200, static_cast<int>(RangeGeometry::intrinsicHeight)}; }

void RangeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const auto geometry = controller_->geometry(width());
  const double minimum = controller_->minimum(), maximum = controller_->maximum();
  const QRectF track = toQt(geometry.trackRect());
  const double radius = RangeGeometry::trackHeight / 2;
  painter.setPen(Qt::NoPen);
  painter.setBrush(MenuStyle::quaternaryLabel(colors));
  painter.drawRoundedRect(track, radius, radius);
  painter.setBrush(MenuStyle::accent(colors));
  const QRectF selected = toQt(geometry.selectedRect(minimum, maximum));
  if (selected.width() > 0) painter.drawRoundedRect(selected, radius, radius);
  painter.setBrush(Qt::white);
  painter.setPen(QPen(MenuStyle::accent(colors), 1));
  for (const double value : {minimum, maximum})
    painter.drawRoundedRect(toQt(geometry.handleRect(value)), RangeGeometry::handleRadius, RangeGeometry::handleRadius);
  if (hasFocus()) {
    const QRectF handle = toQt(geometry.handleRect(keyboardMinimum_ ? minimum : maximum)).adjusted(-3, -3, 3, 3);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(MenuStyle::withOpacity(MenuStyle::accent(colors), 0.6), 2));
    painter.drawRoundedRect(handle, 3, 3);
  }

  painter.setFont(MenuStyle::font(MenuStyle::Text::rangeCaption));
  painter.setPen(MenuStyle::secondaryLabel(colors));
  const QRectF captions(0, RangeGeometry::captionTop, width(), height() - RangeGeometry::captionTop);
  painter.drawText(captions, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(controller_->minimumCaption()));
  painter.drawText(captions, Qt::AlignRight | Qt::AlignTop, QString::fromStdString(controller_->maximumCaption()));
}

void RangeView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  controller_->mouseDown(event->position().x(), width());
  if (const auto& minimum = controller_->editingMinimum()) setKeyboardHandle(*minimum);
}

void RangeView::mouseMoveEvent(QMouseEvent* event) {
  if (controller_->editingMinimum()) controller_->mouseDragged(event->position().x(), width());
}

void RangeView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && controller_->editingMinimum())
    controller_->mouseUp(event->position().x(), width());
}

void RangeView::keyPressEvent(QKeyEvent* event) {
  const auto key = sliderKeyFor(*event);
  if (!key) return QWidget::keyPressEvent(event);
  const double value = keyboardMinimum_ ? controller_->minimum() : controller_->maximum();
  controller_->moveHandle(keyboardMinimum_,
                          sliderKeyTarget(*key, value, controller_->geometry(width()).lowerBound, 100));
}

void RangeView::focusInEvent(QFocusEvent* event) {
  if (event->reason() == Qt::TabFocusReason) keyboardMinimum_ = true;
  if (event->reason() == Qt::BacktabFocusReason) keyboardMinimum_ = false;
  setKeyboardHandle(keyboardMinimum_);
  QWidget::focusInEvent(event);
}

void RangeView::focusOutEvent(QFocusEvent* event) {
  update();
  QWidget::focusOutEvent(event);
}

bool RangeView::focusNextPrevChild(bool next) {
  if (next == keyboardMinimum_) {
    setKeyboardHandle(!next);
    return true;
  }
  return QWidget::focusNextPrevChild(next);
}

void RangeView::setKeyboardHandle(bool minimum) {
  keyboardMinimum_ = minimum;
  update();
  if (!hasFocus() || !QAccessible::isActive()) return;
  // After the editor's own focus report: a reader then lands on the handle.
  QTimer::singleShot(0, this, [this] {
    if (!hasFocus()) return;
    QAccessibleInterface* editor = QAccessible::queryAccessibleInterface(this);
    if (QAccessibleInterface* handle = editor ? editor->child(keyboardMinimum_ ? 0 : 1) : nullptr) {
      QAccessibleEvent focus(handle, QAccessible::Focus);
      QAccessible::updateAccessibility(&focus);
    }
  });
}
