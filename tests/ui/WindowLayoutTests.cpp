// SPDX-License-Identifier: GPL-3.0-or-later
// What the window shows in English and Japanese: cards and pickers whose
// texts read in full, heights that follow the content both ways, glass,
// screen-reader names, and the window's place among the desktop's windows.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>

#include "WindowTestSupport.hpp"
#include "menu/MenuLabels.hpp"
#include "ui/ConfirmationOverlay.hpp"
#include "ui/MenuStyle.hpp"
#include "ui/PhraseWrapping.hpp"

// Xlib last: its macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {
constexpr AppLanguage::Case languages[] = {AppLanguage::en, AppLanguage::ja};

ConfirmationOverlay* overlayOf(QWidget* window) {
  for (auto* widget : window->findChildren<QWidget*>())
    if (auto* overlay = dynamic_cast<ConfirmationOverlay*>(widget)) return overlay;
  return nullptr;
}
}  // namespace

TEST_F(WindowTest, EveryCardShowsItsWholeMessageAndButtonsInBothLanguages) {
  open();
  auto* overlay = overlayOf(window.get());
  ASSERT_NE(overlay, nullptr);
  for (const auto language : languages) {
    stepStore->language = language;
    settle();
    const std::function<void()> cards[] = {
        [&] { menu->maintenance().requestResetConfirmation(); },
        [&] { menu->maintenance().requestUninstallPreparation(); },
        [&] {
          fileManager.refuse = true;
          menu->maintenance().showConfiguration();
        },
    };
    for (const auto& show : cards) {
      show();
      settle();
      ASSERT_TRUE(overlay->isVisible());
      const std::string what = overlay->card()->title;
      QWidget* panel = nullptr;
      for (auto* label : overlay->findChildren<QLabel*>()) {
        if (!label->isVisible()) continue;
        panel = label->parentWidget();
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << what << ": " << label->text().toStdString();
        EXPECT_TRUE(panel->rect().contains(label->geometry())) << what;
      }
      ASSERT_NE(panel, nullptr);
      EXPECT_TRUE(window->rect().contains(QRect(panel->mapTo(window.get(), QPoint(0, 0)), panel->size()))) << what;
      const auto buttons = overlay->findChildren<QPushButton*>();
      ASSERT_EQ(buttons.size(), overlay->card()->buttons.size());
      for (const auto* button : buttons) {
        EXPECT_GE(button->width(), button->sizeHint().width()) << what << ": " << button->text().toStdString();
        EXPECT_TRUE(panel->rect().contains(button->geometry())) << what;
      }
      QAccessibleInterface* card = QAccessible::queryAccessibleInterface(overlay);
      EXPECT_EQ(card->role(), overlay->card()->reportsFailure() ? QAccessible::AlertMessage : QAccessible::Dialog);
      EXPECT_EQ(card->text(QAccessible::Name).toStdString(), what);
      EXPECT_EQ(card->text(QAccessible::Description).toStdString(), overlay->card()->message);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      settle();
      fileManager.refuse = false;
    }
    // Three choices never fit side by side in 246 pixels: they stand one above the other.
    menu->maintenance().requestUninstallPreparation();
    settle();
    EXPECT_TRUE(overlay->buttonsStacked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    settle();
  }
}

TEST_F(WindowTest, OpeningAndClosingASectionGrowsAndShrinksTheWindow) {
  open();
  const int closed = window->height();
  for (const char* title : {"displays", "steps_title", "advanced_settings"}) {
    auto* header = named<SectionHeader>(text(title));
    QTest::mouseClick(header, Qt::LeftButton);
    settle();
    EXPECT_GT(window->height(), closed) << title;
    QTest::mouseClick(header, Qt::LeftButton);
    settle();
    EXPECT_EQ(window->height(), closed) << title << " closed again leaves no blank space";
  }
}

TEST_F(WindowTest, PickerFacesAndStepSlidersHaveTheirRoomInBothLanguages) {
  open();
  openSection("steps_title");
  openSection("advanced_settings");
  for (const auto language : languages) {
    stepStore->language = language;
    settle();
    for (const auto key : MenuLabels::shortcutOptions) {
      stepStore->increaseMaxShortcutKey = std::string(key);
      stepStore->decreaseMaxShortcutKey = std::string(key == "brightness_up" ? "brightness_down" : "brightness_up");
      settle();
      for (const auto* picker : all<PickerButton>()) {
        EXPECT_TRUE(picker->faceTextFits()) << picker->faceText().toStdString();
        EXPECT_TRUE(picker->toolTip().isEmpty()) << picker->faceText().toStdString();
        EXPECT_GE(picker->height(), picker->faceLineCount() * 14) << picker->faceText().toStdString();
      }
    }
    // Each step's slider keeps a track long enough to set a level.
    for (auto* slider : all<SliderView>()) {
      if (slider->accessibleName() != text("dim_label")) continue;
      EXPECT_GE(slider->controller().geometry(slider->width()).trackWidth(), 60) << int(language);
    }
  }
}

TEST_F(WindowTest, JapanesePhrasesStayWholeWhenALineBreaks) {
  const auto lines = [](const QString& text, int width) {
    QLabel label;
    setPhraseWrappedText(&label, text);
    label.setWordWrap(true);
    label.setFont(MenuStyle::font(MenuStyle::Text::subheadline));
    QStringList shown;
    QTextLayout layout(label.text(), label.font());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      shown << label.text().mid(line.textStart(), line.textLength()).remove(QChar(0x2060));
    }
    layout.endLayout();
    EXPECT_EQ(label.accessibleName(), text) << "readers get the text itself";
    return shown;
  };
  EXPECT_EQ(lines("ウィンドウの透明度", 100), (QStringList{"ウィンドウの", "透明度"}));
  EXPECT_EQ(lines("明るくするショートカット", 100), (QStringList{"明るくする", "ショートカット"}));
  EXPECT_EQ(keepPhrasesTogether("Window transparency"), "Window transparency");
  // A phrase longer than any line still breaks rather than running out of the window.
  EXPECT_GT(lines("ディスプレイディスプレイディスプレイ", 60).size(), 2);
}

TEST_F(WindowTest, StepRowsAndSlidersTellAScreenReaderWhichStepAndWhatValue) {
  open();
  openSection("steps_title");
  for (const auto language : languages) {
    stepStore->language = language;
    settle();
    const auto& steps = stepStore->steps();
    std::vector<QString> names;
    for (auto* widget : window->findChildren<QWidget*>()) {
      if (dynamic_cast<RangeView*>(widget)) continue;  // a group of its two handles
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
      if (accessible && accessible->role() == QAccessible::Grouping && !widget->accessibleName().isEmpty())
        names.push_back(accessible->text(QAccessible::Name));
    }
    ASSERT_EQ(names.size(), steps.size());
    EXPECT_EQ(names[1].toStdString(), MenuLabels::stepRowName(2, steps[1].idleSeconds));
    EXPECT_EQ(names[1], language == AppLanguage::ja ? QString("ステップ 2（%1 秒後）").arg(steps[1].idleSeconds)
                                                    : QString("Step 2, after %1 s").arg(steps[1].idleSeconds));
  }
  SliderView* step = nullptr;
  for (auto* slider : all<SliderView>())
    if (slider->accessibleName() == text("dim_label")) step = slider;
  QAccessibleValueInterface* value = QAccessible::queryAccessibleInterface(step)->valueInterface();
  EXPECT_EQ(value->minimumStepSize().toDouble(), 1);
  value->setCurrentValue(33);
  settle();
  EXPECT_EQ(stepStore->steps().back().brightnessPercent, 33);
  EXPECT_EQ(step->accessibleDescription().toStdString(), menu->stepRowName(stepStore->steps().back().id));
}

TEST_F(WindowTest, ABodyTallerThanTheScreenScrollsTheWindowStaysOnItAndALanguageSwitchKeepsThePlace) {
  open();
  for (int i = 0; i < 12; ++i) stepStore->add();
  openSection("steps_title");
  openSection("advanced_settings");
  openSection("displays");
  settle();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(menu->heights().scrollingEnabled());
  EXPECT_LE(window->geometry().bottom(), area.bottom() - 12);
  EXPECT_GE(window->geometry().top(), area.top());
  auto* scroll = window->findChild<QScrollArea*>();
  ASSERT_NE(scroll, nullptr);
  EXPECT_EQ(scroll->height(), static_cast<int>(std::ceil(menu->heights().scrollHeight())));

  ASSERT_GT(scroll->verticalScrollBar()->maximum(), 200);
  scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() - 50);
  const int before = scroll->verticalScrollBar()->value();
  stepStore->language = AppLanguage::ja;
  settle();
  settle();
  scroll = window->findChild<QScrollArea*>();
  EXPECT_NEAR(scroll->verticalScrollBar()->value(), before, 60);
}

TEST_F(WindowTest, WithoutMediaDetectionTheMediaSwitchIsOfferedNoMore) {
  open();
  auto* media = named<SwitchButton>(text("pause_during_media_playback"));
  ASSERT_NE(media, nullptr);
  EXPECT_TRUE(media->isEnabled());
  window.reset();
  desktopHasInhibitors = false;
  open();
  media = named<SwitchButton>(text("pause_during_media_playback"));
  ASSERT_NE(media, nullptr);
  EXPECT_FALSE(media->isEnabled());
  EXPECT_GE(labelsShowing(text("media_detection_unavailable")), 1);
}

TEST_F(WindowTest, TheWindowStaysOutOfTaskbarsAndPagers) {
  open();
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  ASSERT_NE(x11, nullptr);
  Display* display = x11->display();
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(display, static_cast<Window>(window->winId()), XInternAtom(display, "_NET_WM_STATE", False),
                               0, 64, False, XA_ATOM, &type, &format, &count, &remaining, &data),
            Success);
  std::set<std::string> states;
  for (unsigned long i = 0; i < count; ++i) {
    char* name = XGetAtomName(display, reinterpret_cast<Atom*>(data)[i]);
    states.insert(name);
    XFree(name);
  }
  if (data) XFree(data);
  EXPECT_TRUE(states.contains("_NET_WM_STATE_SKIP_TASKBAR"));
  EXPECT_TRUE(states.contains("_NET_WM_STATE_SKIP_PAGER"));
}
