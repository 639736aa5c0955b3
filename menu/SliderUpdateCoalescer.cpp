// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/SliderUpdateCoalescer.hpp"

#include <utility>

void SliderUpdateCoalescer::submit(std::function<void()> action) {
  pending_ = std::move(action);
  if (workItem_.isActive()) return;  // the scheduled delivery will run the newest action
  const double remaining = interval_ - (loop_.uptime() - lastUpdate_);
  if (remaining <= 0) {
    flush();
    return;
  }
  // The handle cancels with the coalescer, so `this` never dangles.
  workItem_ = loop_.after(remaining, [this] { flush(); });
}

void SliderUpdateCoalescer::flush() {
  workItem_.cancel();
  if (!pending_) return;
  auto action = std::exchange(pending_, nullptr);
  lastUpdate_ = loop_.uptime();
  action();
}

void SliderUpdateCoalescer::cancel() {
  workItem_.cancel();
  pending_ = nullptr;
}
