#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "base/MainLoop.hpp"
#include "platform/linux/DBusSession.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/LinuxGammaTables.hpp"
#include "platform/linux/LinuxIdleTime.hpp"
#include "platform/linux/LinuxServicePorts.hpp"
#include "platform/linux/RandrScreen.hpp"
#include "platform/linux/TerminationSignals.hpp"
#include "platform/linux/X11Input.hpp"
#include "platform/linux/X11Session.hpp"
#include "ports/SystemNotifications.hpp"
#include "ports/SystemPorts.hpp"
#include "platform/qt/QtDescriptorWatch.hpp"
#include "platform/qt/QtInputMonitors.hpp"
#include "platform/qt/QtMainLoop.hpp"

// Every platform facility of the running application on a Linux X11 desktop,
// wired into the Qt event loop: the X connection, D-Bus and the termination
// signals are watched there, and their events become the core's notifications.
// Needs a QApplication.
class DesktopBinding {
 public:
  struct Roots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
    std::filesystem::path proc = "/proc";
  };

  // The X connection the binding works through; nullptr, with the reason in
  // the user's terms, when there is no X server to work with. Needs no Qt, so
  // it runs before Qt would fail on the same display with its own advice.
  static std::unique_ptr<X11Session> connect(const LinuxEnvironment& environment, std::string& error);
  static std::unique_ptr<DesktopBinding> create(LinuxEnvironment environment, std::unique_ptr<X11Session> session,
                                                TerminationSignals& signals, Roots roots);
  ~DesktopBinding();

  SystemPorts ports();
  // Puts back gamma that a crashed earlier run left changed. Call before the models start.
  int recoverAbandonedGamma() { return gamma_->recoverAbandoned(); }
  // Announces will-terminate (once) and leaves the event loop.
  void quit();

  DBusSession& bus() { return *bus_; }
  const LinuxEnvironment& environment() const { return environment_; }

 private:
  DesktopBinding(LinuxEnvironment environment, std::unique_ptr<X11Session> session, Roots roots);
  void wire(TerminationSignals& signals);
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
  std::unique_ptr<LinuxDisplayPorts> displays_;
  std::unique_ptr<LinuxGammaTables> gamma_;
  std::unique_ptr<LinuxIdleTime> idleTime_;
  std::unique_ptr<QtInputMonitors> inputMonitors_;
  std::unique_ptr<LinuxPowerAssertions> powerAssertions_;
  std::unique_ptr<HotKeyService> hotKeys_;
  std::unique_ptr<LinuxLoginItems> loginItems_;
  QtDescriptorWatch watch_;
  std::vector<Subscription> subscriptions_;
  ScheduledWork pendingScreenChange_;
  bool terminationAnnounced_ = false;
};
