// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MenuBody.hpp"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <functional>

#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "display/DisplayStore.hpp"
#include "engine/IdleBrightnessEngine.hpp"
#include "menu/MenuLabels.hpp"
#include "menu/MenuViewState.hpp"
#include "menu/SliderControllers.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/L10n.hpp"
#include "settings/StepStore.hpp"
#include "ui/ActionButton.hpp"
#include "ui/GlassCard.hpp"
#include "ui/MenuAccessibility.hpp"
#include "ui/MenuStyle.hpp"
#include "ui/PhraseWrapping.hpp"
#include "ui/PickerButton.hpp"
#include "ui/RangeView.hpp"
#include "ui/SectionHeader.hpp"
#include "ui/SliderView.hpp"
#include "ui/SwitchButton.hpp"
#include "ui/Symbols.hpp"

namespace {
QString l10n(const char* key) { return QString::fromStdString(L10n::text(key)); }
QString qt(const std::string& text) { return QString::fromStdString(text); }

QLabel* caption(const QString& text, MenuStyle::Text size, bool secondary = true) {
  auto* label = new QLabel;
  setPhraseWrappedText(label, text);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setFont(MenuStyle::font(size));
  if (secondary) label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

// A caption in the warning ink: what the user should know before relying on the window.
QLabel* warningCaption(const QString& text) {
  auto* label = caption(text, MenuStyle::Text::caption2, false);
  QPalette colors = label->palette();
  colors.setColor(QPalette::WindowText, MenuStyle::warning(colors));
  label->setPalette(colors);
  return label;
}

QLabel* symbolLabel(const char* symbol, const QPalette& colors, int size = 16) {
  auto* label = new QLabel;
  label->setPixmap(Symbols::pixmap(symbol, MenuStyle::label(colors), size, 2));
  label->setFixedSize(size, size);
  label->setProperty("symbol", symbol);
  return label;
}

// Shows the model's state without it counting as the user's toggle.
void showState(QCheckBox* box, bool on) {
  const QSignalBlocker quiet(box);
  box->setChecked(on);
}

// A title on the left, wrapped when long, and its control on the right.
QWidget* settingRow(const QString& title, QWidget* control) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(10);
  auto* label = new QLabel;
  setPhraseWrappedText(label, title);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setFont(MenuStyle::font(MenuStyle::Text::subheadline));
  label->setBuddy(control);
  layout->addWidget(label, 1, Qt::AlignVCenter);
  layout->addWidget(control, 0, Qt::AlignVCenter | Qt::AlignRight);
  return row;
}

QFrame* divider() {
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFixedHeight(1);
  line->setStyleSheet(QStringLiteral("background: palette(mid); border: none;"));
  return line;
}

// The rounded fill behind a display card or a step row.
class Tile : public QWidget {
 public:
  Tile(double radius, double fillOpacity, bool outlined) : radius_(radius), fill_(fillOpacity), outlined_(outlined) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(MenuStyle::withOpacity(MenuStyle::quaternaryLabel(palette()), fill_ / 0.45));
    painter.setPen(outlined_ ? QPen(MenuStyle::withOpacity(MenuStyle::secondaryLabel(palette()), 0.1), 0.75) : Qt::NoPen);
    painter.drawRoundedRect(frame, radius_, radius_);
  }

 private:
  double radius_, fill_;
  bool outlined_;
};

// A step row: its time, its brightness slider and its remove button on one
// line; where the time's words take so much room that the slider would be too
// short to set (Japanese), the slider gets a line of its own below.
class StepRowTile final : public Tile {
 public:
  // Narrower than this (60 px of track and the value text), a slider moves too far per pixel.
  static constexpr int shortestSlider = 110;

  StepRowTile(QWidget* time, QWidget* slider, QWidget* remove, std::function<void()> rearranged)
      : Tile(11, 0.42, true), time_(time), slider_(slider), remove_(remove), rearranged_(std::move(rearranged)) {
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(8, 6, 8, 6);
    grid_->setHorizontalSpacing(6);
    grid_->setVerticalSpacing(4);
    grid_->setColumnStretch(1, 1);
    arrange(false);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    Tile::resizeEvent(event);
    const QMargins margins = grid_->contentsMargins();
    const int room = width() - margins.left() - margins.right() - time_->sizeHint().width() - remove_->width() -
                     2 * grid_->horizontalSpacing();
    if (arrange(room < shortestSlider)) rearranged_();
  }

 private:
  // Widgets are added in reading order, which the Tab order follows.
  bool arrange(bool twoLines) {
    if (grid_->count() && twoLines == twoLines_) return false;
    twoLines_ = twoLines;
    for (QWidget* widget : {time_, slider_, remove_}) grid_->removeWidget(widget);
    grid_->addWidget(time_, 0, 0);
    if (twoLines) {
      grid_->addWidget(remove_, 0, 2, Qt::AlignRight);
      grid_->addWidget(slider_, 1, 0, 1, 3);
    } else {
      grid_->addWidget(slider_, 0, 1);
      grid_->addWidget(remove_, 0, 2);
    }
    return true;
  }

  QWidget *time_, *slider_, *remove_;
  std::function<void()> rearranged_;
  QGridLayout* grid_;
  bool twoLines_ = false;
};

// A step's time: typed, or stepped with the arrow keys; the wheel scrolls the window instead.
class SecondsField final : public QSpinBox {
 protected:
  void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

// An expanded section's contents with the faint guide line along their leading edge.
class SectionChildren final : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(QRectF(0, 10, 2, std::max(0, height() - 20)),
                     MenuStyle::withOpacity(MenuStyle::secondaryLabel(palette()), 0.2));
  }
};
}  // namespace

MenuBody::MenuBody(MenuViewState& menu, QWidget* parent) : QWidget(parent), menu_(menu) {
  setAccessibleName(l10n("app_name"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->setSpacing(14);
  layout->addWidget(buildMasterGroup());
  layout->addWidget(buildPauseGroup());
  displays_ = buildSection("displays", "display", &MenuBody::setDisplaysOpen);
  layout->addWidget(displays_.container);
  desktopDimmingAction_ = new ActionButton(QString());
  connect(desktopDimmingAction_, &QPushButton::clicked, this, [this] { menu_.desktopDimming().turnOff(); });
  desktopDimming_ = settingRow(QString(), desktopDimmingAction_);
  desktopDimmingText_ = desktopDimming_->findChild<QLabel*>();
  displays_.childLayout->addWidget(desktopDimming_);
  desktopDimmingOff_ = caption(QString(), MenuStyle::Text::caption2);
  displays_.childLayout->addWidget(desktopDimmingOff_);
  desktopDimmingError_ = warningCaption(QString());
  displays_.childLayout->addWidget(desktopDimmingError_);
  noDisplay_ = caption(l10n("no_display_detected"), MenuStyle::Text::subheadline);
  displays_.childLayout->addWidget(noDisplay_);

  steps_ = buildSection("steps_title", "sun.min", &MenuBody::setStepsOpen);
  layout->addWidget(steps_.container);
  idleCounter_ = caption(QString(), MenuStyle::Text::caption, false);
  steps_.childLayout->addWidget(idleCounter_);
  steps_.childLayout->addWidget(caption(l10n("step_range_short"), MenuStyle::Text::caption));
  stepRowsBox_ = new QWidget;
  auto* rows = new QVBoxLayout(stepRowsBox_);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(6);
  steps_.childLayout->addWidget(stepRowsBox_);
  auto* add = new ActionButton(l10n("add_step"));
  add->setSymbol("plus");
  add->setProminent(true);
  add->setFixedHeight(30);
  connect(add, &QPushButton::clicked, this, [this] { menu_.addStep(); });
  steps_.childLayout->addWidget(add);

  advanced_ = buildSection("advanced_settings", "slider.horizontal.3", &MenuBody::setAdvancedOpen);
  layout->addWidget(advanced_.container);
  buildAdvancedRows();
  layout->addStretch();

  observeModels();
  refresh();
}

void MenuBody::showNoTrayHint() {
  if (findChild<QLabel*>(QStringLiteral("noTrayHint"))) return;
  auto* hint = caption(l10n("no_tray_hint"), MenuStyle::Text::caption);
  hint->setObjectName(QStringLiteral("noTrayHint"));
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, hint);
  layoutChanged.emit();
}

MenuBody::~MenuBody() = default;

void MenuBody::observeModels() {
  auto& store = menu_.stepStore();
  auto& engine = menu_.engine();
  const auto later = [this] { scheduleRefresh(); };
  subscriptions_.push_back(menu_.changed.connect(later));
  subscriptions_.push_back(menu_.maintenance().changed.connect(later));
  subscriptions_.push_back(store.objectWillChange.connect(later));
  subscriptions_.push_back(store.rangeChanges.connect(later));
  subscriptions_.push_back(menu_.displayStore().displays.changed.connect([this](const auto&) { scheduleRefresh(); }));
  subscriptions_.push_back(ControlStatusStore::shared().states.changed.connect([this](const auto&) { scheduleRefresh(); }));
  subscriptions_.push_back(engine.objectWillChange.connect(later));
  subscriptions_.push_back(engine.pauseUntil.changed.connect([this](const auto&) { scheduleRefresh(); }));
  subscriptions_.push_back(engine.restoreShortcutAvailable.changed.connect([this](const bool&) { scheduleRefresh(); }));
  auto& login = menu_.loginLaunch();
  subscriptions_.push_back(login.enabled.changed.connect([this](const bool&) { scheduleRefresh(); }));
  subscriptions_.push_back(login.error.changed.connect([this](const auto&) { scheduleRefresh(); }));
  subscriptions_.push_back(engine.idleCounter.seconds.changed.connect(
      [this](const double& seconds) { idleCounter_->setText(qt(MenuLabels::idleCounterText(seconds))); }));
}

// Models announce a change before they make it; the view reads them once the change is done.
void MenuBody::scheduleRefresh() {
  if (refreshScheduled_) return;
  refreshScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    refreshScheduled_ = false;
    refresh();
  });
}

bool MenuBody::event(QEvent* event) {
  if (event->type() == QEvent::LayoutRequest) {
    // A section opened or closed, a row rearranged: the window fits its new height.
    const bool handled = QWidget::event(event);
    layoutChanged.emit();
    return handled;
  }
  if (event->type() == QEvent::PaletteChange) {
    // Symbols are drawn in the palette's ink: draw them again.
    for (auto* label : findChildren<QLabel*>())
      if (label->property("symbol").isValid())
        label->setPixmap(Symbols::pixmap(label->property("symbol").toString(), MenuStyle::label(palette()), label->width(), 2));
  }
  return QWidget::event(event);
}

QWidget* MenuBody::buildMasterGroup() {
  auto* group = new QWidget;
  auto* layout = new QVBoxLayout(group);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  masterRow_ = new QWidget;
  auto* row = new QHBoxLayout(masterRow_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);
  auto* low = symbolLabel("sun.min", palette());
  auto* high = symbolLabel("sun.max", palette());
  master_ = new SliderView(SliderController::master(menu_));
  row->addWidget(low);
  row->addWidget(master_, 1);
  row->addWidget(high);
  layout->addWidget(masterRow_);
  layout->addWidget(caption(l10n("manual_range_hint"), MenuStyle::Text::caption2));
  // At the top: whatever the user changes now may not be kept.
  if (const auto notice = menu_.settingsFileNoticeText()) layout->addWidget(warningCaption(qt(*notice)));
  return group;
}

QWidget* MenuBody::buildPauseGroup() {
  auto* card = new GlassCard(menu_.glassAppearance(), 11);
  auto* layout = new QVBoxLayout(card);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(9);

  auto* media = new QWidget;
  auto* mediaRow = new QHBoxLayout(media);
  mediaRow->setContentsMargins(0, 0, 0, 0);
  mediaRow->setSpacing(8);
  auto* mediaSymbol = symbolLabel("play.rectangle", palette());
  mediaRow->addWidget(mediaSymbol);
  auto* mediaLabel = caption(l10n("pause_during_media_playback"), MenuStyle::Text::subheadline, false);
  mediaRow->addWidget(mediaLabel, 1);
  mediaSwitch_ = new SwitchButton(l10n("pause_during_media_playback"));
  connect(mediaSwitch_, &QCheckBox::toggled, this, [this](bool on) { menu_.setPauseDuringMediaPlayback(on); });
  mediaRow->addWidget(mediaSwitch_);
  layout->addWidget(media);
  mediaUnavailable_ = caption(QString(), MenuStyle::Text::caption2);
  layout->addWidget(mediaUnavailable_);
  layout->addWidget(divider());

  pausePicker_ = new PickerButton(l10n("pause_dimming"));
  pausePicker_->setShowsSeparator(false);
  layout->addWidget(settingRow(l10n("pause_dimming"), pausePicker_));
  resumeAt_ = caption(QString(), MenuStyle::Text::caption2);
  layout->addWidget(resumeAt_);
  // Beside the pause controls: it says why nothing dims whatever the steps say.
  idleTimeUnavailable_ = warningCaption(QString());
  layout->addWidget(idleTimeUnavailable_);
  return card;
}

MenuBody::Section MenuBody::buildSection(const char* titleKey, const char* symbol, void (MenuBody::*toggle)(bool)) {
  Section section;
  section.container = new GlassCard(menu_.glassAppearance(), 12);
  auto* layout = new QVBoxLayout(section.container);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(0);
  section.header = new SectionHeader(l10n(titleKey), symbol);
  connect(section.header, &QAbstractButton::clicked, this,
          [this, toggle, header = section.header] { (this->*toggle)(!header->isExpanded()); });
  layout->addWidget(section.header);
  section.children = new SectionChildren;
  section.childLayout = new QVBoxLayout(section.children);
  section.childLayout->setContentsMargins(10, 8, 0, 10);
  section.childLayout->setSpacing(10);
  layout->addWidget(section.children);
  return section;
}

void MenuBody::setDisplaysOpen(bool open) { menu_.setDisplaysOpen(open); }
void MenuBody::setStepsOpen(bool open) { menu_.setStepsOpen(open); }
void MenuBody::setAdvancedOpen(bool open) { menu_.setAdvancedSettingsOpen(open); }

void MenuBody::buildAdvancedRows() {
  auto* rows = advanced_.childLayout;
  auto& maintenance = menu_.maintenance();

  loginSwitch_ = new SwitchButton(l10n("launch_at_login"));
  connect(loginSwitch_, &QCheckBox::toggled, this, [this](bool on) { menu_.setLaunchAtLogin(on); });
  rows->addWidget(settingRow(l10n("launch_at_login"), loginSwitch_));
  loginError_ = caption(QString(), MenuStyle::Text::caption, false);
  {
    QPalette colors = loginError_->palette();
    colors.setColor(QPalette::WindowText, MenuStyle::error(colors));
    loginError_->setPalette(colors);
  }
  rows->addWidget(loginError_);

  language_ = new PickerButton(l10n("language_label"));
  rows->addWidget(settingRow(l10n("language_label"), language_));

  auto* glass = new SliderView(SliderController::glassTransparency(menu_));
  glass->setFixedSize(PickerButton::pickerWidth, static_cast<int>(SliderGeometry::intrinsicHeight));
  glass->setToolTip(l10n("glass_transparency_hint"));
  rows->addWidget(settingRow(l10n("glass_transparency"), glass));

  safety_ = new PickerButton(l10n("safety_minimum_label"));
  rows->addWidget(settingRow(l10n("safety_minimum_label"), safety_));
  rows->addWidget(caption(l10n("safety_description"), MenuStyle::Text::caption2, false));

  increaseShortcut_ = new PickerButton(l10n("increase_max_shortcut"));
  rows->addWidget(settingRow(l10n("increase_max_shortcut"), increaseShortcut_));
  decreaseShortcut_ = new PickerButton(l10n("decrease_max_shortcut"));
  rows->addWidget(settingRow(l10n("decrease_max_shortcut"), decreaseShortcut_));
  rows->addWidget(caption(l10n("restore_hint"), MenuStyle::Text::caption2));
  restoreUnavailable_ = caption(l10n("restore_shortcut_unavailable"), MenuStyle::Text::caption2, false);
  {
    QPalette colors = restoreUnavailable_->palette();
    colors.setColor(QPalette::WindowText, MenuStyle::warning(colors));
    restoreUnavailable_->setPalette(colors);
  }
  rows->addWidget(restoreUnavailable_);
  shortcutsHint_ = caption(l10n("shortcuts_unavailable_use_dbus"), MenuStyle::Text::caption2);
  shortcutsHint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  rows->addWidget(shortcutsHint_);

  fade_ = new PickerButton(l10n("fade_label"));
  rows->addWidget(settingRow(l10n("fade_label"), fade_));
  frameRate_ = new PickerButton(l10n("fps_label"));
  rows->addWidget(settingRow(l10n("fps_label"), frameRate_));
  curve_ = new PickerButton(l10n("curve_label"));
  rows->addWidget(settingRow(l10n("curve_label"), curve_));

  const auto actionRow = [&](const char* titleKey, const char* buttonKey, const char* tooltipKey, auto action) {
    auto* button = new ActionButton(l10n(buttonKey));
    button->setFixedSize(PickerButton::pickerWidth, PickerButton::pickerHeight);
    button->setToolTip(l10n(tooltipKey));
    connect(button, &QPushButton::clicked, this, action);
    rows->addWidget(settingRow(l10n(titleKey), button));
    return button;
  };
  actionRow("config_file", "open_file", "show_config_in_finder", [&maintenance] { maintenance.showConfiguration(); });
  actionRow("reset_settings_label", "reset_settings", "reset_settings_hint",
            [&maintenance] { maintenance.requestResetConfirmation(); });
  actionRow("uninstall_label", "uninstall_prepare", "uninstall_prepare_hint",
            [&maintenance] { maintenance.requestUninstallPreparation(); });
  diagnostics_ = actionRow("ddc_log", "diagnostics_start", "diagnostics_hint",
                           [&maintenance] { maintenance.toggleDiagnostics(); });
  diagnostics_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(diagnostics_, &QWidget::customContextMenuRequested, this, [this, &maintenance](const QPoint& at) {
    QMenu menu(diagnostics_);
    QAction* show = menu.addAction(l10n("diagnostics_show"));
    show->setEnabled(maintenance.canRevealCaptureFile());
    if (menu.exec(diagnostics_->mapToGlobal(at)) == show) maintenance.revealCaptureFile();
  });

  auto* version = new QWidget;
  auto* versionRow = new QHBoxLayout(version);
  versionRow->setContentsMargins(0, 0, 0, 0);
  versionRow->setSpacing(6);
  auto* versionText = caption(qt(MaintenanceActions::versionText()), MenuStyle::Text::caption2, false);
  versionText->setWordWrap(false);
  versionText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  versionRow->addWidget(versionText);
  auto* copy = new ActionButton(l10n("copy_build_number"));
  connect(copy, &QPushButton::clicked, this, [&maintenance] { maintenance.copyBuildNumber(); });
  versionRow->addWidget(copy);
  rows->addWidget(settingRow(l10n("build_number_label"), version));
}

void MenuBody::refresh() {
  auto& engine = menu_.engine();
  master_->setDisabled(!menu_.masterControlEnabled());
  masterRow_->setToolTip(qt(menu_.masterControlTooltip()));
  master_->setToolTip(masterRow_->toolTip());

  showState(mediaSwitch_, menu_.stepStore().pauseDuringMediaPlayback.get());
  const auto mediaUnavailable = menu_.mediaDetectionUnavailableText();
  mediaSwitch_->setEnabled(!mediaUnavailable);
  mediaUnavailable_->setVisible(mediaUnavailable.has_value());
  if (mediaUnavailable) setPhraseWrappedText(mediaUnavailable_, qt(*mediaUnavailable));
  MenuPicker pause{menu_.pauseButtonLabel(), {}, std::nullopt, nullptr};
  const bool resume = menu_.pauseMenuShowsResume();
  if (resume) pause.labels.push_back(L10n::text("resume_dimming"));
  for (const auto& label : menu_.pauseDurationLabels()) pause.labels.push_back(label);
  pause.choose = [this, resume](std::size_t index) {
    if (resume && index == 0) return menu_.resumeDimming();
    menu_.choosePauseDuration(index - (resume ? 1 : 0));
  };
  pausePicker_->setPicker(std::move(pause), resume ? std::optional<std::size_t>(0) : std::nullopt);
  const auto resumeAt = menu_.resumeAtText();
  resumeAt_->setVisible(resumeAt.has_value());
  if (resumeAt) resumeAt_->setText(qt(*resumeAt));
  const auto idleTimeUnavailable = menu_.idleTimeUnavailableText();
  idleTimeUnavailable_->setVisible(idleTimeUnavailable.has_value());
  if (idleTimeUnavailable) idleTimeUnavailable_->setText(qt(*idleTimeUnavailable));
  idleCounter_->setText(qt(MenuLabels::idleCounterText(engine.idleCounter.seconds.get())));

  refreshDisplays();
  refreshSteps();
  refreshAdvanced();
  layoutChanged.emit();
}

void MenuBody::refreshDisplays() {
  const auto& displays = menu_.displayStore().displays.get();
  std::vector<DisplayID> ids;
  for (const auto& display : displays) ids.push_back(display.displayID);
  if (ids != shownDisplayIDs_) rebuildDisplayCards();
  displays_.header->setCount(menu_.displayCount());
  displays_.header->setExpanded(menu_.isDisplaysOpen(), qt(MenuLabels::sectionStateText(menu_.isDisplaysOpen())));
  displays_.children->setVisible(menu_.isDisplaysOpen());
  noDisplay_->setVisible(displays.empty());
  auto& desktopDimming = menu_.desktopDimming();
  const auto notice = desktopDimming.noticeText();
  desktopDimming_->setVisible(notice.has_value());
  if (notice) {
    setPhraseWrappedText(desktopDimmingText_, qt(*notice));
    desktopDimmingAction_->setText(qt(desktopDimming.turnOffLabel()));
    desktopDimmingAction_->setAccessibleDescription(qt(*notice));
  }
  const auto turnedOff = desktopDimming.turnedOffText();
  desktopDimmingOff_->setVisible(turnedOff.has_value());
  if (turnedOff) setPhraseWrappedText(desktopDimmingOff_, qt(*turnedOff));
  const auto& failure = desktopDimming.error();
  desktopDimmingError_->setVisible(failure.has_value());
  if (failure) desktopDimmingError_->setText(qt(*failure));
  for (std::size_t i = 0; i < displayCards_.size() && i < displays.size(); ++i) {
    auto& card = displayCards_[i];
    setPhraseWrappedText(card.name, qt(displays[i].name));
    card.selected->setAccessibleName(qt(displays[i].name));
    showState(card.selected, menu_.isDisplaySelected(card.id));
    showState(card.fullGamma, menu_.displayUsesFullGammaMode(card.id));
    const auto gammaUnavailable = menu_.displayGammaUnavailableText(card.id);
    const std::string status = menu_.displayControlStatusText(card.id);
    card.fullGamma->setEnabled(!gammaUnavailable);
    // A gamma-only display's status already is the reason: said once.
    card.gammaUnavailable->setVisible(gammaUnavailable.has_value() && *gammaUnavailable != status);
    if (gammaUnavailable) card.gammaUnavailable->setText(qt(*gammaUnavailable));
    card.status->setText(qt(status));
  }
}

void MenuBody::rebuildDisplayCards() {
  for (auto& card : displayCards_) delete card.card;
  displayCards_.clear();
  shownDisplayIDs_.clear();
  for (const auto& display : menu_.displayStore().displays.get()) {
    const DisplayID id = display.displayID;
    auto* card = new Tile(12, 0.45, false);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    auto* name = caption(qt(display.name), MenuStyle::Text::subheadline, false);
    name->setFont(MenuStyle::font(MenuStyle::Text::subheadline, QFont::Medium));
    auto* selected = new SwitchButton(qt(display.name));
    connect(selected, &QCheckBox::toggled, this, [this, id](bool on) { menu_.setDisplaySelected(id, on); });
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(name, 1);
    nameRow->addWidget(selected, 0, Qt::AlignTop);
    layout->addLayout(nameRow);
    auto* fullGamma = new SwitchButton(l10n("full_gamma_mode"));
    connect(fullGamma, &QCheckBox::toggled, this, [this, id](bool on) { menu_.setDisplayUsesFullGammaMode(id, on); });
    auto* gammaRow = new QHBoxLayout;
    gammaRow->addWidget(caption(l10n("full_gamma_mode"), MenuStyle::Text::subheadline, false), 1);
    gammaRow->addWidget(fullGamma);
    layout->addLayout(gammaRow);
    auto* gammaUnavailable = caption(QString(), MenuStyle::Text::caption2);
    layout->addWidget(gammaUnavailable);
    auto* status = caption(QString(), MenuStyle::Text::caption2);
    layout->addWidget(status);
    auto* range = new RangeView(std::make_unique<DisplayRangeController>(menu_, id));
    range->setAccessibleName(qt(display.name));
    layout->addWidget(range);
    displays_.childLayout->addWidget(card);
    displayCards_.push_back({id, card, name, selected, fullGamma, gammaUnavailable, status});
    shownDisplayIDs_.push_back(id);
  }
  rowsRebuilt.emit();
}

void MenuBody::refreshSteps() {
  const auto& steps = menu_.stepStore().steps();
  std::vector<Uuid> ids;
  for (const auto& step : steps) ids.push_back(step.id);
  if (ids != shownStepIDs_) rebuildStepRows();
  steps_.header->setCount(steps.size());
  steps_.header->setExpanded(menu_.isStepsOpen(), qt(MenuLabels::sectionStateText(menu_.isStepsOpen())));
  steps_.children->setVisible(menu_.isStepsOpen());
  for (std::size_t i = 0; i < stepRows_.size() && i < steps.size(); ++i) {
    auto& row = stepRows_[i];
    // Never overwrite what the user is typing.
    if (!row.seconds->hasFocus()) {
      const QSignalBlocker quiet(row.seconds);
      row.seconds->setValue(static_cast<int>(std::lround(steps[i].idleSeconds)));
    }
    row.seconds->setEnabled(menu_.isStepEditable(row.id));
    row.remove->setEnabled(menu_.canRemoveStep(row.id));
    // Four rows of the same controls: each says which step it is.
    const QString name = qt(menu_.stepRowName(row.id));
    row.row->setAccessibleName(name);
    for (QWidget* control : {static_cast<QWidget*>(row.seconds), static_cast<QWidget*>(row.brightness),
                             static_cast<QWidget*>(row.remove)})
      control->setAccessibleDescription(name);
  }
}

void MenuBody::rebuildStepRows() {
  auto* layout = stepRowsBox_->layout();
  while (auto* item = layout->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  stepRows_.clear();
  shownStepIDs_.clear();
  for (const auto& step : menu_.stepStore().steps()) {
    const Uuid id = step.id;
    auto* time = new QWidget;
    time->setMinimumWidth(78);
    auto* timeRow = new QHBoxLayout(time);
    timeRow->setContentsMargins(0, 0, 0, 0);
    timeRow->setSpacing(4);
    auto* after = caption(l10n("time_label"), MenuStyle::Text::caption, false);
    after->setWordWrap(false);
    timeRow->addWidget(after);
    auto* seconds = new SecondsField;
    seconds->setButtonSymbols(QAbstractSpinBox::NoButtons);
    seconds->setRange(0, 86400);
    seconds->setFixedWidth(44);
    seconds->setAlignment(Qt::AlignRight);
    seconds->setFont(MenuStyle::font(MenuStyle::Text::caption));
    seconds->setAccessibleName(l10n("time_label") + " (" + l10n("seconds_after_suffix") + ")");
    seconds->setValue(static_cast<int>(std::lround(step.idleSeconds)));
    connect(seconds, qOverload<int>(&QSpinBox::valueChanged), this,
            [this, id](int value) { menu_.setStepIdleSeconds(id, value); });
    connect(seconds, &QSpinBox::editingFinished, this, [this] { menu_.submitStepIdleSeconds(); });
    timeRow->addWidget(seconds);
    auto* suffix = caption(l10n("seconds_after_suffix"), MenuStyle::Text::caption, false);
    suffix->setWordWrap(false);
    timeRow->addWidget(suffix);
    timeRow->addStretch();
    auto* slider = new SliderView(SliderController::stepBrightness(menu_, id));
    auto* remove = new QToolButton;
    remove->setAutoRaise(true);
    remove->setFixedSize(20, 25);
    remove->setStyleSheet(MenuStyle::iconButtonStyleSheet());
    remove->setToolTip(l10n("remove_step"));
    remove->setAccessibleName(l10n("remove_step"));
    remove->setCursor(Qt::PointingHandCursor);
    QIcon trash;
    trash.addPixmap(Symbols::pixmap("trash", MenuStyle::secondaryLabel(palette()), 15, 2), QIcon::Normal);
    trash.addPixmap(Symbols::pixmap("trash", MenuStyle::withOpacity(MenuStyle::secondaryLabel(palette()), 0.35), 15, 2),
                    QIcon::Disabled);
    remove->setIcon(trash);
    remove->setIconSize({15, 15});
    connect(remove, &QToolButton::clicked, this, [this, id] { menu_.removeStep(id); });
    auto* row = new StepRowTile(time, slider, remove, [this] { rowsRebuilt.emit(); });
    MenuAccessibility::markAsGroup(row);
    layout->addWidget(row);
    stepRows_.push_back({id, row, seconds, slider, remove});
    shownStepIDs_.push_back(id);
  }
  rowsRebuilt.emit();
}

void MenuBody::refreshAdvanced() {
  advanced_.header->setExpanded(menu_.isAdvancedSettingsOpen(),
                                qt(MenuLabels::sectionStateText(menu_.isAdvancedSettingsOpen())));
  advanced_.children->setVisible(menu_.isAdvancedSettingsOpen());
  auto& login = menu_.loginLaunch();
  showState(loginSwitch_, login.enabled.get());
  loginError_->setVisible(login.error.get().has_value());
  if (login.error.get()) loginError_->setText(qt(*login.error.get()));
  language_->setPicker(menu_.languagePicker());
  safety_->setPicker(menu_.safetyMinimumPicker());
  increaseShortcut_->setPicker(menu_.increaseMaxShortcutPicker());
  decreaseShortcut_->setPicker(menu_.decreaseMaxShortcutPicker());
  restoreUnavailable_->setVisible(menu_.showsRestoreShortcutUnavailable());
  const auto shortcutsHint = menu_.shortcutsUnavailableHint();
  shortcutsHint_->setVisible(shortcutsHint.has_value());
  if (shortcutsHint) shortcutsHint_->setText(qt(*shortcutsHint));
  fade_->setPicker(menu_.fadeDurationPicker());
  frameRate_->setPicker(menu_.frameRatePicker());
  curve_->setPicker(menu_.fadeCurvePicker());
  diagnostics_->setText(qt(menu_.maintenance().diagnosticsButtonLabel()));
}
