// SPDX-License-Identifier: GPL-3.0-or-later
// Dimmora: dims every connected display step by step while the user is idle.
#include <QApplication>
#include <cstdio>
#include <string_view>

#include "app/AppModels.hpp"
#include "app/TrayShell.hpp"
#include "engine/RemoteControl.hpp"
#include "platform/linux/InstanceLock.hpp"
#include "platform/linux/JournalLogSink.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
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
  const InstanceLock instance(environment.runtimeDirectory().value_or(
      environment.applicationSupportDirectory().value_or(environment.homeDirectory() / ".config") / "Dimmora"));
  if (instance.outcome() == InstanceLock::Outcome::heldElsewhere) {
    std::fprintf(stderr, "dimmora: Dimmora is already running; asking it to show its window\n");
    std::string error;
    if (!RemoteControlService::askRunningInstanceToShowWindow(3, error))
      std::fprintf(stderr, "dimmora: the running Dimmora could not be asked: %s\n", error.c_str());
    return 0;
  }
  if (instance.outcome() == InstanceLock::Outcome::failed)
    AppLog::app.error("Cannot make sure Dimmora runs only once: " + instance.error());
  const DesktopSession session = chooseDesktopSession(environment);
  std::string error;
  auto connection = DesktopBinding::connect(session, error);
  if (!connection) {
    std::fprintf(stderr, "dimmora: %s\n", error.c_str());
    return 1;
  }
  const bool wayland = connection.wayland != nullptr;
  AppLog::app.log(std::string(wayland ? "Wayland" : "X11") + " session: " + connection.description);
  // Qt draws through the compositor the binding found, also when only its socket named it.
  if (wayland) qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString(connection.wayland->name()));
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
  // The applications menu starts us with --show-window: the window, not only a tray icon.
  if (argc > 1 && std::string_view(argv[1]) == "--show-window")
    shell.showWindow();
  else
    shell.showWindowOnceWithoutTray();
  return QApplication::exec();
}
