// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SliderView.hpp"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "menu/MenuLabels.hpp"
#include "ui/MenuStyle.hpp"

namespace {
QRectF toQt(const Rect& r) { return {r.x, r.y, r.width, r.height}; }
}  // namespace

SliderView::SliderView(std::unique_ptr<SliderController> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), lastAnnounced_(controller_->value()) {
  setAccessibleName(QString::fromStdString(controller_->accessibilityLabel()));
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  valueSubscription_ = controller_->valueChanged.connect([this] { valueChanged(); });
}

SliderView::~SliderView() = default;

QSize SliderView::sizeHint() const { return {120, static_cast<int>(SliderGeometry::intrinsicHeight)}; }

void SliderView::setDisabled(bool disabled) {
  controller_->setDisabled(disabled);
  setEnabled(!disabled);
  update();
}

void SliderView::valueChanged() {
  update();
  if (controller_->value() == lastAnnounced_) return;
  lastAnnounced_ = controller_->value();
  QAccessibleValueChangeEvent event(this, controller_->value());
  QAccessible::updateAccessibility(&event);
}

void SliderView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const auto geometry = controller_->geometry(width());
  const double value = controller_->value();
  const QRectF track = toQt(geometry.trackRect());
  painter.setPen(Qt::NoPen);
  painter.setBrush(MenuStyle::quaternaryLabel(colors));
  painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
  painter.setBrush(MenuStyle::withOpacity(MenuStyle::accent(colors), SliderGeometry::fillAlpha(controller_->isDisabled())));
  const QRectF fill = toQt(geometry.fillRect(value));
  if (fill.width() > 0) painter.drawRoundedRect(fill, fill.height() / 2, fill.height() / 2);
  painter.setBrush(Qt::white);
  painter.setPen(QPen(MenuStyle::accent(colors), 1));
  painter.drawRoundedRect(toQt(geometry.knobRect(value)), SliderGeometry::knobRadius, SliderGeometry::knobRadius);
  if (controller_->showsValue()) {
    const Point topRight = geometry.valueTextTopRight();
    painter.setFont(MenuStyle::font(MenuStyle::Text::sliderValue, QFont::DemiBold));
    painter.setPen(MenuStyle::label(colors));
    const QRectF box(topRight.x - SliderGeometry::valueTextWidth, topRight.y, SliderGeometry::valueTextWidth, 16);
    painter.drawText(box, Qt::AlignRight | Qt::AlignTop, QString::fromStdString(MenuLabels::percentText(value)));
  }
  if (hasFocus()) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(MenuStyle::withOpacity(MenuStyle::accent(colors), 0.5), 1.5));
    painter.drawRoundedRect(track.adjusted(-2, -2, 2, 2), track.height() / 2 + 2, track.height() / 2 + 2);
  }
}

void SliderView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  controller_->mouseDown(event->position().x(), width());
}

void SliderView::mouseMoveEvent(QMouseEvent* event) {
  if (controller_->isEditing()) controller_->mouseDragged(event->position().x(), width());
}

void SliderView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && controller_->isEditing()) controller_->mouseUp(event->position().x(), width());
}

std::optional<SliderKey> sliderKeyFor(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Right:
    case Qt::Key_Up: return SliderKey::stepUp;
    case Qt::Key_Left:
    case Qt::Key_Down: return SliderKey::stepDown;
    case Qt::Key_PageUp: return SliderKey::pageUp;
    case Qt::Key_PageDown: return SliderKey::pageDown;
    case Qt::Key_Home: return SliderKey::home;
    case Qt::Key_End: return SliderKey::end;
    default: return std::nullopt;
  }
}

void SliderView::keyPressEvent(QKeyEvent* event) {
  const auto key = sliderKeyFor(*event);
  if (!key) return QWidget::keyPressEvent(event);
  controller_->moveTo(sliderKeyTarget(*key, controller_->value(), 0, 100));
}
