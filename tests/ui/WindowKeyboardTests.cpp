// SPDX-License-Identifier: GPL-3.0-or-later
// The window from the keyboard alone: where the focus starts, the order Tab
// follows, and the controls that take arrows, Page Up/Down, Home and End.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QScrollArea>

#include <QAbstractItemView>

#include "WindowTestSupport.hpp"
#include "ui/MenuBody.hpp"

namespace {
// One Tab stop: a control, and for a range editor which of its handles.
struct Stop {
  QWidget* widget;
  std::optional<bool> minimumHandle;
  bool operator==(const Stop&) const = default;
};

Stop focusedStop() {
  QWidget* focused = QApplication::focusWidget();
  if (auto* range = dynamic_cast<RangeView*>(focused)) return {range, range->keyboardMovesMinimum()};
  return {focused, std::nullopt};
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}
}  // namespace

class WindowKeyboardTest : public WindowTest {
 protected:
  void openActive() {
    open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    settle();
  }
  // Tabs on until `found` holds for the focused stop; false after a whole round without it.
  template <typename Found>
  bool tabTo(Found found) {
    for (int i = 0; i < 150; ++i) {
      press(Qt::Key_Tab);
      settle();
      if (found(focusedStop())) return true;
    }
    return false;
  }
  // Where a stop stands: which part of the window (header, scrolled body,
  // footer) and its rectangle there, as if the body were not scrolled.
  std::pair<int, QRect> place(const Stop& stop) const {
    QWidget* body = window->body();
    QRect box(QPoint(0, 0), stop.widget->size());
    if (auto* range = dynamic_cast<RangeView*>(stop.widget)) {
      const auto handle = range->controller().geometry(range->width()).handleRect(
          *stop.minimumHandle ? range->controller().minimum() : range->controller().maximum());
      box = QRect(int(handle.x), int(handle.y), int(handle.width), int(handle.height));
    }
    if (body->isAncestorOf(stop.widget)) return {1, box.translated(stop.widget->mapTo(body, QPoint(0, 0)))};
    const QRect inWindow = box.translated(stop.widget->mapTo(window.get(), QPoint(0, 0)));
    const auto* scroll = window->findChild<QScrollArea*>();
    return {inWindow.top() < scroll->geometry().top() ? 0 : 2, inWindow};
  }
};

TEST_F(WindowKeyboardTest, OpeningFocusesTheFirstControlBelowTheHeaderSpaceQuitsNothingAndTheQuitButtonShowsItsFocus) {
  openActive();
  auto* focused = QApplication::focusWidget();
  ASSERT_NE(focused, nullptr);
  EXPECT_EQ(focused->accessibleName(), text("everyday_brightness"));
  press(Qt::Key_Space);
  settle();
  EXPECT_EQ(application.quitRequests, 0);
  EXPECT_TRUE(window->isVisible());
  // The quit button stays within reach: Shift+Tab, to the header above.
  press(Qt::Key_Tab, Qt::ShiftModifier);
  auto* quit = QApplication::focusWidget();
  EXPECT_EQ(quit->accessibleName(), text("quit_app"));
  // It is the first control on screen, and shows when it has the focus.
  window->setFocus();
  press(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), quit);
  const QImage shownFocused = quit->grab().toImage();
  window->setFocus();
  EXPECT_NE(shownFocused, quit->grab().toImage()) << "a focused quit button looks different from an unfocused one";
}

TEST_F(WindowKeyboardTest, TabWalksEveryControlInScreenOrderAndSetsADisplaysRangeWithKeys) {
  openActive();
  // Each section opened from the keyboard: Tab to its header, Return.
  for (const char* title : {"displays", "steps_title", "advanced_settings"}) {
    ASSERT_TRUE(tabTo([&](const Stop& stop) {
      auto* header = dynamic_cast<SectionHeader*>(stop.widget);
      return header && header->text() == text(title);
    })) << title;
    press(Qt::Key_Return);
    settle();
    EXPECT_TRUE(static_cast<SectionHeader*>(QApplication::focusWidget())->isExpanded()) << title;
  }
  settle();

  // One whole round of Tab from the window itself.
  window->setFocus();
  std::vector<Stop> stops;
  for (int i = 0; i < 200; ++i) {
    press(Qt::Key_Tab);
    settle();
    const Stop stop = focusedStop();
    if (!stops.empty() && stop == stops.front()) break;
    stops.push_back(stop);
  }
  ASSERT_GT(stops.size(), 30u);
  EXPECT_EQ(stops.front().widget->accessibleName(), text("quit_app"));

  // Every control that can take the focus is reached, each range editor twice (one stop per handle).
  std::set<QWidget*> expected, reached;
  for (auto* widget : window->findChildren<QWidget*>())
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(window.get()) && widget->isEnabled() &&
        !widget->focusProxy())
      expected.insert(widget);
  for (const auto& stop : stops) reached.insert(stop.widget);
  EXPECT_EQ(reached, expected);
  EXPECT_EQ(stops.size(), expected.size() + all<RangeView>().size());
  EXPECT_EQ(reached.count(window->findChild<QScrollArea*>()), 0u) << "the scroll area is no stop of its own";

  // Each stop lies below the one before, or beside it to the right on the same line.
  for (std::size_t i = 1; i < stops.size(); ++i) {
    const auto [partBefore, before] = place(stops[i - 1]);
    const auto [part, box] = place(stops[i]);
    const bool below = part > partBefore || (part == partBefore && box.top() >= before.bottom() - 2);
    const bool besideOnTheRight = part == partBefore && box.top() <= before.bottom() && box.bottom() >= before.top() &&
                                  box.left() > before.left();
    EXPECT_TRUE(below || besideOnTheRight)
        << "stop " << i << " (" << stops[i].widget->accessibleName().toStdString() << " at " << box.x() << ","
        << box.y() << ") comes after " << stops[i - 1].widget->accessibleName().toStdString() << " at "
        << before.x() << "," << before.y();
  }

  // A display's range: Tab to its minimum handle, then its maximum, moving each with keys.
  auto* range = all<RangeView>().front();
  const DisplayID id = range->controller().displayID();
  const double lowest = stepStore->safetyMinimumPercent.get();
  window->setFocus();
  ASSERT_TRUE(tabTo([&](const Stop& stop) { return stop.widget == range && *stop.minimumHandle; }));
  press(Qt::Key_End);  // only as far as the maximum
  EXPECT_EQ(stepStore->displayMinimumPercent(id), 100);
  press(Qt::Key_Home);
  EXPECT_EQ(stepStore->displayMinimumPercent(id), lowest);
  press(Qt::Key_PageUp);
  press(Qt::Key_PageUp);
  press(Qt::Key_Right);
  EXPECT_EQ(stepStore->displayMinimumPercent(id), lowest + 21);
  press(Qt::Key_Tab);
  ASSERT_EQ(focusedStop(), (Stop{range, false})) << "Tab moves on to the maximum handle";
  press(Qt::Key_PageDown);
  press(Qt::Key_Down);
  EXPECT_EQ(stepStore->displayMaximumPercent(id), 89);
  press(Qt::Key_Home);  // only as far as the minimum
  EXPECT_EQ(stepStore->displayMaximumPercent(id), lowest + 21);
  press(Qt::Key_End);
  press(Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(focusedStop(), (Stop{range, true})) << "Shift+Tab goes back to the minimum handle";
  settle();
  EXPECT_EQ(stepStore->displayMaximumPercent(id), 100);
  EXPECT_EQ(stepStore->interactiveEditDepth(), 0);
  EXPECT_FALSE(menu->previewingMaster());
}

TEST_F(WindowKeyboardTest, TheMasterSliderTakesPageKeysHomeAndEndAndThePausePopUpItsFirstEntry) {
  openActive();
  ASSERT_TRUE(tabTo([&](const Stop& stop) { return stop.widget->accessibleName() == text("everyday_brightness"); }));
  press(Qt::Key_PageDown);
  settle();
  press(Qt::Key_PageDown);
  settle();
  EXPECT_EQ(stepStore->manualBrightnessPercent, 80);
  press(Qt::Key_End);
  settle();
  EXPECT_EQ(stepStore->manualBrightnessPercent, 100);
  press(Qt::Key_Left);
  settle();
  EXPECT_EQ(stepStore->manualBrightnessPercent, 99);

  // The pause pop-up opened from the keyboard highlights its first entry; Return chooses it.
  ASSERT_TRUE(tabTo([&](const Stop& stop) { return stop.widget->accessibleName() == text("pause_dimming"); }));
  auto* pause = static_cast<PickerButton*>(QApplication::focusWidget());
  press(Qt::Key_Space);
  settle();
  ASSERT_TRUE(pause->view()->isVisible());
  EXPECT_EQ(pause->view()->currentIndex().row(), 0);
  QTest::keyClick(pause->view(), Qt::Key_Return);
  settle();
  EXPECT_TRUE(engine->pauseUntil.get().has_value());
}

