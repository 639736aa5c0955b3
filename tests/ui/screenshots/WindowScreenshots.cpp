// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the settings window with every section open into PNG files, for the
// README: `window_screenshots OUTPUT_FOLDER LANGUAGE light|dark` (run under an
// X server; scripts/screenshots starts a private one). The models run on the
// simulated machine with two monitors, so the pictures do not depend on the
// machine they are made on.
#include <QApplication>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <cstdio>
#include <string>

#include "../../menu/MenuTestSupport.hpp"
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
  explicit Scene(const std::string& language) {
    environment.languages = {language};
    machine.addExternalMonitor({.id = 1, .productName = "DELL U2720Q", .brightness = 100});
    machine.addExternalMonitor({.id = 2, .productName = "LG HDR 4K", .brightness = 100});
    makeMenu();
    menu->setDisplaysOpen(true);
    menu->setStepsOpen(true);
    menu->setAdvancedSettingsOpen(true);
  }
  void TestBody() override {}
  MenuViewState& state() { return *menu; }
  void settle() {
    for (int i = 0; i < 10; ++i) {
      QCoreApplication::processEvents();
      loop.runPending();
    }
  }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: window_screenshots OUTPUT_FOLDER en|ja light|dark\n");
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const bool dark = std::string(argv[3]) == "dark";
  QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
  Scene scene(argv[2]);
  MenuWindow window(scene.state());
  window.showFrom(QRect(1000, 0, 24, 24));
  scene.settle();
  // Room for the whole body: the picture shows every row, not one screenful.
  scene.state().anchor().setActive(false);
  scene.state().heights().setScreenHeight(4000);
  scene.settle();
  const QString file = QString("%1/window-%2-%3.png").arg(argv[1], argv[2], argv[3]);
  if (!window.grab().save(file)) {
    std::fprintf(stderr, "window_screenshots: cannot write %s\n", file.toUtf8().constData());
    return 1;
  }
  std::printf("%s\n", file.toUtf8().constData());
  return 0;
}
