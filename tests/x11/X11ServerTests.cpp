// SPDX-License-Identifier: GPL-3.0-or-later
// Against the private X server scripts/test starts (Xorg with the dummy
// driver: RandR outputs with real gamma ramps).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cctype>
#include <regex>
#include <functional>
#include <thread>

#include "linux/LinuxTestSupport.hpp"
#include "linux/ThrowawayServer.hpp"
#include "display/DisplayIdentity.hpp"
#include "display/Edid.hpp"
#include "platform/linux/DisplayDirectory.hpp"
#include "platform/linux/LinuxDisplayPorts.hpp"
#include "platform/linux/PortalGlobalShortcuts.hpp"
#include "platform/x11/RandrScreen.hpp"
#include "platform/x11/X11GammaTables.hpp"
#include "platform/x11/X11GlobalShortcuts.hpp"
#include "platform/x11/X11Input.hpp"
#include "platform/x11/X11Session.hpp"
#include "services/GlobalHotKeyManager.hpp"


// Xlib's macros (None, Status, ...) clash with GoogleTest's names; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/Xrandr.h>

namespace {
// The "Brightness:" xrandr derives from the output's gamma ramps.
std::string xrandrBrightness() {
  const auto text = run("xrandr --verbose");
  const auto at = text.find("Brightness: ");
  if (at == std::string::npos) return "";
  return text.substr(at + 12, text.find('\n', at) - at - 12);
}

// Reads events until `done` holds, for at most `limit` of real time.
bool pumpUntil(X11Session& session, const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    session.processPending();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A connection to the shared server, and its first online output.
class X11Server : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_X_SERVER();
    session = X11Session::open();
    ASSERT_TRUE(session);
    randr.emplace(*session);
    for (const auto& o : randr->outputs())
      if (o.isOnline() && !output) output = o;
  }
  std::unique_ptr<X11Session> session;
  std::optional<RandrScreen> randr;
  std::optional<RandrOutput> output;
};
}  // namespace

TEST_F(X11Server, DiscoveryReadsOutputsAndTheirEdidProperty) {
  ASSERT_TRUE(randr->isAvailable());
  ASSERT_TRUE(output);

  // Give the dummy output the EDID of a monitor, as a real driver would.
  const auto edid = makeEdid("GSM", 0x5B8F, 1234, "LG HDR 4K");
  Display* display = session->display();
  const Atom edidAtom = XInternAtom(display, "EDID", False);
  XRRChangeOutputProperty(display, output->id, edidAtom, XA_INTEGER, 8, PropModeReplace, edid.data(),
                          static_cast<int>(edid.size()));
  XSync(display, False);
  session->processPending();  // as the main loop does: the property notification drops the cached topology

  TempTree tree;  // no kernel connectors: identity comes from the server alone
  DisplayDirectory directory([&] { return randr->sessionOutputs(); }, DrmConnectors(tree.path("sys"), tree.path("dev"), nullptr),
                             Backlight(tree.path("sys")));
  const auto& list = directory.refresh();
  const LinuxDisplay* found = directory.display(output->id);
  ASSERT_TRUE(found);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(found->edid, edid);
  const auto info = displayInfoFrom(LinuxDisplayPorts::factsOf(*found));
  EXPECT_EQ(info.productName, "LG HDR 4K");
  EXPECT_EQ(info.model, 0x5B8Fu);
  EXPECT_EQ(info.stableKey, edidStableKey(edid));
  EXPECT_FALSE(found->connector);

  // Until RandR reports a change, listing the displays asks the server nothing.
  const auto before = NextRequest(display);
  directory.refresh();
  randr->gammaSize(output->id);
  EXPECT_EQ(NextRequest(display), before);

  XRRDeleteOutputProperty(display, output->id, edidAtom);
  XSync(display, False);
  session->processPending();
  EXPECT_TRUE(directory.refresh().front().edid.empty());
}

TEST_F(X11Server, GammaScalesAndRestoresAsSeenByXrandr) {
  ASSERT_TRUE(output);
  TempTree tree;
  X11GammaTables gamma(*randr, std::make_unique<GammaStash>(tree.folder("run"), "/proc", session->name(), getpid()));

  const auto size = gamma.size(output->id);
  ASSERT_GT(size, 1u);
  GammaTable original;
  ASSERT_EQ(gamma.read(output->id, original), GammaTables::Result::ok);
  ASSERT_EQ(original.size(), size);
  EXPECT_EQ(xrandrBrightness(), "1.0");

  const auto scaled = [](GammaTable table, float factor) {
    for (auto* channel : {&table.red, &table.green, &table.blue})
      for (float& entry : *channel) entry *= factor;
    return table;
  };
  ASSERT_EQ(gamma.write(output->id, scaled(original, 0.5f)), GammaTables::Result::ok);
  EXPECT_EQ(xrandrBrightness(), "0.50");
  const auto stash = tree.path("run/gamma-" + std::to_string(getpid()) + ".json");
  EXPECT_TRUE(std::filesystem::exists(stash));  // a crash now would be undone by the next start

  // A fade frame: one request, sent at once.
  const auto before = NextRequest(session->display());
  ASSERT_EQ(gamma.write(output->id, scaled(original, 0.25f)), GammaTables::Result::ok);
  EXPECT_EQ(NextRequest(session->display()), before + 1);
  EXPECT_EQ(xrandrBrightness(), "0.25");

  // Wrong sizes and unknown displays are refused without touching the screen.
  GammaTable shorter = scaled(original, 0.1f);
  shorter.blue.pop_back();
  EXPECT_EQ(gamma.write(output->id, shorter), GammaTables::Result::invalidSize);
  EXPECT_EQ(gamma.write(0xDEAD, original), GammaTables::Result::noSuchOutput);
  EXPECT_EQ(xrandrBrightness(), "0.25");

  ASSERT_EQ(gamma.write(output->id, original), GammaTables::Result::ok);
  EXPECT_EQ(xrandrBrightness(), "1.0");
  EXPECT_FALSE(std::filesystem::exists(stash));
}

TEST_F(X11Server, IdleTimeStaysExactWithoutAskingTheServerAtRest) {
  auto witness = X11Session::open();
  ASSERT_TRUE(witness);
  X11IdleTime idle(*session);
  ASSERT_TRUE(idle.isAvailable());
  X11RawInput raw(*session);
  ASSERT_TRUE(raw.isAvailable());
  ASSERT_TRUE(raw.setEnabled(true));
  std::vector<RawInputEvent> seen;
  auto subscription = raw.events.connect([&](const RawInputEvent& e) { seen.push_back(e); });
  // What a fresh reader gets from the server right now.
  auto truth = [&] { return *X11IdleTime(*witness).secondsSinceLastInput(); };

  run("xdotool key a");
  ASSERT_TRUE(pumpUntil(*session, [&] { return seen.size() == 2; }));  // the press and its release
  EXPECT_EQ(seen.front().kind, RawInputEvent::Kind::keyDown);
  EXPECT_EQ(seen.front().keySymbol, static_cast<unsigned long>('a'));
  const auto justNow = idle.secondsSinceLastInput();
  ASSERT_TRUE(justNow);
  EXPECT_LT(*justNow, 1.0);

  // At rest it grows with the clock, and a tick's fourteen asks send nothing.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const auto before = NextRequest(session->display());
  double later = 0;
  for (int ask = 0; ask < 14; ++ask) later = *idle.secondsSinceLastInput();
  EXPECT_EQ(NextRequest(session->display()), before);
  EXPECT_GE(later, *justNow + 0.3);
  EXPECT_NEAR(later, truth(), 0.02);

  // Input injected through XTEST resets it: a key, then a mouse motion alone.
  run("xdotool key shift");
  EXPECT_TRUE(pumpUntil(*session, [&] { return *idle.secondsSinceLastInput() < 0.2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_GE(*idle.secondsSinceLastInput(), 0.35);
  run("xdotool mousemove_relative 3 3");
  EXPECT_TRUE(pumpUntil(*session, [&] { return *idle.secondsSinceLastInput() < 0.2; }));
  EXPECT_NEAR(*idle.secondsSinceLastInput(), truth(), 0.02);

  // The alarms: the counter reaching a length, and the next input, motion alone included.
  int reached = 0, resumed = 0;
  auto onReach = idle.reached.connect([&] { ++reached; });
  auto onResume = idle.resumed.connect([&] { ++resumed; });
  ASSERT_TRUE(idle.armReach(0.5));
  ASSERT_TRUE(pumpUntil(*session, [&] { return reached == 1; }));
  EXPECT_NEAR(truth(), 0.5, 0.1);
  ASSERT_TRUE(idle.armResume());
  pumpUntil(*session, [] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(resumed, 0);
  run("xdotool mousemove_relative 3 3");
  EXPECT_TRUE(pumpUntil(*session, [&] { return resumed == 1; }));
  EXPECT_EQ(reached, 1);
}

// The settings file's keys reach both bindings as the keys they name.
TEST(GlobalShortcutNames, EveryTableKeyIsItsOwnKeysymForGrabsAndThePortal) {
  using Modifier = GlobalShortcuts::Modifier;
  for (const auto& row : hotKeyTable()) {
    const KeySym symbol = XStringToKeysym(std::string(row.keyName).c_str());
    // A printable key's keysym is its Latin-1 code.
    EXPECT_EQ(symbol, row.key.size() == 1 ? static_cast<unsigned char>(row.key[0]) : row.key == "f1" ? XK_F1 : XK_F2)
        << row.key;
    EXPECT_TRUE(PortalGlobalShortcuts::preferredTrigger(*hotKeyCombination(row.key))) << row.key;
  }
  EXPECT_EQ(PortalGlobalShortcuts::preferredTrigger(*hotKeyCombination("f2")), "CTRL+ALT+SHIFT+F2");
  EXPECT_EQ(PortalGlobalShortcuts::preferredTrigger(*hotKeyCombination("]")), "CTRL+ALT+bracketright");
  EXPECT_FALSE(PortalGlobalShortcuts::preferredTrigger({"no_such_key", {Modifier::control}}));
  EXPECT_EQ(X11GlobalShortcuts::modifierMask(hotKeyModifiers("f1")), ControlMask | Mod1Mask | ShiftMask);
  EXPECT_EQ(X11GlobalShortcuts::modifierMask(hotKeyModifiers("r")), ControlMask | Mod1Mask);
}

TEST_F(X11Server, AGrabbedShortcutArrivesAndAHeldOneIsRefusedWithItsReason) {
  auto rival = X11Session::open();
  ASSERT_TRUE(rival);
  X11HotKeys keys(*session);
  X11GlobalShortcuts service(keys);
  using Modifier = GlobalShortcuts::Modifier;
  const std::vector<Modifier> controlAlt{Modifier::control, Modifier::alt};
  int pressed = 0;
  const auto restore = service.registerShortcut(HotKeyID::restore, {"r", controlAlt}, [&] { ++pressed; });
  ASSERT_TRUE(std::holds_alternative<GlobalShortcuts::Handle>(restore));

  run("xdotool key ctrl+alt+r");
  ASSERT_TRUE(pumpUntil(*session, [&] { return pressed > 0; }));
  EXPECT_EQ(pressed, 1);

  // Another client holds Control+Alt+Y: our registration is refused as taken.
  X11HotKeys rivalKeys(*rival);
  ASSERT_EQ(rivalKeys.grab(1, 'y', ControlMask | Mod1Mask), 0);
  const auto noop = [] {};
  EXPECT_EQ(service.registerShortcut(HotKeyID::increaseMax, {"y", controlAlt}, noop),
            GlobalShortcuts::Registration(GlobalShortcuts::Refusal::taken));
  // Our own combination twice is refused too, and the first stays working.
  EXPECT_EQ(service.registerShortcut(HotKeyID::decreaseMax, {"r", controlAlt}, noop),
            GlobalShortcuts::Registration(GlobalShortcuts::Refusal::taken));
  EXPECT_EQ(service.registerShortcut(HotKeyID::decreaseMax, {"no_such_key", controlAlt}, noop),
            GlobalShortcuts::Registration(GlobalShortcuts::Refusal::unknownKey));

  service.unregisterShortcut(std::get<GlobalShortcuts::Handle>(restore));
  pressed = 0;
  run("xdotool key ctrl+alt+r");
  pumpUntil(*session, [] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(pressed, 0);
}

TEST_F(X11Server, AServerThatGoesAwayIsALoggedFailureNotAnExit) {
  ThrowawayServer server({"Xvfb", "-nolisten", "tcp", "-noreset"});
  auto& lone = server.session();
  ASSERT_TRUE(lone) << "Xvfb did not start";
  RandrScreen loneRandr(*lone);
  X11IdleTime idle(*lone);
  int lost = 0;
  auto subscription = lone->lost.connect([&] { ++lost; });
  ScopedLogRecorder log;

  server.stop();
  // The next requests notice; each reports failure and the process carries on.
  lone->processPending();
  EXPECT_TRUE(loneRandr.outputs().empty());
  EXPECT_FALSE(idle.secondsSinceLastInput());
  EXPECT_FALSE(lone->isAlive());
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(log->contains("The connection to the X server was lost"));
}

// A desktop's own Xorg: console switching left on and the standard keymap, where
// Control+Alt+F1... switch to a text console and never reach a client.
TEST_F(X11Server, EveryOfferedChordArrivesOnceUnderTheStandardKeymap) {
  const char* shared = std::getenv("DIMMORA_XORG_CONF");
  ASSERT_TRUE(shared) << "scripts/test.d/xserver.sh exports the Xorg configuration";
  TempTree tree;
  const auto conf = tree.write("xorg.conf", std::regex_replace(readTextFile(shared).value_or(""), std::regex(".*DontVTSwitch.*\n"), ""));
  ThrowawayServer server({"Xorg", "-config", conf.string(), "-configdir", tree.folder("none").string(), "-logfile",
                          tree.path("xorg.log").string(), "-noreset", "-nolisten", "tcp"});
  auto& desktop = server.session();
  ASSERT_TRUE(desktop) << "Xorg did not start";
  server.run("setxkbmap -rules evdev -model pc105 -layout us");
  server.run("xset r rate 100 50");  // repeat after 100 ms, every 20 ms
  ASSERT_NE(server.run("xkbcomp -xkb $DISPLAY - 2>/dev/null").find("SwitchScreen"), std::string::npos)
      << "the keymap carries the console-switch actions";

  X11HotKeys keys(*desktop);
  X11GlobalShortcuts service(keys);
  GlobalHotKeyManager manager(&service);
  std::vector<HotKeyID> pressed;
  manager.onHotKey = [&](HotKeyID id) { pressed.push_back(id); };
  int keyPresses = 0;  // every press the server sends, auto-repeat included
  auto counting = desktop->onEvent([&](XEvent& event) { keyPresses += event.type == KeyPress; });

  // The chord each key is offered with, as the labels spell it, in xdotool's words.
  auto chord = [](const std::string& key) {
    std::string label = hotKeyModifierLabel(key);
    std::transform(label.begin(), label.end(), label.begin(), [](unsigned char c) { return std::tolower(c); });
    return label + (key.size() > 1 ? "F" + key.substr(1) : key);
  };
  for (const auto& [increase, decrease] : {std::pair<std::string, std::string>{"f1", "f2"}, {"u", "j"}}) {
    manager.update(increase, decrease);
    ASSERT_EQ(manager.registrations().size(), 3u) << increase << " " << decrease;
    pressed.clear();
    for (const auto& key : {increase, decrease, std::string("r")}) server.run("xdotool key " + chord(key));
    pumpUntil(*desktop, [&] { return pressed.size() >= 3; });
    EXPECT_EQ(pressed, (std::vector<HotKeyID>{HotKeyID::increaseMax, HotKeyID::decreaseMax, HotKeyID::restore}))
        << increase << " " << decrease;
  }

  // Held for half a second, the key repeats many times and still steps once.
  pressed.clear();
  keyPresses = 0;
  server.run("xdotool keydown " + chord("u") + " sleep 0.5 keyup " + chord("u"));
  pumpUntil(*desktop, [&] { return false; }, std::chrono::milliseconds(300));
  EXPECT_GT(keyPresses, 5) << "the server repeated the held key";
  EXPECT_EQ(pressed, (std::vector<HotKeyID>{HotKeyID::increaseMax}));
}
