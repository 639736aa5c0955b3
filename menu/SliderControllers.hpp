// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Signal.hpp"
#include "base/Uuid.hpp"
#include "menu/SliderGeometry.hpp"
#include "menu/SliderUpdateCoalescer.hpp"

class MenuViewState;

// The keys that move a slider or a range handle: arrows by 1 (the
// pointer's own resolution), Page Up and Down by 10, Home and End to the ends.
enum class SliderKey { stepUp, stepDown, pageUp, pageDown, home, end };
inline constexpr double sliderKeyStep = 1;
inline constexpr double sliderPageStep = 10;
// Where `key` takes a value on a track from `lowest` to `highest`.
double sliderKeyTarget(SliderKey key, double value, double lowest, double highest);

// The input rules of the window's custom single-value slider: a drag from
// mouse down to mouse up, values delivered through a coalescer (or at once),
// accessibility steps of 5. The widget passes pointer x positions and its
// width and draws `value()` with SliderGeometry; `valueChanged` asks it to
// repaint and update its accessibility value. Made by the factories below.
class SliderController {
 public:
  static constexpr double accessibilityStep = 5;

  // The master level: drives the engine's manual brightness.
  static std::unique_ptr<SliderController> master(MenuViewState& menu);
  // One step's brightness: previews it while dragged (the menu brackets the
  // drag in a step preview) and stores it in the step list.
  static std::unique_ptr<SliderController> stepBrightness(MenuViewState& menu, const Uuid& stepID);
  // The glass transparency: every change at once, no engine involved.
  static std::unique_ptr<SliderController> glassTransparency(MenuViewState& menu);

  ~SliderController();
  SliderController(const SliderController&) = delete;
  SliderController& operator=(const SliderController&) = delete;

  double value() const { return value_; }
  bool isEditing() const { return editing_; }
  bool isDisabled() const { return disabled_; }
  void setDisabled(bool disabled);
  bool showsValue() const { return showsValue_; }
  // "dim_label", "everyday_brightness" or "glass_transparency", localized.
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  SliderGeometry geometry(double width) const { return {width, SliderGeometry::intrinsicHeight, showsValue_}; }

  void mouseDown(double x, double width);
  void mouseDragged(double x, double width);
  void mouseUp(double x, double width);
  // A screen reader's steps of 5.
  void increment();
  void decrement();
  // A key press or a reader's new value: one complete change to `value`
  // (whole, within 0...100). Ignored while disabled.
  void moveTo(double value);

  Signal<> valueChanged;

 private:
  struct Actions {
    std::function<void()> begin;
    std::function<void(double)> change;
    std::function<void()> end;
    // Without a change action, an accessibility step goes here instead.
    std::function<void(double)> step;
  };
  SliderController(MainLoop& loop, Actions actions, bool showsValue, bool immediateChanges,
                   std::string accessibilityLabel);
  // A model change while no drag runs.
  void showModelValue(double value);
  // The window closed mid-drag: the last value goes out, the menu ends the edit.
  void abandonDrag();
  bool store(double value);
  void deliver(double value);

  Actions actions_;
  bool showsValue_;
  bool immediateChanges_;
  std::string accessibilityLabel_;
  SliderUpdateCoalescer updates_;
  double value_ = 100;
  bool disabled_ = false;
  bool editing_ = false;
  std::vector<Subscription> subscriptions_;
};

// The input rules of a display's two-handle range editor: the track runs from
// the safety minimum to 100; a press takes the nearer handle; dragging writes
// the display's limit (coalesced) and previews it on the display.
class DisplayRangeController {
 public:
  // Reports each drag's start and end to the menu's display range preview.
  DisplayRangeController(MenuViewState& menu, DisplayID displayID);
  DisplayRangeController(const DisplayRangeController&) = delete;
  DisplayRangeController& operator=(const DisplayRangeController&) = delete;

  DisplayID displayID() const { return displayID_; }
  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  // Which handle is being dragged (true: the minimum); none when idle.
  const std::optional<bool>& editingMinimum() const { return editingMinimum_; }
  RangeGeometry geometry(double width) const;
  std::string minimumCaption() const;
  std::string maximumCaption() const;

  void mouseDown(double x, double width);
  void mouseDragged(double x, double width);
  void mouseUp(double x, double width);
  // Reads both values from the store again.
  void refresh();
  // A screen reader's step of one handle by `delta` (within the track, never
  // past the other handle): a whole drag at once, previewed, then saved.
  void stepHandle(bool minimum, double delta);
  // The same to `value` (a key press, a reader's new value), made whole.
  void moveHandle(bool minimum, double value);

  Signal<> valueChanged;

 private:
  void deliver(bool minimum, double value);
  double storedValue(bool minimum) const;
  // The window closed mid-drag: the menu ends the preview itself.
  void abandonDrag();

  MenuViewState& menu_;
  DisplayID displayID_;
  SliderUpdateCoalescer updates_;
  std::optional<bool> editingMinimum_;
  double minimum_ = 5;
  double maximum_ = 100;
  std::vector<Subscription> subscriptions_;
};
