// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <vector>

// Calls back whenever one of the watched descriptors (the X11 connection, a
// D-Bus connection, a signal descriptor) has something to read.
class QtDescriptorWatch {
 public:
  void watch(int fd, std::function<void()> onReadable);
  // Stops calling back for `fd`. Safe from inside its own callback.
  void stop(int fd);
  void clear() { notifiers_.clear(); }

 private:
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
};
