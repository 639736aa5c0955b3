// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ConfirmationOverlay.hpp"

#include <QBoxLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "ui/MenuStyle.hpp"
#include "ui/PhraseWrapping.hpp"

namespace {
constexpr int padding = 18, spacing = 14, buttonSpacing = 8;

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
      buttons_(new QBoxLayout(QBoxLayout::LeftToRight)) {
  panel_->setFixedWidth(cardWidth);
  auto* layout = new QVBoxLayout(panel_);
  layout->setContentsMargins(padding, padding, padding, padding);
  layout->setSpacing(spacing);
  title_->setFont(MenuStyle::font(MenuStyle::Text::headline, QFont::DemiBold));
  message_->setFont(MenuStyle::font(MenuStyle::Text::callout));
  for (QLabel* label : {title_, message_}) {
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
  }
  layout->addWidget(title_);
  layout->addWidget(message_);
  buttons_->setSpacing(buttonSpacing);
  layout->addLayout(buttons_);
  hide();
}

bool ConfirmationOverlay::buttonsStacked() const { return buttons_->direction() == QBoxLayout::TopToBottom; }

int ConfirmationOverlay::requiredHeight() const { return card_ ? panel_->height() + 2 * margin : 0; }

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
  const QString title = QString::fromStdString(card_->title), message = QString::fromStdString(card_->message);
  setPhraseWrappedText(title_, title);
  setPhraseWrappedText(message_, message);
  message_->setVisible(!card_->message.empty());
  setAccessibleName(title);
  setAccessibleDescription(message);

  std::vector<QPushButton*> buttons;
  QPushButton* focus = nullptr;
  int sideBySide = 0;
  for (std::size_t i = 0; i < card_->buttons.size(); ++i) {
    const auto& choice = card_->buttons[i];
    auto* button = new QPushButton(QString::fromStdString(choice.label));
    // Return presses the focused button, as Space does.
    button->setAutoDefault(true);
    // A reader on the button hears what it answers.
    button->setAccessibleDescription(message.isEmpty() ? title : message);
    if (choice.destructive) {
      QPalette colors = button->palette();
      colors.setColor(QPalette::ButtonText, MenuStyle::error(colors));
      button->setPalette(colors);
    }
    button->installEventFilter(this);
    connect(button, &QPushButton::clicked, this, [this, i] { press_(i); });
    sideBySide += button->sizeHint().width() + (buttons.empty() ? 0 : buttonSpacing);
    buttons.push_back(button);
    if (choice.cancel || !focus) focus = button;
  }
  // Side by side, right-aligned, when every label fits whole; otherwise one full-width button a line.
  const bool stack = sideBySide > cardWidth - 2 * padding;
  buttons_->setDirection(stack ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
  if (!stack) buttons_->addStretch();
  for (auto* button : buttons) buttons_->addWidget(button);
  panel_->setFixedHeight(panel_->layout()->totalHeightForWidth(cardWidth));

  setGeometry(parentWidget()->rect());
  panel_->move((width() - cardWidth) / 2, std::max(margin, (height() - panel_->height()) / 2));
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
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
    panel_->move((width() - cardWidth) / 2, std::max(margin, (height() - panel_->height()) / 2));
  }
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
