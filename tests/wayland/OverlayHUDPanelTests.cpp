// SPDX-License-Identifier: GPL-3.0-or-later
// The heads-up panel as a layer surface, driven through ShortcutHUD, against
// our own compositor, which reports what the client asked for and writes
// each frame to a file. Under sway the end-to-end tests photograph it.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <chrono>
#include <fstream>
#include <iterator>

#include "TestCompositorProcess.hpp"
#include "platform/qt/OverlayHUDPanel.hpp"
#include "platform/sim/VirtualMainLoop.hpp"
#include "services/ShortcutHUD.hpp"

namespace {
using namespace std::chrono_literals;

// Fonts and the accent colour need a GUI application; nothing is drawn through it.
struct GuiApplication {
  int argc = 1;
  char name[5] = "test";
  char* argv[2] = {name, nullptr};
  bool offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app{argc, argv};
};

// The value after "key=" in a report line.
std::string field(const std::string& line, const std::string& key) {
  const auto at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  const auto start = at + key.size() + 2;
  return line.substr(start, line.find(' ', start) - start);
}

QImage frame(const std::string& path, int width, int height) {
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() != static_cast<std::size_t>(width * height * 4)) return {};
  return QImage(reinterpret_cast<const uchar*>(bytes.data()), width, height, width * 4,
                QImage::Format_ARGB32_Premultiplied)
      .copy();
}

bool isAccent(QRgb pixel) {
  const QColor accent = QGuiApplication::palette().color(QPalette::Highlight);
  return qAlpha(pixel) == 255 && std::abs(qRed(pixel) - accent.red()) < 8 &&
         std::abs(qGreen(pixel) - accent.green()) < 8 && std::abs(qBlue(pixel) - accent.blue()) < 8;
}

// Pixels of the panel's middle bar row, counted from the bar's left end.
constexpr int barRow = 70;
constexpr int barLeft = 16;

int brightPixels(const QImage& image, const QRect& area, int threshold) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (qRed(image.pixel(x, y)) > threshold && qAlpha(image.pixel(x, y)) > 200) ++count;
  return count;
}

class OverlayPanel : public OwnCompositorTest {
 protected:
  OverlayPanel() { ShortcutHUD::resetForTesting(); }
  ~OverlayPanel() override { ShortcutHUD::usePorts(nullptr, nullptr); }
  GuiApplication gui;
  VirtualMainLoop loop;
};
}  // namespace

TEST_F(OverlayPanel, AClickThroughOverlayAtTheTopShowsTheLevelAndGoesAfterTheDelay) {
  OverlayHUDPanel panel(*session, loop, [&](const wl_output* output) { return outputs->scale(output); });
  ASSERT_TRUE(panel.isOffered());
  ShortcutHUD::usePorts(&panel, &loop);

  ShortcutHUD::shared().show("Brightness", 49.5);
  EXPECT_TRUE(panel.isVisible());
  ASSERT_TRUE(pumpUntil(*session, [&] { return panel.overlay().isPresented(); }, 2s));
  EXPECT_EQ(compositor.expect("layer surface", session.get()), "layer surface dimmora-hud");
  EXPECT_EQ(compositor.expect("layer configure", session.get()), "layer configure 240x86");
  const std::string first = compositor.expect("layer frame", session.get());
  ASSERT_FALSE(first.empty());
  // Overlay layer (3), anchored to the top edge (1) only, so centred across
  // the output, 28 below its usable top; no keyboard, no input, no reserved zone.
  EXPECT_EQ(first.substr(0, first.find(" file=")),
            "layer frame 240x86 layer=3 anchor=1 margin=28,0,0,0 zone=0 keyboard=0 input=empty scale=1 scope=dimmora-hud");

  QImage picture = frame(field(first, "file"), 240, 86);
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(qAlpha(picture.pixel(1, 1)), 0) << "the corners are rounded off";
  EXPECT_GT(qAlpha(picture.pixel(8, 43)), 200) << "the card is nearly opaque";
  EXPECT_LT(qRed(picture.pixel(8, 43)), 60) << "and dark";
  // 49.5 % of the 208-pixel bar is filled; the rest is the track.
  EXPECT_TRUE(isAccent(picture.pixel(barLeft + 100, barRow)));
  EXPECT_FALSE(isAccent(picture.pixel(barLeft + 106, barRow)));
  EXPECT_GT(qAlpha(picture.pixel(barLeft + 150, barRow)), 200);
  EXPECT_GT(brightPixels(picture, QRect(16, 34, 208, 26), 200), 60) << "the value is written";
  EXPECT_GT(brightPixels(picture, QRect(16, 12, 208, 16), 120), 10) << "the title is written, dimmer";

  // Half a second later the level changes: the same surface shows the new one at once.
  loop.advance(0.5);
  ShortcutHUD::shared().show("Brightness", 150);
  loop.runPending();
  const std::string second = compositor.expect("layer ", session.get());
  ASSERT_EQ(second.rfind("layer frame", 0), 0u) << second;
  picture = frame(field(second, "file"), 240, 86);
  ASSERT_FALSE(picture.isNull());
  EXPECT_TRUE(isAccent(picture.pixel(barLeft + 205, barRow))) << "a full bar at 100%";

  // The compositor closes the surface (its output went, say): the next change brings a new one.
  compositor.send("close");
  EXPECT_EQ(compositor.expect("layer ", session.get()), "layer unmapped");
  ASSERT_TRUE(pumpUntil(*session, [&] { return !panel.overlay().isShown(); }, 1s));
  loop.advance(0.3);
  ShortcutHUD::shared().show("Brightness", 150.5);
  loop.runPending();
  EXPECT_EQ(compositor.expect("layer surface", session.get()), "layer surface dimmora-hud");
  ASSERT_FALSE(compositor.expect("layer frame", session.get()).empty());

  // It stays until 0.9 s after the last change, then it is unmapped.
  loop.advance(0.85);
  EXPECT_TRUE(panel.isVisible());
  EXPECT_TRUE(panel.overlay().isShown());
  loop.advance(0.1);
  EXPECT_FALSE(panel.isVisible());
  EXPECT_EQ(compositor.expect("layer ", session.get()), "layer unmapped");

  // Shown again, it comes back as a new surface; on a scale-2 output, at twice the pixels, same size.
  compositor.send("plug DP-9 2");
  ASSERT_TRUE(pumpUntil(*session, [&] { return outputs->outputs().size() == 2; }, 2s));
  compositor.send("place DP-9");
  ShortcutHUD::shared().show("Brightness", 10);
  EXPECT_EQ(compositor.expect("layer surface", session.get()), "layer surface dimmora-hud");
  EXPECT_EQ(field(compositor.expect("layer frame", session.get()), "scale"), "1");
  const std::string sharp = compositor.expect("layer frame", session.get());
  EXPECT_EQ(sharp.substr(0, sharp.find(" layer=")), "layer frame 480x172") << "redrawn once it is on the dense output";
  EXPECT_EQ(field(sharp, "scale"), "2");
  picture = frame(field(sharp, "file"), 480, 172);
  ASSERT_FALSE(picture.isNull());
  EXPECT_TRUE(isAccent(picture.pixel(2 * barLeft + 36, 2 * barRow))) << "10% of the bar, in device pixels";
  EXPECT_FALSE(isAccent(picture.pixel(2 * barLeft + 46, 2 * barRow)));
  EXPECT_TRUE(session->isAlive());
}
