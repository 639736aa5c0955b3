#include "ui/HUDPanelView.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {
constexpr int trackHeight = 8;
constexpr int cornerRadius = 16;

QLabel* makeLabel(QWidget* parent, int pixelSize, QFont::Weight weight, const QColor& colour) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // titles come from translations, never markup
  label->setAlignment(Qt::AlignCenter);
  QFont font = label->font();
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  return label;
}
}  // namespace

HUDPanelView::HUDPanelView()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput),
      title_(makeLabel(this, 12, QFont::DemiBold, QColor(255, 255, 255, 160))),
      value_(makeLabel(this, 22, QFont::Bold, Qt::white)),
      track_(new QWidget(this)),
      fill_(new QWidget(track_)) {}

void HUDPanelView::build() {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(static_cast<int>(HUDPanel::width), static_cast<int>(HUDPanel::height));

  // The vertical insets are tighter than the sides so both lines of text fit the fixed height.
  auto* layout = new QVBoxLayout(this);
  const int inset = static_cast<int>(HUDPanel::horizontalInset);
  layout->setContentsMargins(inset, 12, inset, 12);
  layout->setSpacing(6);
  layout->addWidget(title_);
  layout->addWidget(value_);
  layout->addWidget(track_);

  track_->setFixedHeight(trackHeight);
  track_->setAttribute(Qt::WA_StyledBackground);
  track_->setStyleSheet("background: rgba(255, 255, 255, 40); border-radius: 4px;");
  fill_->setAttribute(Qt::WA_StyledBackground);
  fill_->setStyleSheet(
      QString("background: %1; border-radius: 4px;").arg(palette().color(QPalette::Highlight).name()));
  // Empty until the first layout: the caller lays out when it sees a zero-width track.
  track_->setGeometry(0, 0, 0, 0);
  fill_->setGeometry(0, 0, 0, trackHeight);
  setWindowOpacity(0);
}

std::string HUDPanelView::titleText() const { return title_->text().toStdString(); }
void HUDPanelView::setTitleText(const std::string& text) { title_->setText(QString::fromStdString(text)); }
std::string HUDPanelView::valueText() const { return value_->text().toStdString(); }
void HUDPanelView::setValueText(const std::string& text) { value_->setText(QString::fromStdString(text)); }

std::optional<HUDPanel::Rect> HUDPanelView::screenVisibleFrame() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().first();
  if (!screen) return std::nullopt;
  const QRect frame = screen->availableGeometry();
  return Rect{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())};
}

void HUDPanelView::setOrigin(double x, double y) {
  move(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

void HUDPanelView::layoutContent() {
  if (layout()) layout()->activate();
}

void HUDPanelView::setFillWidth(double width) {
  fill_->setGeometry(0, 0, static_cast<int>(std::lround(std::max(0.0, width))), trackHeight);
}

void HUDPanelView::orderFrontRegardless() {
  show();
  raise();
}

void HUDPanelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(28, 28, 30, 230));
  painter.drawRoundedRect(rect(), cornerRadius, cornerRadius);
}
