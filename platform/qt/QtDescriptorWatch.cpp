// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtDescriptorWatch.hpp"

void QtDescriptorWatch::watch(int fd, std::function<void()> onReadable) {
  if (fd < 0) return;
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                   [onReadable = std::move(onReadable)] { onReadable(); });
  notifiers_.push_back(std::move(notifier));
}

void QtDescriptorWatch::stop(int fd) {
  // Disabled, not deleted: the notifier may be the one whose signal is running.
  for (const auto& notifier : notifiers_)
    if (notifier->socket() == fd) notifier->setEnabled(false);
}
