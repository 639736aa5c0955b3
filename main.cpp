// SPDX-License-Identifier: GPL-3.0-or-later
// Dimmora: dims every connected display step by step while the user is idle.
#include <QApplication>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string_view>

#include "app/AppModels.hpp"
#include "app/TrayShell.hpp"
#include "base/ProgramVersion.hpp"
#include "display/DDCBrightness/DDCIO.hpp"
#include "engine/RemoteControl.hpp"
#include "platform/linux/DesktopSession.hpp"
#include "platform/linux/InstanceLock.hpp"
#include "platform/linux/JournalLogSink.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
#include "platform/linux/PrivateFolder.hpp"
#include "platform/linux/RemoteControlService.hpp"
#include "platform/linux/TerminationSignals.hpp"
#include "platform/qt/DesktopBinding.hpp"
#include "services/AppLog.hpp"
#include "services/DDCDebug.hpp"
#include "services/DiagnosticCapture.hpp"
#include "services/L10n.hpp"
#include "services/ShortcutHUD.hpp"
#include "ui/HUDPanelView.hpp"

namespace {

constexpr const char* kUsage =
    "Usage: dimmora [--show-window | --help | --version]\n"
    "\n"
    "Dims every connected display step by step while you are idle and brings it\n"
    "back when you return. Dimmora lives in the system tray: everything is set in\n"
    "the window its icon drops down. Started again while it runs, it shows the\n"
    "running one's window.\n"
    "\n"
    "      --show-window  open the settings window (the running one's, if\n"
    "                     Dimmora already runs)\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Environment:\n"
    "  XDG_CONFIG_HOME  the settings are in $XDG_CONFIG_HOME/Dimmora/config.json\n"
    "                   (~/.config/Dimmora/config.json when it is not set)\n"
    "  DIMMORA_TRACE    when not empty, the display-control trace is logged from\n"
    "                   the start\n"
    "\n"
    "The manual page dimmora(1) and the README say more.\n";

// The conventions of the command line, answered before anything reaches the
// display or a running instance: the exit status when the process should end here.
std::optional<int> answerCommandLine(int argc, char** argv, bool& showWindow) {
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      help = true;
    } else if (argument == "--version") {
      version = true;
    } else if (argument == "--show-window") {
      showWindow = true;
    } else {
      std::fprintf(stderr, "dimmora: %s '%s'\nTry 'dimmora --help' for more information.\n",
                   argument.starts_with('-') ? "unknown option" : "unexpected argument", argv[i]);
      return 2;
    }
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (version) {
    std::printf("dimmora %.*s (%.*s)\n", int(ProgramVersion::number.size()), ProgramVersion::number.data(),
                int(ProgramVersion::build.size()), ProgramVersion::build.data());
    std::fputs("Copyright 2026 The Dimmora developers\n"
               "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
               "This is free software: you are free to change and redistribute it.\n"
               "There is NO WARRANTY, to the extent permitted by law.\n",
               stdout);
    return 0;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  bool showWindow = false;
  if (const auto status = answerCommandLine(argc, argv, showWindow)) return *status;
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
  L10n::useEnvironment(desktop.environment);
  ShortcutHUD::usePorts(desktop.hudPanel, desktop.mainLoop);
  DDCIO::usePorts({.mainLoop = desktop.mainLoop,
                   .displays = desktop.displays,
                   .i2c = desktop.i2c,
                   .backlights = desktop.backlights,
                   .desktopBrightness = desktop.desktopBrightness});
  DiagnosticCapture::usePorts(desktop.mainLoop, desktop.notifications);
  binding->recoverAbandonedGamma();

  AppModels models(desktop);
  // The display-control trace from the first tick on, for tests and bug reports; the setting starts off.
  if (environment.variable("DIMMORA_TRACE")) DDCDebug::setEnabled(true);
  TrayShell shell(models, {.mainLoop = *desktop.mainLoop,
                           .notifications = desktop.notifications,
                           .userDefaults = desktop.userDefaults,
                           .screens = desktop.screens,
                           .autostart = desktop.autostart,
                           .inhibitors = desktop.inhibitors,
                           .gamma = desktop.gamma,
                           .desktopDimming = desktop.desktopDimming,
                           .maintenance = {.environment = desktop.environment,
                                           .application = desktop.application,
                                           .fileManager = desktop.fileManager,
                                           .clipboard = desktop.clipboard,
                                           .urlOpener = desktop.urlOpener}});
  RemoteControl remoteControl(*models.stepStore, *models.displayStore, *models.engine, *desktop.mainLoop);
  remoteControl.onShowWindow = [&shell] { shell.showWindow(); };
  RemoteControlService remoteControlService(binding->bus().sessionBus(), remoteControl);
  // The applications menu starts us with --show-window: the window, not only a tray icon.
  if (showWindow)
    shell.showWindow();
  else
    shell.showWindowOnceWithoutTray();
  return QApplication::exec();
}
