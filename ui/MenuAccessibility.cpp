// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MenuAccessibility.hpp"

#include <QAccessibleWidget>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QPointer>
#include <cmath>
#include <vector>

#include "services/L10n.hpp"
#include "ui/ConfirmationOverlay.hpp"
#include "ui/RangeView.hpp"
#include "ui/SectionHeader.hpp"
#include "ui/SliderView.hpp"

namespace {
class SliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SliderAccessible(SliderView* view) : QAccessibleWidget(view, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return QString::number(std::lround(slider().controller().value()));
    return QAccessibleWidget::text(t);
  }

  QVariant currentValue() const override { return slider().controller().value(); }
  // Any whole value, as the pointer can set it, in one complete change.
  void setCurrentValue(const QVariant& value) override { slider().controller().moveTo(value.toDouble()); }
  QVariant maximumValue() const override { return 100.0; }
  QVariant minimumValue() const override { return 0.0; }
  QVariant minimumStepSize() const override { return sliderKeyStep; }

  QStringList actionNames() const override {
    return {QAccessibleActionInterface::increaseAction(), QAccessibleActionInterface::decreaseAction()};
  }
  void doAction(const QString& name) override {
    if (name == QAccessibleActionInterface::increaseAction()) slider().controller().increment();
    if (name == QAccessibleActionInterface::decreaseAction()) slider().controller().decrement();
  }

 private:
  SliderView& slider() const { return *static_cast<SliderView*>(widget()); }
};

class SectionHeaderAccessible final : public QAccessibleWidget {
 public:
  explicit SectionHeaderAccessible(SectionHeader* header) : QAccessibleWidget(header, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return header().stateText();
    if (t == QAccessible::Name) return header().text();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    auto state = QAccessibleWidget::state();
    state.expandable = true;
    state.expanded = header().isExpanded();
    state.collapsed = !header().isExpanded();
    return state;
  }
  QStringList actionNames() const override { return {QAccessibleActionInterface::pressAction()}; }
  void doAction(const QString& name) override {
    if (name == QAccessibleActionInterface::pressAction()) header().click();
  }

 private:
  SectionHeader& header() const { return *static_cast<SectionHeader*>(widget()); }
};

// One handle of a display's range editor, as a slider of its own ("Min", "Max").
class RangeHandleAccessible final : public QAccessibleInterface,
                                    public QAccessibleValueInterface,
                                    public QAccessibleActionInterface {
 public:
  RangeHandleAccessible(RangeView* view, bool minimum) : view_(view), minimum_(minimum) {}

  bool isValid() const override { return !view_.isNull(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return QString::fromStdString(L10n::text(minimum_ ? "min_label" : "max_label"));
    if (t == QAccessible::Value) return QString::number(std::lround(value()));
    if (t == QAccessible::Description && view_) return view_->accessibleName();
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!view_) return {};
    const auto box = view_->controller().geometry(view_->width()).handleRect(value());
    const QRect local(int(box.x) - 6, int(box.y), int(box.width) + 12, int(box.height));
    return QRect(view_->mapToGlobal(local.topLeft()), local.size());
  }
  QAccessible::Role role() const override { return QAccessible::Slider; }
  QAccessible::State state() const override {
    QAccessible::State state;
    state.focusable = true;
    state.focused = view_ && view_->hasFocus() && view_->keyboardMovesMinimum() == minimum_;
    state.invisible = !view_ || !view_->isVisible();
    state.disabled = !view_ || !view_->isEnabled();
    return state;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
  }

  QVariant currentValue() const override { return value(); }
  void setCurrentValue(const QVariant& target) override {
    if (view_) view_->controller().moveHandle(minimum_, target.toDouble());
  }
  QVariant maximumValue() const override { return 100.0; }
  QVariant minimumValue() const override {
    return view_ ? view_->controller().geometry(view_->width()).lowerBound : 0.0;
  }
  QVariant minimumStepSize() const override { return sliderKeyStep; }

  QStringList actionNames() const override { return {increaseAction(), decreaseAction()}; }
  void doAction(const QString& name) override {
    if (name == increaseAction()) step(1);
    if (name == decreaseAction()) step(-1);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  double value() const {
    if (!view_) return 0;
    return minimum_ ? view_->controller().minimum() : view_->controller().maximum();
  }
  void step(int direction) {
    if (view_) view_->controller().stepHandle(minimum_, direction * SliderController::accessibilityStep);
  }

  QPointer<RangeView> view_;
  bool minimum_;
};

// The range editor: a group of its two handles.
class RangeAccessible final : public QAccessibleWidget {
 public:
  explicit RangeAccessible(RangeView* view) : QAccessibleWidget(view, QAccessible::Grouping) {
    for (const bool minimum : {true, false})
      handles_.push_back(QAccessible::registerAccessibleInterface(new RangeHandleAccessible(view, minimum)));
  }
  ~RangeAccessible() override {
    for (const auto id : handles_) QAccessible::deleteAccessibleInterface(id);
  }
  int childCount() const override { return static_cast<int>(handles_.size()); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    return QAccessible::accessibleInterface(handles_[static_cast<std::size_t>(index)]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (std::size_t i = 0; i < handles_.size(); ++i)
      if (QAccessible::accessibleInterface(handles_[i]) == child) return static_cast<int>(i);
    return -1;
  }
  QAccessibleInterface* focusChild() const override {
    const auto* view = static_cast<RangeView*>(widget());
    return view->hasFocus() ? child(view->keyboardMovesMinimum() ? 0 : 1) : nullptr;
  }

 private:
  std::vector<QAccessible::Id> handles_;
};

// The confirmation card: a dialog named by its title and described by its
// message; an error to acknowledge is an alert.
class ConfirmationAccessible final : public QAccessibleWidget {
 public:
  explicit ConfirmationAccessible(ConfirmationOverlay* overlay) : QAccessibleWidget(overlay, QAccessible::Dialog) {}
  QAccessible::Role role() const override {
    const auto& card = static_cast<ConfirmationOverlay*>(widget())->card();
    return card && card->reportsFailure() ? QAccessible::AlertMessage : QAccessible::Dialog;
  }
};

constexpr const char* groupProperty = "dimmoraAccessibleGroup";

QAccessibleInterface* factory(const QString& className, QObject* object) {
  // The drop-down is a window of its own to a screen reader, not a pane of something else.
  if (className == QLatin1String("MenuWindow"))
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  if (className == QLatin1String("RangeView")) return new RangeAccessible(static_cast<RangeView*>(object));
  if (className == QLatin1String("SliderView")) return new SliderAccessible(static_cast<SliderView*>(object));
  if (className == QLatin1String("SectionHeader")) return new SectionHeaderAccessible(static_cast<SectionHeader*>(object));
  if (className == QLatin1String("ConfirmationOverlay"))
    return new ConfirmationAccessible(static_cast<ConfirmationOverlay*>(object));
  if (className == QLatin1String("QWidget") && object->property(groupProperty).toBool())
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
  return nullptr;
}
}  // namespace

void MenuAccessibility::install() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    return true;
  }();
  (void)installed;
}

void MenuAccessibility::markAsGroup(QWidget* widget) { widget->setProperty(groupProperty, true); }

void MenuAccessibility::announceExpanded(QWidget* widget, bool expanded) {
  if (!QAccessible::isActive()) return;
  // The bridge's connection to the accessibility bus, and its object paths.
  const QDBusConnection bridge(QStringLiteral("a11y"));
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  if (!bridge.isConnected() || !accessible) return;
  const QString path = QStringLiteral("/org/a11y/atspi/accessible/") + QString::number(QAccessible::uniqueId(accessible));
  const auto reference = [&bridge](const QString& objectPath) {
    QDBusArgument argument;
    argument.beginStructure();
    argument << bridge.baseService() << QDBusObjectPath(objectPath);
    argument.endStructure();
    return argument;
  };
  QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.a11y.atspi.Event.Object"),
                                                   QStringLiteral("StateChanged"));
  signal << QStringLiteral("expanded") << int(expanded) << 0
         << QVariant::fromValue(QDBusVariant(QVariant::fromValue(reference(path))))
         << QVariant::fromValue(reference(QStringLiteral("/org/a11y/atspi/accessible/root")));
  bridge.send(signal);
}
