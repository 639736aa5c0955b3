// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RangeView.hpp"

#include <QMouseEvent>
#include <QPainter>

#include "ui/MenuStyle.hpp"

namespace {
QRectF toQt(const Rect& r) { return {r.x, r.y, r.width, r.height}; }
}  // namespace

RangeView::RangeView(std::unique_ptr<DisplayRangeController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
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

  painter.setFont(MenuStyle::font(MenuStyle::Text::rangeCaption));
  painter.setPen(MenuStyle::secondaryLabel(colors));
  const QRectF captions(0, RangeGeometry::captionTop, width(), height() - RangeGeometry::captionTop);
  painter.drawText(captions, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(controller_->minimumCaption()));
  painter.drawText(captions, Qt::AlignRight | Qt::AlignTop, QString::fromStdString(controller_->maximumCaption()));
}

void RangeView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  controller_->mouseDown(event->position().x(), width());
}

void RangeView::mouseMoveEvent(QMouseEvent* event) {
  if (controller_->editingMinimum()) controller_->mouseDragged(event->position().x(), width());
}

void RangeView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && controller_->editingMinimum())
    controller_->mouseUp(event->position().x(), width());
}
