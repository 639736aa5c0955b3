// SPDX-License-Identifier: GPL-3.0-or-later
// The window's widgets with the mouse and keys, over the real models.
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

#include "WindowTestSupport.hpp"
#include "menu/MenuLabels.hpp"
#include "ui/ConfirmationOverlay.hpp"
#include "ui/MenuStyle.hpp"

namespace {
// Moves the pointer across `view` from `from` to `to` pixels in `moves` moves, `spacing` virtual seconds apart.
template <typename View>
void dragAcross(View* view, VirtualMainLoop& loop, int from, int to, int moves, double spacing) {
  const int y = view->height() / 2 - (std::is_same_v<View, RangeView> ? 9 : 0);
  QTest::mousePress(view, Qt::LeftButton, {}, QPoint(from, y));
  for (int i = 1; i <= moves; ++i) {
    loop.advance(spacing);
    QTest::mouseMove(view, QPoint(from + (to - from) * i / moves, y));
  }
}
}  // namespace

TEST_F(WindowTest, AStepSliderDragPreviewsAtMostThirtyTimesASecondAndSavesOnceOnRelease) {
  open();
  openSection("steps_title");
  auto sliders = all<SliderView>();
  SliderView* step = nullptr;
  for (auto* slider : sliders)
    if (slider->accessibleName() == text("dim_label")) step = slider;  // the last step's
  ASSERT_NE(step, nullptr);
  const auto lastID = stepStore->steps().back().id;
  int deliveries = 0;
  const auto counting = stepStore->stepBrightnessChanges.connect([&] { ++deliveries; });
  const auto savesBefore = saves();

  // One second of dragging, a move every 1/120 s: the first value arrives at once, then at most 30 a second.
  const auto geometry = step->controller().geometry(step->width());
  const int left = static_cast<int>(geometry.trackRect().x + 2);
  const int right = static_cast<int>(geometry.trackRect().right() - 2);
  QTest::mousePress(step, Qt::LeftButton, {}, QPoint(left, step->height() / 2));
  EXPECT_EQ(deliveries, 1);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 1);
  for (int i = 1; i <= 120; ++i) {
    loop.advance(1.0 / 120);
    QTest::mouseMove(step, QPoint(left + (right - left) * i / 120, step->height() / 2));
  }
  EXPECT_LE(deliveries, 1 + 30 + 1);
  EXPECT_GE(deliveries, 25);
  EXPECT_EQ(saves(), savesBefore) << "nothing is written during the drag";
  QTest::mouseRelease(step, Qt::LeftButton, {}, QPoint(right, step->height() / 2));
  settle();
  EXPECT_EQ(stepStore->steps().back().id, lastID);
  EXPECT_EQ(stepStore->steps().back().brightnessPercent, geometry.valueAt(right));
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_EQ(saves(), savesBefore + 1);
}

TEST_F(WindowTest, TheMasterSliderFollowsThePointerAndTheReadoutFollowsIt) {
  open();
  auto* master = named<SliderView>(text("everyday_brightness"));
  ASSERT_NE(master, nullptr);
  const auto geometry = master->controller().geometry(master->width());
  const int x = static_cast<int>(geometry.trackRect().x + geometry.trackWidth() * 0.4);
  QTest::mouseClick(master, Qt::LeftButton, {}, QPoint(x, master->height() / 2));
  settle();
  EXPECT_EQ(engine->masterPresentation.percent.get(), geometry.valueAt(x));
  auto labels = all<QLabel>();
  const auto readout = std::find_if(labels.begin(), labels.end(),
                                    [&](QLabel* l) { return l->accessibleDescription() == text("everyday_brightness"); });
  ASSERT_NE(readout, labels.end());
  EXPECT_EQ((*readout)->text(), QString::number(geometry.valueAt(x)) + "%");
}

TEST_F(WindowTest, RangeHandlesStopAtEachOtherAReleaseWritesOnceAndClosingEndsADrag) {
  open();
  openSection("displays");
  auto ranges = all<RangeView>();
  ASSERT_EQ(ranges.size(), 2);
  RangeView* range = ranges.front();
  const DisplayID id = range->controller().displayID();
  const auto geometry = range->controller().geometry(range->width());
  const auto savesBefore = saves();
  // The maximum handle down to 60, then the minimum handle dragged past it.
  const int sixty = static_cast<int>(geometry.position(60));
  dragAcross(range, loop, static_cast<int>(geometry.position(100)), sixty, 20, 1.0 / 60);
  EXPECT_TRUE(menu->previewingMaster().has_value());
  QTest::mouseRelease(range, Qt::LeftButton, {}, QPoint(sixty, 10));
  settle();
  EXPECT_EQ(stepStore->displayMaximumPercent(id), 60);
  EXPECT_EQ(saves(), savesBefore + 1);
  const int left = static_cast<int>(geometry.position(stepStore->displayMinimumPercent(id)));
  dragAcross(range, loop, left, range->width() - 2, 20, 1.0 / 60);
  QTest::mouseRelease(range, Qt::LeftButton, {}, QPoint(range->width() - 2, 10));
  settle();
  EXPECT_EQ(stepStore->displayMinimumPercent(id), 60) << "the minimum stops at the maximum";
  EXPECT_EQ(saves(), savesBefore + 2);
  EXPECT_FALSE(menu->previewingMaster().has_value());

  // Escape closes the window mid-drag: the preview and the edit end with it.
  dragAcross(range, loop, static_cast<int>(geometry.position(100)), static_cast<int>(geometry.position(70)), 5, 0.05);
  ASSERT_EQ(stepStore->interactiveEditDepth(), 1);
  QTest::keyClick(window.get(), Qt::Key_Escape);
  settle();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_FALSE(menu->previewingMaster().has_value());
  EXPECT_FALSE(engine->menuIsVisible());
}

TEST_F(WindowTest, PickersChangeTheStoreShowTheChoiceAndLeaveNoHoverBehind) {
  open();
  openSection("advanced_settings");
  auto* fade = named<PickerButton>(text("fade_label"));
  auto* frameRate = named<PickerButton>(text("fps_label"));
  ASSERT_TRUE(fade && frameRate);
  EXPECT_EQ(fade->size(), QSize(140, 28));
  const auto savesBefore = saves();
  fade->setFocus();
  QTest::keyClick(fade, Qt::Key_Down);  // 6 s -> 10 s
  settle();
  EXPECT_EQ(stepStore->fadeDurationSeconds.get(), 10);
  EXPECT_EQ(fade->faceText(), QString::fromStdString(MenuLabels::fadeDurationLabel(10)));
  EXPECT_EQ(saves(), savesBefore + 1);
  frameRate->setFocus();
  QTest::keyClick(frameRate, Qt::Key_Down);  // 24 -> 30
  settle();
  EXPECT_EQ(stepStore->frameRate.get(), 30);
  // Every option is listed, the chosen one is the combo's current item.
  EXPECT_EQ(frameRate->count(), 3);
  EXPECT_EQ(frameRate->currentText(), "30");

  // A closed pop-up leaves no hover behind.
  window->findChild<QScrollArea*>()->ensureWidgetVisible(fade);
  settle();
  // The X server tells of the pointer's arrival when it gets round to it: a busy one takes a while.
  QCursor::setPos(fade->mapToGlobal(fade->rect().center()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return MenuStyle::pointerIsOver(fade); }, 5000));
  fade->showPopup();
  settle();
  QCursor::setPos(window->mapToGlobal(QPoint(5, 5)));
  fade->hidePopup();
  settle();
  EXPECT_FALSE(MenuStyle::pointerIsOver(fade)) << "the pointer left while the pop-up had it";
}

TEST_F(WindowTest, TheResetCardCoversTheWindowEscapeCancelsItAndAFailedShowSaysSo) {
  open();
  openSection("advanced_settings");
  stepStore->fadeDurationSeconds = 2;
  settle();
  auto* reset = button("reset_settings");
  ASSERT_NE(reset, nullptr);
  QTest::mouseClick(reset, Qt::LeftButton);
  settle();
  auto* overlay = all<ConfirmationOverlay>().front();
  ASSERT_TRUE(overlay && overlay->isVisible());
  EXPECT_EQ(overlay->geometry(), window->rect());
  EXPECT_EQ(overlay->card()->title, L10n::text("reset_confirm_title"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  settle();
  EXPECT_FALSE(overlay->isVisible());
  EXPECT_TRUE(window->isVisible()) << "Escape dismisses the card, not the window";
  EXPECT_EQ(stepStore->fadeDurationSeconds.get(), 2);

  QTest::mouseClick(reset, Qt::LeftButton);
  settle();
  auto* confirm = button("reset_settings", overlay);
  ASSERT_NE(confirm, nullptr);
  QTest::mouseClick(confirm, Qt::LeftButton);
  settle();
  EXPECT_FALSE(overlay->isVisible());
  EXPECT_EQ(stepStore->fadeDurationSeconds.get(), 6);

  // Showing the settings file with nothing to show it: a card says so, naming the file; Return is its OK.
  fileManager.refuse = true;
  openSection("advanced_settings");  // a reset closes the sections
  ASSERT_NE(button("open_file"), nullptr);
  QTest::mouseClick(button("open_file"), Qt::LeftButton);
  settle();
  ASSERT_TRUE(overlay->isVisible());
  EXPECT_EQ(overlay->card()->title, L10n::text("action_failed_title"));
  EXPECT_NE(overlay->card()->message.find(stepStore->configURL().string()), std::string::npos);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  settle();
  EXPECT_FALSE(overlay->isVisible());
}

TEST_F(WindowTest, TheWindowDropsBelowATopIconAndRisesAboveABottomOne) {
  makeMenu();
  window = std::make_unique<MenuWindow>(*menu);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect top(area.right() - 30, area.top(), 24, 24);
  window->showFrom(top);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  settle();
  EXPECT_EQ(window->width(), MenuWindow::windowWidth);
  EXPECT_EQ(window->geometry().top(), top.bottom() + 1 + 4);
  EXPECT_LE(window->geometry().right(), area.right()) << "never off the screen";
  window->hide();
  settle();

  const QRect bottom(area.left() + 10, area.bottom() - 23, 24, 24);
  window->showFrom(bottom);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  settle();
  EXPECT_EQ(window->geometry().bottom(), bottom.top() - 1 - 4);
  EXPECT_GE(window->geometry().left(), area.left());
  EXPECT_GE(window->geometry().top(), area.top());
}

TEST_F(WindowTest, TheDisplaysSayWhatTheyLackAndASwitchedOffDisplayIsLeftAlone) {
  machine.addExternalMonitor({.id = 3, .productName = "Plain", .brightness = 100, .gammaSize = 0});
  open();
  openSection("displays");
  std::vector<SwitchButton*> gammaSwitches;
  for (auto* button : all<SwitchButton>())
    if (button->accessibleName().startsWith(text("full_gamma_mode"))) gammaSwitches.push_back(button);
  ASSERT_EQ(gammaSwitches.size(), 3u);
  std::vector<SwitchButton*> disabled;
  for (auto* button : gammaSwitches)
    if (!button->isEnabled()) disabled.push_back(button);
  ASSERT_EQ(disabled.size(), 1u) << "only the display without gamma";
  bool inItsCard = false;  // the switch sits in the card that names the display
  for (auto* label : disabled.front()->parentWidget()->findChildren<QLabel*>()) inItsCard |= label->text().contains("Plain");
  EXPECT_TRUE(inItsCard);
  EXPECT_EQ(labelsShowing(text("control_gamma_failed")), 1);

  // The window says so while the desktop reports no idle time.
  EXPECT_EQ(labelsShowing(text("idle_time_unavailable")), 0);
  idle.setFailing(true);
  loop.advance(0.25);
  settle();
  EXPECT_EQ(labelsShowing(text("idle_time_unavailable")), 1);
  idle.setFailing(false);
  loop.advance(0.25);
  settle();
  EXPECT_EQ(labelsShowing(text("idle_time_unavailable")), 0);

  // Switching a display off saves once and leaves it alone.
  auto* right = named<SwitchButton>("Right");
  ASSERT_NE(right, nullptr);
  ASSERT_TRUE(right->isChecked());
  const auto savesBefore = saves();
  QTest::mouseClick(right, Qt::LeftButton);
  settle();
  EXPECT_FALSE(right->isChecked());
  EXPECT_EQ(stepStore->selectedDisplayIDs.get().count(2), 0u);
  EXPECT_EQ(saves(), savesBefore + 1);
  EXPECT_EQ(engine->targetDisplayIDs().count(2), 0u);
}
