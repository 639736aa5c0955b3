// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ConfirmationOverlay.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/MenuStyle.hpp"

namespace {
// The card itself: the window's colour with a rounded one-pixel border.
class CardPanel final : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(MenuStyle::windowBackground(palette()));
    painter.setPen(QPen(MenuStyle::withOpacity(MenuStyle::label(palette()), 0.22), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
  }
};
}  // namespace

ConfirmationOverlay::ConfirmationOverlay(std::function<void(std::size_t)> press, QWidget* parent)
    : QWidget(parent), press_(std::move(press)), panel_(new CardPanel(this)), title_(new QLabel), message_(new QLabel),
      buttons_(new QHBoxLayout) {
  setAccessibleName(QStringLiteral("confirmation"));
  auto* outer = new QVBoxLayout(this);
  outer->addStretch();
  outer->addWidget(panel_, 0, Qt::AlignHCenter);
  outer->addStretch();
  panel_->setFixedWidth(cardWidth);
  auto* layout = new QVBoxLayout(panel_);
  layout->setContentsMargins(18, 18, 18, 18);
  layout->setSpacing(14);
  title_->setFont(MenuStyle::font(MenuStyle::Text::headline, QFont::DemiBold));
  title_->setWordWrap(true);
  message_->setFont(MenuStyle::font(MenuStyle::Text::callout));
  message_->setWordWrap(true);
  for (QLabel* label : {title_, message_}) label->setTextFormat(Qt::PlainText);
  layout->addWidget(title_);
  layout->addWidget(message_);
  buttons_->setSpacing(8);
  layout->addLayout(buttons_);
  hide();
}

void ConfirmationOverlay::present(const std::optional<ConfirmationCard>& card) {
  card_ = card;
  while (auto* item = buttons_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  if (!card_) {
    hide();
    return;
  }
  title_->setText(QString::fromStdString(card_->title));
  message_->setText(QString::fromStdString(card_->message));
  message_->setVisible(!card_->message.empty());
  buttons_->addStretch();
  QPushButton* focus = nullptr;
  for (std::size_t i = 0; i < card_->buttons.size(); ++i) {
    const auto& choice = card_->buttons[i];
    auto* button = new QPushButton(QString::fromStdString(choice.label));
    button->setAutoDefault(false);
    if (choice.destructive) {
      QPalette colors = button->palette();
      colors.setColor(QPalette::ButtonText, MenuStyle::error(colors));
      button->setPalette(colors);
    }
    button->installEventFilter(this);
    connect(button, &QPushButton::clicked, this, [this, i] { press_(i); });
    buttons_->addWidget(button);
    if (choice.cancel || !focus) focus = button;
  }
  setGeometry(parentWidget()->rect());
  parentWidget()->installEventFilter(this);
  show();
  raise();
  if (focus) focus->setFocus();
}

void ConfirmationOverlay::pressCancel() {
  if (!card_) return;
  for (std::size_t i = 0; i < card_->buttons.size(); ++i)
    if (card_->buttons[i].cancel) return press_(i);
}

bool ConfirmationOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && isVisible()) {
    pressCancel();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void ConfirmationOverlay::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), MenuStyle::withOpacity(Qt::black, 0.45));
}

// The dimming takes the click and does nothing with it.
void ConfirmationOverlay::mousePressEvent(QMouseEvent* event) { event->accept(); }

void ConfirmationOverlay::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return pressCancel();
  QWidget::keyPressEvent(event);
}
