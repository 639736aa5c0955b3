// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Signal.hpp"
#include "base/Uuid.hpp"

class MenuViewState;
class QLabel;
class QSpinBox;
class QToolButton;
class QVBoxLayout;
class ActionButton;
class PickerButton;
class RangeView;
class SectionHeader;
class SliderView;
class SwitchButton;

// The window's scrolling body: the master level, the pause group and the
// three sections (displays, steps, advanced), every value and text from the
// menu's state. Values are refreshed in place; the display cards and step
// rows are rebuilt only when their lists change, so a drag or a focused
// field is never torn down under the user.
class MenuBody final : public QWidget {
 public:
  MenuBody(MenuViewState& menu, QWidget* parent = nullptr);
  ~MenuBody() override;

  // Brings everything shown up to date now.
  void refresh();
  // On a desktop without a tray: a line at the top saying how to open the window again.
  void showNoTrayHint();
  // Emitted after a refresh or a new layout that may have changed the body's height.
  Signal<> layoutChanged;
  // Emitted when rows were built anew or rearranged: the Tab order needs them.
  Signal<> rowsRebuilt;

 protected:
  bool event(QEvent* event) override;

 private:
  struct Section {
    QWidget* container = nullptr;
    SectionHeader* header = nullptr;
    QWidget* children = nullptr;
    QVBoxLayout* childLayout = nullptr;
  };
  struct DisplayCard {
    DisplayID id;
    QWidget* card;
    QLabel* name;
    SwitchButton* selected;
    SwitchButton* fullGamma;
    QLabel* gammaUnavailable;
    QLabel* status;
  };
  struct StepRow {
    Uuid id;
    QWidget* row;
    QSpinBox* seconds;
    SliderView* brightness;
    QToolButton* remove;
  };

  void scheduleRefresh();
  void observeModels();
  QWidget* buildMasterGroup();
  QWidget* buildPauseGroup();
  Section buildSection(const char* titleKey, const char* symbol, void (MenuBody::*toggle)(bool));
  void buildAdvancedRows();
  void rebuildDisplayCards();
  void rebuildStepRows();
  void refreshDisplays();
  void refreshSteps();
  void refreshAdvanced();
  void setDisplaysOpen(bool open);
  void setStepsOpen(bool open);
  void setAdvancedOpen(bool open);

  MenuViewState& menu_;
  bool refreshScheduled_ = false;

  SliderView* master_ = nullptr;
  QWidget* masterRow_ = nullptr;
  SwitchButton* mediaSwitch_ = nullptr;
  QLabel* mediaUnavailable_ = nullptr;
  PickerButton* pausePicker_ = nullptr;
  QLabel* resumeAt_ = nullptr;
  QLabel* idleTimeUnavailable_ = nullptr;

  Section displays_;
  std::vector<DisplayCard> displayCards_;
  std::vector<DisplayID> shownDisplayIDs_;
  QLabel* noDisplay_ = nullptr;
  // The desktop's own idle dimming: the notice with its action, what Dimmora did, a failure.
  QWidget* desktopDimming_ = nullptr;
  QLabel* desktopDimmingText_ = nullptr;
  ActionButton* desktopDimmingAction_ = nullptr;
  QLabel* desktopDimmingOff_ = nullptr;
  QLabel* desktopDimmingError_ = nullptr;

  Section steps_;
  QLabel* idleCounter_ = nullptr;
  QWidget* stepRowsBox_ = nullptr;
  std::vector<StepRow> stepRows_;
  std::vector<Uuid> shownStepIDs_;

  Section advanced_;
  SwitchButton* loginSwitch_ = nullptr;
  QLabel* loginError_ = nullptr;
  PickerButton* language_ = nullptr;
  PickerButton* safety_ = nullptr;
  PickerButton* increaseShortcut_ = nullptr;
  PickerButton* decreaseShortcut_ = nullptr;
  QLabel* restoreUnavailable_ = nullptr;
  QLabel* shortcutsHint_ = nullptr;
  PickerButton* fade_ = nullptr;
  PickerButton* frameRate_ = nullptr;
  PickerButton* curve_ = nullptr;
  ActionButton* diagnostics_ = nullptr;

  std::vector<Subscription> subscriptions_;
};
