// SPDX-License-Identifier: GPL-3.0-or-later
// Dimmora: dims every connected display step by step while the user is idle.
#include <QApplication>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "app/AppModels.hpp"
#include "app/TrayShell.hpp"
#include "engine/RemoteControl.hpp"
#include "platform/linux/InstanceLock.hpp"
#include "platform/linux/JournalLogSink.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/PrivateFolder.hpp"
#include "platform/linux/RemoteControlService.hpp"
#include "platform/linux/TerminationSignals.hpp"
#include "platform/qt/DesktopBinding.hpp"
#include "platform/wayland/DesktopSession.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"
#include "ui/HUDPanelView.hpp"

int main(int argc, char** argv) {
  // Before Qt starts any thread, so that every thread inherits the blocked signals.
  TerminationSignals signals;
  auto environment = LinuxEnvironment::fromProcess(argc > 0 ? argv[0] : nullptr);
  AppLog::setSink(makeSystemLogSink());
  // Two instances would fight over the gamma tables: a second start only hands over to the first.
  std::optional<InstanceLock> instance;
  instance.emplace(environment.runtimeDirectory().value_or(
      environment.applicationSupportDirectory().value_or(environment.homeDirectory() / ".config") / "Dimmora"));
  const bool usualLock = instance->outcome() != InstanceLock::Outcome::failed;
  if (!usualLock) {
    // Running on regardless would let a second copy take the first one's dimmed ramps for the
    // originals: a lock in a private folder of ours stands in, and a copy that holds the
    // usual lock (another environment) is found by its bus name.
    const std::string problem = instance->error();
    std::string why;
    const auto fallback = privateTemporaryFolder(environment.temporaryDirectory(), getuid(), why);
    if (fallback) instance.emplace(*fallback);
    if (fallback && instance->outcome() == InstanceLock::Outcome::acquired)
      AppLog::app.error("Cannot use the instance lock (" + problem + "); locked in " + fallback->string() + " instead");
    else if (!fallback || instance->outcome() == InstanceLock::Outcome::failed)
      AppLog::app.error("Cannot make sure Dimmora runs only once: " + problem + "; " +
                        (fallback ? instance->error() : why));
  }
  if (instance->outcome() == InstanceLock::Outcome::heldElsewhere ||
      (!usualLock && RemoteControlService::isOwnedElsewhere())) {
    std::fprintf(stderr, "dimmora: Dimmora is already running; asking it to show its window\n");
    std::string error;
    if (!RemoteControlService::askRunningInstanceToShowWindow(3, error))
      std::fprintf(stderr, "dimmora: the running Dimmora could not be asked: %s\n", error.c_str());
    return 0;
  }
  const DesktopSession session = chooseDesktopSession(environment);
  std::string error;
  auto connection = DesktopBinding::connect(session, error);
  if (!connection) {
    std::fprintf(stderr, "dimmora: %s\n", error.c_str());
    return 1;
  }
  const bool wayland = session.kind == DesktopSession::Kind::wayland;
  AppLog::app.log(std::string(wayland ? "Wayland" : "X11") + " session: " + session.reason);
  DBusSession::preventAutolaunch(environment);
  // Qt draws on the session's own platform unless the user chose one; idle time and gamma never follow Qt.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb");
  QApplication application(argc, argv);
  QApplication::setApplicationName("Dimmora");
  QApplication::setQuitOnLastWindowClosed(false);

  auto binding = DesktopBinding::create(environment, std::move(connection), signals, DesktopBinding::Roots{});
  // Declared before the models, which show it from their shortcut handling.
  HUDPanelView hudPanel;
  SystemPorts desktop = binding->ports();
  desktop.hudPanel = binding->hudPanel() ? binding->hudPanel() : &hudPanel;
  ScopedSystemPorts ports(desktop);
  binding->recoverAbandonedGamma();

  AppModels models;
  // The display-control trace from the first tick on, for tests and bug reports; the setting starts off.
  if (environment.variable("DIMMORA_TRACE")) DDCDebug::setEnabled(true);
  TrayShell shell(models);
  RemoteControl remoteControl(*models.stepStore, *models.displayStore, *models.engine);
  remoteControl.onShowWindow = [&shell] { shell.showWindow(); };
  RemoteControlService remoteControlService(binding->bus().sessionBus(), remoteControl);
  return QApplication::exec();
}
