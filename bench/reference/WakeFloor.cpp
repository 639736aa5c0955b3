// SPDX-License-Identifier: GPL-3.0-or-later
// The least a process can pay for waking four times a second on this
// machine: a bare poll loop ("poll"), or one 250 ms timer on Qt's event loop
// ("qt"). bench/resting.sh measures them beside the program, so its resting
// cost can be read against what the wake-ups alone cost.
#include <QCoreApplication>
#include <QTimer>
#include <cstring>
#include <poll.h>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "poll") == 0) {
    for (;;) ::poll(nullptr, 0, 250);
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
