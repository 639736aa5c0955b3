// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "../linux/LinuxTestSupport.hpp"
#include "../menu/MenuTestSupport.hpp"
#include "ui/MenuWindow.hpp"
#include "ui/PickerButton.hpp"
#include "ui/RangeView.hpp"
#include "ui/SectionHeader.hpp"
#include "ui/SliderView.hpp"
#include "ui/SwitchButton.hpp"

// The real window under the private X server, over the real stores and
// engine on the simulated machine: Qt draws and takes the input, the core's
// time is the virtual loop's, so a drag's timing is exact.
class WindowTest : public MenuTest {
 protected:
  void SetUp() override {
    REQUIRE_X_SERVER();
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "test_ui";
      static char* argv[] = {name, nullptr};
      // Kept for the whole run and never destroyed: Qt's own globals are gone by the time statics die.
      static QApplication* application = new QApplication(argc, argv);
      (void)application;
    }
    machine.addExternalMonitor({.id = 1, .productName = "Left", .brightness = 100});
    machine.addExternalMonitor({.id = 2, .productName = "Right", .brightness = 100});
  }
  void TearDown() override { window.reset(); }

  // Opens the window below an icon at the top right of the screen.
  void open(QRect icon = {}) {
    makeMenu();
    window = std::make_unique<MenuWindow>(*menu);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    if (!icon.isValid()) icon = QRect(area.right() - 60, area.top(), 24, 24);
    window->showFrom(icon);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    settle();
  }
  // Lets Qt run what it has queued (refreshes, deferred choices) and the core's due work.
  void settle() {
    for (int i = 0; i < 5; ++i) {
      QCoreApplication::processEvents();
      loop.runPending();
    }
  }
  // By type (not every widget class has its own meta-object, so not findChildren<T>).
  template <typename Widget>
  std::vector<Widget*> all() const {
    std::vector<Widget*> found;
    for (auto* widget : window->findChildren<QWidget*>())
      if (auto* typed = dynamic_cast<Widget*>(widget)) found.push_back(typed);
    return found;
  }
  // The first widget of that type whose accessible name starts with `name`.
  template <typename Widget>
  Widget* named(const QString& name) const {
    for (auto* widget : all<Widget>())
      if (widget->accessibleName().startsWith(name)) return widget;
    return nullptr;
  }
  static QString text(const char* key) { return QString::fromStdString(L10n::text(key)); }
  // The first push button on screen in `parent` (the window when null) with that text.
  QPushButton* button(const char* key, QWidget* parent = nullptr) const {
    for (auto* button : (parent ? parent : window.get())->findChildren<QPushButton*>())
      if (button->text() == text(key) && button->isVisible()) return button;
    return nullptr;
  }
  // How many labels on screen read `shown`, as text or as their accessible name.
  int labelsShowing(const QString& shown) const {
    int count = 0;
    for (auto* label : all<QLabel>())
      count += label->isVisible() && (label->text() == shown || label->accessibleName() == shown);
    return count;
  }
  void openSection(const char* titleKey) {
    auto* header = named<SectionHeader>(text(titleKey));
    ASSERT_NE(header, nullptr) << titleKey;
    if (!header->isExpanded()) QTest::mouseClick(header, Qt::LeftButton);
    settle();
  }

  std::unique_ptr<MenuWindow> window;
};
