// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/DesktopBinding.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include "platform/linux/PortalGlobalShortcuts.hpp"
#include "services/AppLog.hpp"

namespace fs = std::filesystem;

namespace {
// The binding whose termination an exit() elsewhere must still announce.
DesktopBinding* announcedAtExit = nullptr;

// XWayland names its RandR outputs XWAYLAND0, XWAYLAND1, ...
bool isXWayland(X11Session& session) {
  const RandrScreen randr(session);
  const auto outputs = randr.outputs();
  return std::any_of(outputs.begin(), outputs.end(),
                     [](const RandrOutput& output) { return output.name.rfind("XWAYLAND", 0) == 0; });
}

// The first of `sockets` where a compositor answers; `tried` lists the others with their errors.
std::unique_ptr<WaylandSession> firstAnswering(const std::vector<fs::path>& sockets, std::string& tried) {
  for (const auto& socket : sockets) {
    std::string why;
    if (auto session = WaylandSession::connect(socket.string(), why)) return session;
    tried += (tried.empty() ? "" : "; ") + why;
  }
  return nullptr;
}
}  // namespace

DesktopBinding::Connection DesktopBinding::connect(const DesktopSession& session, std::string& error) {
  Connection connection;
  connection.description = session.reason;
  switch (session.kind) {
    case DesktopSession::Kind::none: error = session.reason + "; Dimmora needs an X11 or Wayland desktop session"; break;
    case DesktopSession::Kind::x11: {
      connection.x11 = X11Session::open(session.display);
      if (!connection.x11) {
        error = "cannot reach the X server of display " + session.display +
                " (DISPLAY): the desktop session has ended or DISPLAY names another one";
        break;
      }
      if (!session.waylandSessionType && !isXWayland(*connection.x11)) break;
      // XWayland's idle counter sees only X11 clients typing: the compositor must answer instead.
      std::string tried;
      if (auto wayland = firstAnswering(session.waylandSockets, tried)) {
        connection.description += "; that display is XWayland's, so Dimmora works through the compositor at " +
                                  wayland->name() + " instead";
        connection.x11.reset();
        connection.wayland = std::move(wayland);
        break;
      }
      connection.xwaylandOnly = true;
      connection.description += "; that display is XWayland's and no compositor socket answers (" +
                                (tried.empty() ? "none in XDG_RUNTIME_DIR" : tried) +
                                "): XWayland sees only the input of X11 programs, so automatic dimming stays off; "
                                "start Dimmora with WAYLAND_DISPLAY set";
      break;
    }
    case DesktopSession::Kind::wayland: {
      std::string why;
      if (!session.display.empty()) {
        connection.wayland = WaylandSession::connect(session.display, why);
        if (!connection.wayland)
          error = why + ": the desktop session has ended or WAYLAND_DISPLAY names another one";
      } else {
        connection.wayland = firstAnswering(session.waylandSockets, why);
        if (connection.wayland)
          connection.description += " (" + connection.wayland->name() + ")";
        else
          error = session.reason + ", and no compositor answers there (" + why + "): the desktop session has ended";
      }
      break;
    }
  }
  return connection;
}

std::unique_ptr<DesktopBinding> DesktopBinding::create(LinuxEnvironment environment, Connection connection,
                                                       TerminationSignals& signals, Roots roots) {
  std::unique_ptr<DesktopBinding> binding(new DesktopBinding(std::move(environment), std::move(roots)));
  if (connection.x11) {
    X11Session::installErrorHandlers();
    binding->createX11(std::move(connection.x11), connection.xwaylandOnly);
  } else {
    binding->createWayland(std::move(connection.wayland));
  }
  binding->wire(signals);
  // Qt ends the process with exit() when its own X connection breaks (the
  // server is restarted, or the client is killed), and main's objects are
  // then never destroyed. The gamma restore must still happen, through our
  // own connection, which may well be alive.
  announcedAtExit = binding.get();
  static const bool registered = std::atexit([] {
    if (announcedAtExit) announcedAtExit->announceTermination();
  }) == 0;
  if (!registered) AppLog::app.error("Cannot restore the displays if Qt ends the process");
  return binding;
}

DesktopBinding::DesktopBinding(LinuxEnvironment environment, Roots roots)
    : environment_(std::move(environment)), roots_(std::move(roots)) {
  bus_ = std::make_unique<DBusSession>();
}

void DesktopBinding::createX11(std::unique_ptr<X11Session> session, bool xwaylandOnly) {
  session_ = std::move(session);
  randr_ = std::make_unique<RandrScreen>(*session_);
  if (!randr_->isAvailable()) AppLog::app.error("The X server has no RandR 1.2: displays and gamma are unavailable");
  idle_ = std::make_unique<X11IdleTime>(*session_);
  if (!idle_->isAvailable()) AppLog::app.error("The X server has no SYNC idle-time counter: idle time is unknown");
  rawInput_ = std::make_unique<X11RawInput>(*session_);
  if (!rawInput_->isAvailable()) AppLog::app.error("The X server has no XInput 2: input elsewhere is not seen");
  keys_ = std::make_unique<X11HotKeys>(*session_);
  createCommon([randr = randr_.get()] { return randr->sessionOutputs(); });

  std::string why;
  const auto recovery =
      GammaStash::recoveryFolder(environment_.runtimeDirectory(), environment_.temporaryDirectory(), getuid(), why);
  if (!recovery) AppLog::app.error("Gamma crash recovery is off: " + why);
  // Where Mutter manages the screen it rebuilds the CRTCs' tables itself (night light, colour profiles), so
  // they go through it, which tells when it did; XWayland's gamma tables reach no screen.
  if (!xwaylandOnly) useMutterGamma([randr = randr_.get()](DisplayID displayID) -> std::optional<std::string> {
      if (const auto output = randr->output(displayID)) return output->name;
      return std::nullopt;
    });
  if (!xwaylandOnly && !mutterGamma_)
    gamma_ = std::make_unique<X11GammaTables>(
        *randr_, recovery ? std::make_unique<GammaStash>(*recovery, roots_.proc, session_->name(), getpid()) : nullptr);
  // Under XWayland the source answers "unknown" with its reason; without the counter there is no source.
  if (idle_->isAvailable() || xwaylandOnly)
    idleTime_ = std::make_unique<X11IdleTimeSource>(*idle_, mainLoop_, xwaylandOnly);
  inputMonitors_ = std::make_unique<QtInputMonitors>(rawInput_->isAvailable() ? rawInput_.get() : nullptr);
}

void DesktopBinding::createWayland(std::unique_ptr<WaylandSession> session) {
  wayland_ = std::move(session);
  waylandOutputs_ = std::make_unique<WaylandOutputs>(*wayland_);
  // The outputs' names arrive in answer to binding them.
  wayland_->roundtrip();
  waylandGamma_ = std::make_unique<WaylandGammaTables>(*wayland_, *waylandOutputs_);
  // GNOME's compositor has no gamma protocol: its display configuration on the session bus has the tables.
  if (!waylandGamma_->isOffered())
    useMutterGamma([outputs = waylandOutputs_.get()](DisplayID displayID) { return outputs->name(displayID); });
  if (!waylandGamma_->isOffered() && !mutterGamma_)
    AppLog::app.log("The compositor offers no gamma control: displays are dimmed in hardware only");
  waylandIdle_ = std::make_unique<WaylandIdle>(*wayland_, mainLoop_);
  LinuxInhibitors::CompositorInhibitor inhibitor;
  if (waylandIdle_->inhibitorHeld()) inhibitor = [idle = waylandIdle_.get()] { return idle->inhibitorHeld(); };
  createCommon([outputs = waylandOutputs_.get()] { return outputs->outputs(); }, std::move(inhibitor));

  if (waylandIdle_->protocol() != WaylandIdle::Protocol::none) {
    AppLog::app.log("Idle time from the compositor through " + waylandIdle_->description());
  } else if (bus_->hasSessionBus() &&
             (mutterIdle_ = std::make_unique<MutterIdleMonitor>(bus_->sessionBus(), mainLoop_))->isAvailable()) {
    AppLog::app.log("Idle time from GNOME's " + std::string(MutterIdleMonitor::kService) + " (" +
                    waylandIdle_->description() + ")");
  } else {
    mutterIdle_.reset();
    AppLog::app.error("No idle time: " + waylandIdle_->description() + " and GNOME's " +
                      MutterIdleMonitor::kService + " does not answer");
  }
  inputMonitors_ = std::make_unique<QtInputMonitors>(nullptr);
  // A Qt window cannot float above the others here: our own overlay surface
  // shows the panel where the compositor has a layer shell, else the notification service.
  overlayPanel_ = std::make_unique<OverlayHUDPanel>(
      *wayland_, mainLoop_, [outputs = waylandOutputs_.get()](const wl_output* output) { return outputs->scale(output); });
  if (overlayPanel_->isOffered()) {
    AppLog::app.log("The heads-up panel floats on the compositor's overlay layer");
  } else {
    overlayPanel_.reset();
    if (bus_->hasSessionBus()) {
      AppLog::app.log("The compositor has no layer shell: the heads-up panel is a desktop notification");
      notificationPanel_ = std::make_unique<NotificationHUDPanel>(bus_->sessionBus(), mainLoop_);
    }
  }
}

void DesktopBinding::useMutterGamma(MutterGammaTables::ConnectorOf connectorOf) {
  if (!DBusSession::nameHasOwner(bus_->sessionBus(), MutterGammaTables::kService)) return;
  mutterGamma_ = std::make_unique<MutterGammaTables>(bus_->sessionBus(), mainLoop_, std::move(connectorOf));
  if (!mutterGamma_->isOffered()) mutterGamma_.reset();
}

// What needs no display server: DDC/CI, the backlight, D-Bus and the autostart entry.
void DesktopBinding::createCommon(DisplayDirectory::OutputSource outputs,
                                  LinuxInhibitors::CompositorInhibitor inhibitor) {
  i2c_ = std::make_unique<I2CDevice>(roots_.dev);
  displays_ = std::make_unique<LinuxDisplayPorts>(
      DisplayDirectory(std::move(outputs),
                       DrmConnectors(roots_.sys, roots_.dev,
                                     [i2c = i2c_.get()](int bus) { return i2c->readEdid(bus); }),
                       Backlight(roots_.sys)),
      bus_.get());
  inhibitors_ = LinuxInhibitors::connect(*bus_, mainLoop_, std::move(inhibitor));
  if (bus_->hasSessionBus())
    screenBrightness_ = std::make_unique<KdeScreenBrightness>(bus_->sessionBus(), mainLoop_);
  // The portal lets the desktop own the keys (and works where no client may grab them); else X key grabs.
  if (auto portal = PortalGlobalShortcuts::connect(bus_->sessionBus(), mainLoop_)) {
    shortcuts_ = std::move(portal);
  } else if (keys_) {
    shortcuts_ = std::make_unique<X11GlobalShortcuts>(*keys_);
  } else {
    AppLog::app.error(
        "Global shortcuts are unavailable: no desktop portal offers org.freedesktop.portal.GlobalShortcuts, and a "
        "Wayland compositor lets no program grab keys; bind keys to Dimmora's D-Bus methods in the desktop's "
        "settings instead");
  }
  const auto executable = environment_.executablePath().value_or(fs::path("dimmora"));
  desktop_ = std::make_unique<QtDesktop>(bus_.get(), [this] { quit(); });
  autostart_ = std::make_unique<XdgAutostart>(
      environment_.applicationSupportDirectory().value_or(environment_.homeDirectory() / ".config"),
      fs::absolute(executable));
  desktopDimming_ = desktopIdleDimming(environment_, bus_->sessionBus());
  // GSettings' and the file monitor's news arrive on GLib's main context, which only Qt's GLib loop runs.
  const auto* dispatcher = QAbstractEventDispatcher::instance();
  if (desktopDimming_ && !(dispatcher && dispatcher->inherits("QEventDispatcherGlib")))
    AppLog::app.error("Qt's event loop does not run GLib's: changes to the desktop's idle dimming are seen at the next start");
}

DesktopBinding::~DesktopBinding() {
  if (announcedAtExit == this) announcedAtExit = nullptr;
  watch_.clear();
}

void DesktopBinding::wire(TerminationSignals& signals) {
  if (session_) wireX11();
  if (wayland_) wireWayland();
  // Replies read while waiting for another answer sit in the queue without waking the loop.
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [this] {
      if (bus_->hasQueuedMessages()) bus_->process();
    });
  for (int fd : bus_->fileDescriptors()) watch_.watch(fd, [this] { bus_->process(); });
  // Transfers end on their buses' threads; their results are handed over here.
  watch_.watch(i2c_->resultDescriptor(), [this] { i2c_->deliverResults(); });
  watch_.watch(signals.fileDescriptor(), [this, &signals] {
    if (const int number = signals.take()) {
      AppLog::app.log("Received signal " + std::to_string(number) + ", quitting");
      quit();
    }
  });
  if (auto* app = QCoreApplication::instance())
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] { announceTermination(); });
  // Which displays the desktop drives itself is one of the displays' facts.
  if (screenBrightness_) subscriptions_.push_back(screenBrightness_->changed.connect([this] { noteScreenChange(); }));
  subscriptions_.push_back(bus_->prepareForSleep.connect([this](const bool& sleeping) {
    if (sleeping)
      notifications_.willSleep.emit();
    else
      notifications_.didWake.emit();
  }));
}

void DesktopBinding::wireX11() {
  // Xlib may have queued events while answering a request; drain them before the loop sleeps.
  watch_.watch(session_->fileDescriptor(), [this] { session_->processPending(); });
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [this] {
      session_->processQueued();
      session_->flush();
    });
  subscriptions_.push_back(randr_->screenChanged.connect([this] { noteScreenChange(); }));
  subscriptions_.push_back(session_->lost.connect([this] {
    // The dead connection's descriptor stays readable: watched on, it would wake the loop without end.
    watch_.stop(session_->fileDescriptor());
    AppLog::app.error("Display control stopped: the X server closed Dimmora's connection; the gamma is put back and "
                      "Dimmora quits");
    // Out of Xlib's error handling first.
    connectionLoss_ = mainLoop_.post([this] { quitAfterConnectionLoss(); });
  }));
}

// Idle time, input and keys went with the connection, so the program cannot go on; the ramps it
// changed are put back at exit through a connection of its own again (the server may well run on,
// having closed only ours). Without a server, they stay in the crash stash for the next start.
void DesktopBinding::quitAfterConnectionLoss() {
  replacementSession_ = X11Session::open(session_->name());
  if (replacementSession_) {
    replacementRandr_ = std::make_unique<RandrScreen>(*replacementSession_);
    if (gamma_) gamma_->useScreen(*replacementRandr_);
  } else {
    AppLog::app.error("The X server of display " + session_->name() +
                      " does not answer: the gamma is put back at the next start");
  }
  QCoreApplication::exit(1);
}

void DesktopBinding::wireWayland() {
  watch_.watch(wayland_->fileDescriptor(), [this] { wayland_->readAndDispatch(); });
  // A roundtrip may have read events that no descriptor wake-up will announce.
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
                     [this] { wayland_->dispatchPending(); });
  subscriptions_.push_back(waylandOutputs_->changed.connect([this] { noteScreenChange(); }));
  subscriptions_.push_back(wayland_->lost.connect([] {
    AppLog::app.error("Idle time, outputs and gamma stopped: the Wayland compositor went away");
  }));
}

// One notification per burst of output changes.
void DesktopBinding::noteScreenChange() {
  if (pendingScreenChange_.isActive()) return;
  pendingScreenChange_ = mainLoop_.post([this] { notifications_.screenParametersChanged.emit(); });
}

SystemPorts DesktopBinding::ports() {
  SystemPorts ports;
  ports.mainLoop = &mainLoop_;
  ports.environment = &environment_;
  ports.displays = displays_.get();
  ports.i2c = i2c_.get();
  ports.backlights = displays_.get();
  ports.desktopBrightness = screenBrightness_.get();
  if (gamma_) ports.gamma = gamma_.get();
  if (waylandGamma_) ports.gamma = waylandGamma_.get();
  if (mutterGamma_) ports.gamma = mutterGamma_.get();
  if (idleTime_) ports.idleTime = idleTime_.get();
  if (waylandIdle_ && waylandIdle_->protocol() != WaylandIdle::Protocol::none) ports.idleTime = waylandIdle_.get();
  if (mutterIdle_) ports.idleTime = mutterIdle_.get();
  ports.inputMonitors = inputMonitors_.get();
  ports.notifications = &notifications_;
  ports.inhibitors = inhibitors_.get();
  ports.shortcuts = shortcuts_.get();
  ports.autostart = autostart_.get();
  ports.desktopDimming = desktopDimming_.get();
  ports.userDefaults = &userDefaults_;
  ports.clipboard = desktop_.get();
  ports.fileManager = desktop_.get();
  ports.urlOpener = desktop_.get();
  ports.application = desktop_.get();
  ports.screens = desktop_.get();
  return ports;
}

void DesktopBinding::announceTermination() {
  if (terminationAnnounced_) return;
  terminationAnnounced_ = true;
  notifications_.willTerminate.emit();
  if (session_) session_->flush();
  if (wayland_) wayland_->flush();
}

void DesktopBinding::quit() {
  // The restore waits for aboutToQuit: timers and posted work already due in
  // this turn of the loop still run after quit() and would dim again.
  QCoreApplication::quit();
}
