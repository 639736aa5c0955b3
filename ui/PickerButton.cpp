// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PickerButton.hpp"

#include <QAbstractItemView>
#include <QEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "menu/GlassAppearance.hpp"
#include "ui/MenuStyle.hpp"
#include "ui/PhraseWrapping.hpp"
#include "ui/Symbols.hpp"

namespace {
constexpr int checkColumn = 22;

// Menu rows with room for the check mark at the left, drawn beside the selected one.
class CheckMarkDelegate final : public QStyledItemDelegate {
 public:
  CheckMarkDelegate(const PickerButton& picker) : QStyledItemDelegate(const_cast<PickerButton*>(&picker)), picker_(picker) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")) {
      painter->setPen(MenuStyle::withOpacity(MenuStyle::label(option.palette), 0.18));
      const int y = option.rect.center().y();
      painter->drawLine(option.rect.left() + 6, y, option.rect.right() - 6, y);
      return;
    }
    QStyleOptionViewItem shifted = option;
    initStyleOption(&shifted, index);
    shifted.rect.adjust(checkColumn, 0, 0, 0);
    const bool highlighted = option.state & QStyle::State_Selected;
    if (highlighted) painter->fillRect(option.rect, MenuStyle::accent(option.palette));
    painter->setFont(option.font);
    painter->setPen(highlighted ? option.palette.color(QPalette::HighlightedText) : MenuStyle::label(option.palette));
    painter->drawText(shifted.rect.adjusted(0, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, shifted.text);
    if (index.row() == picker_.currentIndex()) {
      const QColor ink = highlighted ? option.palette.color(QPalette::HighlightedText) : MenuStyle::label(option.palette);
      const QPixmap mark = Symbols::pixmap("checkmark", ink, 12, painter->device()->devicePixelRatioF());
      painter->drawPixmap(option.rect.left() + 6, option.rect.center().y() - 6, mark);
    }
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")) return {0, 9};
    const QSize size = QStyledItemDelegate::sizeHint(option, index);
    return {size.width() + checkColumn + 8, std::max(size.height(), 24)};
  }

 private:
  const PickerButton& picker_;
};
}  // namespace

PickerButton::PickerButton(const QString& accessibleName, QWidget* parent) : QComboBox(parent) {
  setAccessibleName(accessibleName);
  setFixedSize(pickerWidth, pickerHeight);
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setItemDelegate(new CheckMarkDelegate(*this));
  setFont(MenuStyle::font(MenuStyle::Text::subheadline));
  connect(this, qOverload<int>(&QComboBox::activated), this, [this](int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= entryOfItem_.size() || !entryOfItem_[row]) return;
    // The choice may rebuild the window, this picker included: run it after the menu has closed.
    QMetaObject::invokeMethod(this, [choose = picker_.choose, option = *entryOfItem_[row]] { if (choose) choose(option); },
                              Qt::QueuedConnection);
  });
}

void PickerButton::setPicker(MenuPicker picker, std::optional<std::size_t> separatorAfter) {
  std::vector<std::optional<std::size_t>> rows;
  QStringList texts;
  for (std::size_t i = 0; i < picker.labels.size(); ++i) {
    rows.emplace_back(i);
    texts << QString::fromStdString(picker.labels[i]);
    if (separatorAfter && *separatorAfter == i) {
      rows.emplace_back(std::nullopt);
      texts << QString();
    }
  }
  QStringList current;
  for (int i = 0; i < count(); ++i) current << itemText(i);
  if (current != texts || rows != entryOfItem_) {
    clear();
    for (std::size_t row = 0; row < rows.size(); ++row) {
      if (rows[row]) {
        addItem(texts[static_cast<int>(row)]);
      } else {
        insertSeparator(count());
      }
    }
    entryOfItem_ = std::move(rows);
  }
  int selectedRow = -1;
  for (std::size_t row = 0; row < entryOfItem_.size(); ++row)
    if (picker.selectedIndex && entryOfItem_[row] == picker.selectedIndex) selectedRow = static_cast<int>(row);
  setPlaceholderText(QString::fromStdString(picker.faceLabel));
  setCurrentIndex(selectedRow);
  picker_ = std::move(picker);
  // Tall enough for every line of the face.
  setFixedHeight(std::max(pickerHeight, faceLineCount() * QFontMetrics(face().font).lineSpacing() + lineGap));
  // A single word too wide for the face still tells itself on hover.
  setToolTip(faceTextFits() ? QString() : faceText());
  update();
}

QString PickerButton::faceText() const { return QString::fromStdString(picker_.faceLabel); }

// What is left for the text: 9 px padding each side, the chevron and, for a picker, the divider.
QRect PickerButton::faceTextRect() const {
  QRect content = rect().adjusted(padding, 0, -padding - chevronWidth - spacing, 0);
  if (showsSeparator_) content.setRight(content.right() - 1 - spacing);
  return content;
}

PickerButton::Face PickerButton::face() const {
  const int needed = fontMetrics().horizontalAdvance(faceText());
  const int room = faceTextRect().width();
  if (needed <= room) return {font(), faceText(), Qt::AlignCenter};
  // A little smaller still reads well; any smaller does not: then two lines.
  constexpr double smallest = 0.85;
  const double scale = double(room) / needed;
  if (scale >= smallest) {
    QFont smaller = font();
    smaller.setPixelSize(std::max(1, int(std::floor(smaller.pixelSize() * scale))));
    if (QFontMetrics(smaller).horizontalAdvance(faceText()) <= room) return {smaller, faceText(), Qt::AlignCenter};
  }
  // A chord breaks after a "+" rather than inside a key's name.
  QString breakable = keepPhrasesTogether(faceText());
  breakable.replace(QLatin1Char('+'), QStringLiteral("+\u200b"));
  return {font(), breakable, Qt::AlignCenter | Qt::TextWordWrap};
}

int PickerButton::faceLineCount() const {
  const Face shown = face();
  const QFontMetrics metrics(shown.font);
  const QRect box = metrics.boundingRect(QRect(0, 0, faceTextRect().width(), 1000), shown.flags, shown.text);
  return std::max(1, (box.height() + metrics.lineSpacing() / 2) / metrics.lineSpacing());
}

bool PickerButton::faceTextFits() const {
  const Face shown = face();
  const QRect box =
      QFontMetrics(shown.font).boundingRect(QRect(0, 0, faceTextRect().width(), 1000), shown.flags, shown.text);
  return box.width() <= faceTextRect().width();
}

void PickerButton::showPopup() {
  // Wide enough for the longest entry and the check mark, never narrower than the face.
  view()->setMinimumWidth(std::max(width(), view()->sizeHintForColumn(0) + 12));
  QComboBox::showPopup();
  if (currentIndex() >= 0) return;
  for (std::size_t row = 0; row < entryOfItem_.size(); ++row)
    if (entryOfItem_[row]) return view()->setCurrentIndex(model()->index(static_cast<int>(row), 0));
}

// The pop-up took the pointer: whether it is still over the face is known only now.
void PickerButton::hidePopup() {
  QComboBox::hidePopup();
  update();
}

bool PickerButton::event(QEvent* event) {
  if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave) update();
  return QComboBox::event(event);
}

void PickerButton::wheelEvent(QWheelEvent* event) { event->ignore(); }

void PickerButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colors = palette();
  const QColor ink = MenuStyle::label(colors);
  const auto surface = hoverSurfaceValues(MenuStyle::pointerIsOver(this) || view()->isVisible());
  if (!isEnabled()) painter.setOpacity(0.45);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(MenuStyle::withOpacity(surface.borderUsesAccent ? MenuStyle::accent(colors) : ink,
                                             surface.borderOpacity),
                      surface.borderWidth));
  painter.setBrush(MenuStyle::withOpacity(ink, surface.fillOpacity));
  painter.drawRoundedRect(frame, surface.cornerRadius, surface.cornerRadius);

  // Face: the text, then a divider and the chevron, 6 px apart.
  const QRect content = faceTextRect();
  if (showsSeparator_) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(MenuStyle::withOpacity(ink, 0.18));
    painter.drawRect(QRectF(content.right() + spacing + 1, height() / 2.0 - 7, 1, 14));
  }
  const Face shown = face();
  painter.setFont(shown.font);
  painter.setPen(ink);
  painter.drawText(content, shown.flags, shown.text);
  if (hasFocus()) MenuStyle::drawFocusRing(painter, QRectF(rect()), surface.cornerRadius, colors);
  const QRect chevron(rect().right() - padding - chevronWidth + 1, 0, chevronWidth, height());
  const QPixmap chevronImage = Symbols::pixmap("chevron.down", ink, 12, devicePixelRatioF());
  painter.drawPixmap(chevron.center().x() - 6 + 1, chevron.center().y() - 6 + 1, chevronImage);
}
