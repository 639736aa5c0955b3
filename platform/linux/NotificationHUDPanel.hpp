// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "base/MainLoop.hpp"
#include "ports/HUDPanel.hpp"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

// The heads-up panel as a desktop notification (org.freedesktop.Notifications),
// for sessions where no window of ours may float above the others. The title
// is the summary, the whole percent the body, and the level goes in the
// "value" hint that GNOME, KDE, dunst and mako draw as a bar. Every show
// replaces the previous notification; hiding the panel closes it.
//
// The bus is borrowed: its owner watches its descriptor and processes it on
// the main loop. Calls never wait for the service: the changes of one turn of
// the loop go out as one Notify, and changes made while an answer is awaited
// follow it as one more.
class NotificationHUDPanel final : public HUDPanel {
 public:
  static constexpr const char* kApplicationName = "Dimmora";
  static constexpr const char* kApplicationIcon = "io.github.dimmora.Dimmora";
  // The service's own removal, should our close be lost: a little past the panel's own hiding.
  static constexpr std::int32_t kExpireMilliseconds = 1500;
  // An answer this late is given up on, so a stuck service cannot freeze the panel.
  static constexpr double kAnswerPatienceSeconds = 2;

  NotificationHUDPanel(sd_bus* sessionBus, MainLoop& loop);
  ~NotificationHUDPanel() override;
  NotificationHUDPanel(const NotificationHUDPanel&) = delete;
  NotificationHUDPanel& operator=(const NotificationHUDPanel&) = delete;

  // The id the service gave the last notification (0 before the first answer).
  std::uint32_t notificationID() const { return id_; }

  void build() override {}
  std::string titleText() const override { return title_; }
  void setTitleText(const std::string& text) override;
  std::string valueText() const override { return value_; }
  void setValueText(const std::string& text) override;
  bool isVisible() const override { return visible_; }
  // The notification service places its notifications.
  std::optional<Rect> screenVisibleFrame() const override { return std::nullopt; }
  void setOrigin(double, double) override {}
  // The bar has no pixels here: its nominal width only turns the fill back into a level.
  double trackWidth() const override { return width - 2 * horizontalInset; }
  void layoutContent() override {}
  double fillWidth() const override { return fill_; }
  void setFillWidth(double width) override;
  double alpha() const override { return alpha_; }
  void setAlpha(double alpha) override { alpha_ = alpha; }
  void orderFrontRegardless() override;
  void orderOut() override;

 private:
  void scheduleNotify();
  void notify();
  void takeReply(sd_bus_message* reply);
  void close();
  // Logs a failure of the service once, until it answers again.
  void failed(const std::string& what);

  sd_bus* bus_;
  MainLoop& loop_;
  std::string title_;
  std::string value_;
  double fill_ = 0;
  double alpha_ = 0;
  bool visible_ = false;
  std::uint32_t id_ = 0;
  sd_bus_slot* pendingCall_ = nullptr;
  double pendingSince_ = 0;
  bool notifyAfterAnswer_ = false;
  ScheduledWork scheduledNotify_;
  bool failureLogged_ = false;
};
