#include "platform/qt/DesktopBinding.hpp"

#include <unistd.h>

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
}  // namespace

std::unique_ptr<X11Session> DesktopBinding::connect(const LinuxEnvironment& environment, std::string& error) {
  const auto display = environment.variable("DISPLAY");
  if (!display) {
    error = "no X11 display (DISPLAY is not set); Dimmora needs an X11 desktop session";
    return nullptr;
  }
  auto session = X11Session::open(*display);
  if (!session)
    error = "cannot reach the X server of display " + *display +
            " (DISPLAY): the desktop session has ended or DISPLAY names another one";
  return session;
}

std::unique_ptr<DesktopBinding> DesktopBinding::create(LinuxEnvironment environment,
                                                       std::unique_ptr<X11Session> session,
                                                       TerminationSignals& signals, Roots roots) {
  X11Session::installErrorHandlers();
  std::unique_ptr<DesktopBinding> binding(new DesktopBinding(std::move(environment), std::move(session), roots));
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

DesktopBinding::DesktopBinding(LinuxEnvironment environment, std::unique_ptr<X11Session> session, Roots roots)
    : environment_(std::move(environment)), roots_(std::move(roots)), session_(std::move(session)) {
  bus_ = std::make_unique<DBusSession>();
  randr_ = std::make_unique<RandrScreen>(*session_);
  if (!randr_->isAvailable()) AppLog::app.error("The X server has no RandR 1.2: displays and gamma are unavailable");
  idle_ = std::make_unique<X11IdleTime>(*session_);
  if (!idle_->isAvailable()) AppLog::app.error("The X server has no SYNC idle-time counter: idle time is unknown");
  rawInput_ = std::make_unique<X11RawInput>(*session_);
  if (!rawInput_->isAvailable()) AppLog::app.error("The X server has no XInput 2: input elsewhere is not seen");
  keys_ = std::make_unique<X11HotKeys>(*session_);

  const I2CDevice i2c(roots_.dev);
  displays_ = std::make_unique<LinuxDisplayPorts>(
      DisplayDirectory([randr = randr_.get()] { return randr->outputs(); },
                       DrmConnectors(roots_.sys, roots_.dev, [i2c](int bus) { return i2c.readEdid(bus); }),
                       Backlight(roots_.sys)),
      i2c, bus_.get());

  std::error_code ec;
  fs::path temporary = fs::temp_directory_path(ec);
  if (ec) temporary = "/tmp";
  std::string why;
  const auto recovery = GammaStash::recoveryFolder(environment_.runtimeDirectory(), temporary, getuid(), why);
  if (!recovery) AppLog::app.error("Gamma crash recovery is off: " + why);
  gamma_ = std::make_unique<LinuxGammaTables>(
      *randr_, recovery ? std::make_unique<GammaStash>(*recovery, roots_.proc, session_->name(), getpid()) : nullptr);
  idleTime_ = std::make_unique<LinuxIdleTime>(*idle_);
  inputMonitors_ = std::make_unique<QtInputMonitors>(rawInput_->isAvailable() ? rawInput_.get() : nullptr);
  if (bus_->hasSystemBus() || bus_->hasSessionBus()) powerAssertions_ = std::make_unique<LinuxPowerAssertions>(*bus_);
  // The portal lets the desktop own the keys (and works where no client may grab them); else X key grabs.
  if (auto portal = PortalGlobalShortcuts::connect(bus_->sessionBus(), mainLoop_)) {
    hotKeys_ = std::move(portal);
  } else {
    hotKeys_ = std::make_unique<LinuxHotKeyService>(*keys_);
  }
  const auto executable = environment_.executablePath().value_or(fs::path("dimmora"));
  loginItems_ = std::make_unique<LinuxLoginItems>(
      XdgAutostart(environment_.applicationSupportDirectory().value_or(environment_.homeDirectory() / ".config"),
                   fs::absolute(executable)));
}

DesktopBinding::~DesktopBinding() {
  if (announcedAtExit == this) announcedAtExit = nullptr;
  watch_.clear();
}

void DesktopBinding::wire(TerminationSignals& signals) {
  // Xlib may have queued events while answering a request; drain them before the loop sleeps.
  watch_.watch(session_->fileDescriptor(), [this] { session_->processPending(); });
  if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [this] {
      session_->processQueued();
      session_->flush();
      if (bus_->hasQueuedMessages()) bus_->process();
    });
  for (int fd : bus_->fileDescriptors()) watch_.watch(fd, [this] { bus_->process(); });
  watch_.watch(signals.fileDescriptor(), [this, &signals] {
    if (const int number = signals.take()) {
      AppLog::app.log("Received signal " + std::to_string(number) + ", quitting");
      quit();
    }
  });
  if (auto* app = QCoreApplication::instance())
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, [this] { announceTermination(); });

  // One notification per burst of RandR events.
  subscriptions_.push_back(randr_->screenChanged.connect([this] {
    if (pendingScreenChange_.isActive()) return;
    pendingScreenChange_ = mainLoop_.post([this] { notifications_.screenParametersChanged.emit(); });
  }));
  subscriptions_.push_back(bus_->prepareForSleep.connect([this](const bool& sleeping) {
    if (sleeping)
      notifications_.willSleep.emit();
    else
      notifications_.didWake.emit();
  }));
  subscriptions_.push_back(session_->lost.connect([] {
    AppLog::app.error("Display control stopped: the X server went away");
  }));
}

SystemPorts DesktopBinding::ports() {
  SystemPorts ports;
  ports.mainLoop = &mainLoop_;
  ports.environment = &environment_;
  ports.displays = displays_.get();
  ports.registry = displays_.get();
  ports.avServices = displays_.get();
  ports.panelBrightness = displays_.get();
  ports.blockingSleep = displays_.get();
  ports.gamma = gamma_.get();
  ports.idleTime = idle_->isAvailable() ? idleTime_.get() : nullptr;
  ports.inputMonitors = inputMonitors_.get();
  ports.notifications = &notifications_;
  ports.powerAssertions = powerAssertions_.get();
  ports.hotKeys = hotKeys_.get();
  ports.loginItems = loginItems_.get();
  return ports;
}

void DesktopBinding::announceTermination() {
  if (terminationAnnounced_) return;
  terminationAnnounced_ = true;
  notifications_.willTerminate.emit();
  session_->flush();
}

void DesktopBinding::quit() {
  announceTermination();
  QCoreApplication::quit();
}
