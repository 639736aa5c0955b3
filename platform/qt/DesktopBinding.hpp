// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "base/MainLoop.hpp"
#include "platform/linux/DBusSession.hpp"
#include "platform/linux/DesktopIdleDimmingChoice.hpp"
#include "platform/linux/DesktopSession.hpp"
#include "platform/linux/I2CDevice.hpp"
#include "platform/linux/KdeScreenBrightness.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/LinuxInhibitors.hpp"
#include "platform/linux/MutterGammaTables.hpp"
#include "platform/linux/MutterIdleMonitor.hpp"
#include "platform/linux/NotificationHUDPanel.hpp"
#include "platform/linux/TerminationSignals.hpp"
#include "platform/linux/XdgAutostart.hpp"
#include "platform/wayland/WaylandGammaTables.hpp"
#include "platform/wayland/WaylandIdle.hpp"
#include "platform/wayland/WaylandOutputs.hpp"
#include "platform/wayland/WaylandSession.hpp"
#include "platform/x11/RandrScreen.hpp"
#include "platform/x11/X11GammaTables.hpp"
#include "platform/x11/X11GlobalShortcuts.hpp"
#include "platform/x11/X11IdleTimeSource.hpp"
#include "platform/x11/X11Input.hpp"
#include "platform/x11/X11Session.hpp"
#include "ports/SystemNotifications.hpp"
#include "ports/SystemPorts.hpp"
#include "platform/qt/OverlayHUDPanel.hpp"
#include "platform/qt/QtDescriptorWatch.hpp"
#include "platform/qt/QtDesktop.hpp"
#include "platform/qt/QtInputMonitors.hpp"
#include "platform/qt/QtMainLoop.hpp"
#include "platform/qt/QtUserDefaults.hpp"

// Every platform facility of the running application on a Linux desktop,
// X11 or Wayland, wired into the Qt event loop: the X or Wayland connection,
// D-Bus and the termination signals are watched there, and their events
// become the core's notifications. Needs a QApplication.
class DesktopBinding {
 public:
  struct Roots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
    std::filesystem::path proc = "/proc";
  };

  // The connection the binding works through: the X server's in an X11
  // session, the compositor's in a Wayland one.
  struct Connection {
    std::unique_ptr<X11Session> x11;
    std::unique_ptr<WaylandSession> wayland;
    // The X display is XWayland's and no compositor socket answered: the
    // binding then reads no idle time and no gamma through it.
    bool xwaylandOnly = false;
    // Which display server, and why, for the log.
    std::string description;
    explicit operator bool() const { return x11 || wayland; }
  };
  // Opens the session's connection; empty, with the reason in the user's
  // terms, when there is nothing to work with. An X display that is
  // XWayland's is left for the compositor's own socket where one answers.
  // Needs no Qt, so it runs before Qt would fail on the same display with
  // its own advice.
  static Connection connect(const DesktopSession& session, std::string& error);
  static std::unique_ptr<DesktopBinding> create(LinuxEnvironment environment, Connection connection,
                                                TerminationSignals& signals, Roots roots);
  ~DesktopBinding();

  SystemPorts ports();
  // Puts back gamma that a crashed earlier run left changed. Call before the models start.
  int recoverAbandonedGamma() { return gamma_ ? gamma_->recoverAbandoned() : 0; }
  // The heads-up panel the session needs instead of a Qt window; null when a Qt window will do.
  HUDPanel* hudPanel() {
    return overlayPanel_ ? static_cast<HUDPanel*>(overlayPanel_.get()) : notificationPanel_.get();
  }
  // Leaves the event loop; will-terminate is announced (once) when it has stopped.
  void quit();

  DBusSession& bus() { return *bus_; }
  const LinuxEnvironment& environment() const { return environment_; }

 private:
  DesktopBinding(LinuxEnvironment environment, Roots roots);
  void createX11(std::unique_ptr<X11Session> session, bool xwaylandOnly);
  void createWayland(std::unique_ptr<WaylandSession> session);
  // Gamma through Mutter's display configuration, where it answers on the session bus.
  void useMutterGamma(MutterGammaTables::ConnectorOf connectorOf);
  void createCommon(DisplayDirectory::OutputSource outputs, LinuxInhibitors::CompositorInhibitor inhibitor = {});
  void wire(TerminationSignals& signals);
  void wireX11();
  void wireWayland();
  void noteScreenChange();
  void quitAfterConnectionLoss();
  void announceTermination();

  LinuxEnvironment environment_;
  Roots roots_;
  QtMainLoop mainLoop_;
  SystemNotifications notifications_;
  std::unique_ptr<X11Session> session_;
  std::unique_ptr<DBusSession> bus_;
  std::unique_ptr<RandrScreen> randr_;
  std::unique_ptr<X11IdleTime> idle_;
  std::unique_ptr<X11RawInput> rawInput_;
  std::unique_ptr<X11HotKeys> keys_;
  std::unique_ptr<I2CDevice> i2c_;
  std::unique_ptr<LinuxDisplayPorts> displays_;
  std::unique_ptr<X11GammaTables> gamma_;
  std::unique_ptr<X11IdleTimeSource> idleTime_;
  std::unique_ptr<QtInputMonitors> inputMonitors_;
  std::unique_ptr<LinuxInhibitors> inhibitors_;
  // Plasma's brightness service, where it drives displays itself.
  std::unique_ptr<KdeScreenBrightness> screenBrightness_;
  std::unique_ptr<GlobalShortcuts> shortcuts_;
  std::unique_ptr<XdgAutostart> autostart_;
  std::unique_ptr<DesktopIdleDimming> desktopDimming_;
  std::unique_ptr<QtDesktop> desktop_;
  QtUserDefaults userDefaults_;
  // A Wayland session has these instead of the X11 facilities above.
  std::unique_ptr<WaylandSession> wayland_;
  std::unique_ptr<WaylandOutputs> waylandOutputs_;
  std::unique_ptr<WaylandIdle> waylandIdle_;
  std::unique_ptr<WaylandGammaTables> waylandGamma_;
  // GNOME's compositor offers no idle protocol: its D-Bus monitor stands in.
  std::unique_ptr<MutterIdleMonitor> mutterIdle_;
  // GNOME's gamma, X11 or Wayland, in place of RandR's or the compositor's.
  std::unique_ptr<MutterGammaTables> mutterGamma_;
  // The panel floats on the compositor's overlay layer where it has one, else it is a notification.
  std::unique_ptr<OverlayHUDPanel> overlayPanel_;
  std::unique_ptr<NotificationHUDPanel> notificationPanel_;
  QtDescriptorWatch watch_;
  std::vector<Subscription> subscriptions_;
  ScheduledWork pendingScreenChange_;
  ScheduledWork connectionLoss_;
  // Opened when the first connection broke, for the restore at exit.
  std::unique_ptr<X11Session> replacementSession_;
  std::unique_ptr<RandrScreen> replacementRandr_;
  bool terminationAnnounced_ = false;
};
