// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the settings window into PNG files, for the README:
// `window_screenshots OUTPUT_FOLDER LANGUAGE light|dark [SCENE]` (run under an
// X server; scripts/screenshots starts a private one). The scenes:
//   sections (the default)  every section open: window-LANGUAGE-LOOK.png
//   card                    the uninstall confirmation open: window-LANGUAGE-LOOK-card.png
//   desktop                 the displays open, taken from the screen with what
//                           lies behind the window (a compositing manager
//                           shows the desktop through the glass):
//                           window-LANGUAGE-LOOK-desktop.png
//   neighbour               the displays open, with GNOME's idle dimming on
//                           (its schema on a private keyfile): window-LANGUAGE-LOOK-neighbour.png
//   neighbour-off           the same after its "turn it off": window-LANGUAGE-LOOK-neighbour-off.png
// The models run on the simulated machine with two monitors, so the pictures
// do not depend on the machine they are made on.
#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <cstdio>
#include <string>

#include "../../menu/MenuTestSupport.hpp"
#include "platform/linux/GnomeIdleDimming.hpp"
#include "ui/MenuWindow.hpp"

namespace {
QPalette darkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(36, 37, 41));
  p.setColor(QPalette::WindowText, QColor(232, 232, 236));
  p.setColor(QPalette::Base, QColor(48, 49, 54));
  p.setColor(QPalette::AlternateBase, QColor(44, 45, 50));
  p.setColor(QPalette::Text, QColor(232, 232, 236));
  p.setColor(QPalette::Button, QColor(52, 53, 58));
  p.setColor(QPalette::ButtonText, QColor(232, 232, 236));
  p.setColor(QPalette::Mid, QColor(70, 71, 76));
  p.setColor(QPalette::Highlight, QColor(64, 140, 232));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::PlaceholderText, QColor(160, 160, 168));
  p.setColor(QPalette::ToolTipBase, QColor(52, 53, 58));
  p.setColor(QPalette::ToolTipText, QColor(232, 232, 236));
  return p;
}

class Scene final : public MenuTest {
 public:
  Scene(const std::string& language, bool allSections, bool desktopDims) {
    environment.languages = {language};
    machine.addExternalMonitor({.id = 1, .productName = "DELL U2720Q", .brightness = 100});
    machine.addExternalMonitor({.id = 2, .productName = "LG HDR 4K", .brightness = 100});
    if (desktopDims) {
      setenv("GSETTINGS_BACKEND", "keyfile", 1);
      setenv("XDG_CONFIG_HOME", configRoot.c_str(), 1);
      gnome = GnomeIdleDimming::open();
      desktopDimming = gnome.get();
    }
    makeMenu();
    menu->setDisplaysOpen(true);
    menu->setStepsOpen(allSections);
    menu->setAdvancedSettingsOpen(allSections);
  }
  void TestBody() override {}
  MenuViewState& state() { return *menu; }
  std::unique_ptr<GnomeIdleDimming> gnome;
  void settle() {
    loop.advance(1);  // the monitors' first reads answer, as they do within a second of start
    for (int i = 0; i < 10; ++i) {
      QCoreApplication::processEvents();
      loop.runPending();
    }
  }
};
}  // namespace

int main(int argc, char** argv) {
  const std::string scene = argc == 5 ? argv[4] : "sections";
  const bool neighbour = scene.starts_with("neighbour");
  if ((argc != 4 && argc != 5) ||
      (scene != "sections" && scene != "card" && scene != "desktop" && scene != "neighbour" && scene != "neighbour-off")) {
    std::fprintf(stderr,
                 "usage: window_screenshots OUTPUT_FOLDER en|ja light|dark [sections|card|desktop|neighbour|neighbour-off]\n");
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const bool dark = std::string(argv[3]) == "dark";
  QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
  Scene models(argv[2], scene == "sections", neighbour);
  MenuWindow window(models.state());
  window.showFrom(QRect(900, 0, 24, 24));
  models.settle();
  if (scene == "sections") {
    // Room for the whole body: the picture shows every row, not one screenful.
    models.state().anchor().setActive(false);
    models.state().heights().setScreenHeight(4000);
  }
  if (scene == "card") models.state().maintenance().requestUninstallPreparation();
  if (scene == "neighbour-off") models.state().desktopDimming().turnOff();
  models.settle();
  QString file = QString("%1/window-%2-%3.png").arg(argv[1], argv[2], argv[3]);
  QPixmap picture = window.grab();
  if (scene != "sections") file.replace(".png", QString::fromStdString("-" + scene + ".png"));
  if (scene == "desktop") {
    // The compositing manager paints the window over the desktop a moment after it changes.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 800) models.settle();
    const QRect around = window.frameGeometry().adjusted(-40, -24, 40, 24);
    picture = window.screen()->grabWindow(0, around.x(), around.y(), around.width(), around.height());
  }
  if (!picture.save(file)) {
    std::fprintf(stderr, "window_screenshots: cannot write %s\n", file.toUtf8().constData());
    return 1;
  }
  std::printf("%s\n", file.toUtf8().constData());
  return 0;
}
