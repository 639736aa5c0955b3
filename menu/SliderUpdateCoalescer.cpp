// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu/SliderUpdateCoalescer.hpp"

#include <utility>

#include "ports/SystemPorts.hpp"

void SliderUpdateCoalescer::submit(std::function<void()> action) {
  pending_ = std::move(action);
  if (workItem_.isActive()) return;  // the scheduled delivery will run the newest action
  MainLoop* loop = systemPorts().mainLoop;
  const double remaining = loop ? interval_ - (loop->uptime() - lastUpdate_) : 0;
  if (remaining <= 0) {
    flush();
    return;
  }
  // The handle cancels with the coalescer, so `this` never dangles.
  workItem_ = loop->after(remaining, [this] { flush(); });
}

void SliderUpdateCoalescer::flush() {
  workItem_.cancel();
  if (!pending_) return;
  auto action = std::exchange(pending_, nullptr);
  if (MainLoop* loop = systemPorts().mainLoop) lastUpdate_ = loop->uptime();
  action();
}

void SliderUpdateCoalescer::cancel() {
  workItem_.cancel();
  pending_ = nullptr;
}
