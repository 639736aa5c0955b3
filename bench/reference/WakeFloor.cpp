// SPDX-License-Identifier: GPL-3.0-or-later
// What a process pays on this machine for doing nothing: a Qt program
// connected to the display that never wakes ("idle"), and for waking four
// times a second, as a bare poll loop ("poll") or one 250 ms timer on Qt's
// event loop ("qt"). bench/resting.sh measures them beside the program, so
// its resting cost can be read against what merely running costs.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <cstring>
#include <poll.h>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "poll") == 0) {
    for (;;) ::poll(nullptr, 0, 250);
  }
  if (argc == 2 && std::strcmp(argv[1], "idle") == 0) {
    QGuiApplication application(argc, argv);
    return application.exec();
  }
  if (argc != 2 || std::strcmp(argv[1], "qt") != 0) return 2;
  QCoreApplication application(argc, argv);
  QTimer tick;
  tick.setTimerType(Qt::CoarseTimer);
  tick.setInterval(250);
  QObject::connect(&tick, &QTimer::timeout, [] {});
  tick.start();
  return application.exec();
}
