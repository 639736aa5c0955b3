// SPDX-License-Identifier: GPL-3.0-or-later
// The heads-up panel's real window on the private X server, driven through
// ShortcutHUD on the Qt main loop, and read back from the X server itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <functional>

#include "LinuxTestSupport.hpp"
#include "platform/qt/QtMainLoop.hpp"
#include "services/ShortcutHUD.hpp"
#include "ui/HUDPanelView.hpp"

// Xlib's macros (None, Status, ...) clash with the names above; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#if defined(__SANITIZE_ADDRESS__)
// A GUI application connects Qt to the session bus, and libdbus keeps one
// buffer until exit (the end-to-end runs suppress the same leak).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
#endif

namespace {
// Runs the Qt loop until `done` holds, for at most `limitMs` of real time.
bool pumpUntil(const std::function<bool()>& done, int limitMs = 2000) {
  QElapsedTimer clock;
  clock.start();
  QTimer tick;  // wakes the loop so that X server state is re-checked
  tick.start(5);
  while (!done()) {
    if (clock.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

int mapState(Display* x, Window window) {
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(x, window, &attributes)) return -1;
  return attributes.map_state;
}
}  // namespace

TEST(HUDPanelView, ShortcutShowsAClickThroughPanelAtTheTopAndHidesItAfterTheDelay) {
  REQUIRE_X_SERVER();
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  QtMainLoop loop;
  HUDPanelView panel;
  ShortcutHUD::usePorts(&panel, &loop);
  struct Reset {
    ~Reset() { ShortcutHUD::usePorts(nullptr, nullptr); }
  } reset;
  const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  ASSERT_NE(display, nullptr);
  Display* x = display.get();

  ShortcutHUD::shared().show("Brightness", 49.5);
  EXPECT_TRUE(panel.isVisible());
  EXPECT_EQ(std::tuple(panel.titleText(), panel.valueText(), panel.alpha()), std::tuple("Brightness", "50%", 1));
  EXPECT_EQ(panel.trackWidth(), HUDPanel::width - 2 * HUDPanel::horizontalInset);
  EXPECT_DOUBLE_EQ(panel.fillWidth(), 0.495 * 208);  // 49.5 % of the 208-point track, not the rounded 50 %
  // The window paints the bar as far as the level goes.
  const QImage picture = panel.grab().toImage();
  const QColor accent = panel.palette().color(QPalette::Highlight);
  EXPECT_EQ(picture.pixelColor(16 + 100, 70), accent);
  EXPECT_NE(picture.pixelColor(16 + 106, 70), accent);

  const auto window = static_cast<Window>(panel.winId());
  ASSERT_TRUE(pumpUntil([&] { return mapState(x, window) == IsViewable; })) << "the panel was never mapped";
  XWindowAttributes attributes{};
  ASSERT_TRUE(XGetWindowAttributes(x, window, &attributes));
  const QRect frame = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(QRect(attributes.x, attributes.y, attributes.width, attributes.height),
            QRect(frame.x() + frame.width() / 2 - 120, frame.y() + 28, 240, 86));
  EXPECT_TRUE(attributes.override_redirect) << "a window manager would frame, move or focus it";
  // Click-through: an empty input shape sends every click to the window below.
  int rectangles = -1;
  int ordering = 0;
  if (XRectangle* shape = XShapeGetRectangles(x, window, ShapeInput, &rectangles, &ordering)) XFree(shape);
  EXPECT_EQ(rectangles, 0);
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(x, &focus, &revert);
  EXPECT_NE(focus, window);

  // A second press while it is up updates it in place and restarts the hide.
  panel.move(attributes.x + 10, attributes.y);
  ShortcutHUD::shared().show("Brightness", 150);
  QElapsedTimer sinceLastShow;
  sinceLastShow.start();
  EXPECT_EQ(panel.valueText(), "100%");
  EXPECT_EQ(panel.fillWidth(), 208);
  EXPECT_EQ(panel.x(), attributes.x + 10);

  ASSERT_TRUE(pumpUntil([&] { return !panel.isVisible(); })) << "the panel never hid";
  EXPECT_GE(sinceLastShow.elapsed(), 890);
  EXPECT_TRUE(pumpUntil([&] { return mapState(x, window) == IsUnmapped; })) << "hidden but still mapped";
}
