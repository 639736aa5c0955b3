// Dimmora: dims every connected display step by step while the user is idle.
#include <QApplication>
#include <cstdio>

#include "app/AppModels.hpp"
#include "app/TrayShell.hpp"
#include "platform/linux/JournalLogSink.hpp"
#include "platform/linux/LinuxEnvironment.hpp"
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
  qputenv("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb");
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
  TrayShell shell(models, [&binding] { binding->quit(); });
  return QApplication::exec();
}
