// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtMainLoop.hpp"

#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>

QtMainLoop::QtMainLoop() = default;
QtMainLoop::~QtMainLoop() = default;

double QtMainLoop::uptime() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count();
}

Qt::TimerType QtMainLoop::timerTypeFor(double interval, double tolerance) {
  // Coarse timers may fire up to 5 % late; very coarse ones round to whole seconds.
  if (tolerance >= 1.0 && interval >= 2.0) return Qt::VeryCoarseTimer;
  if (tolerance >= 0.05 * interval) return Qt::CoarseTimer;
  return Qt::PreciseTimer;
}

namespace {
int milliseconds(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  return static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2.0e9));
}
}  // namespace

ScheduledWork QtMainLoop::start(double interval, Qt::TimerType type, bool repeating, std::function<void()> work) {
  auto state = std::make_shared<detail::WorkState>();
  QPointer<QTimer> timer = new QTimer(&context_);
  timer->setSingleShot(!repeating);
  timer->setTimerType(type);
  timer->setInterval(milliseconds(interval));
  QObject::connect(timer, &QTimer::timeout, timer, [state, repeating, timer, work = std::move(work)] {
    if (state->cancelled) return;
    if (!repeating) {
      // A fired one-shot reports itself inactive, and its timer goes away.
      state->cancelled = true;
      state->onCancel = nullptr;
      if (timer) timer->deleteLater();
    }
    work();
  });
  state->onCancel = [timer] {
    if (timer) {
      timer->stop();
      timer->deleteLater();
    }
  };
  timer->start();
  return ScheduledWork(state);
}

ScheduledWork QtMainLoop::after(double seconds, std::function<void()> work) {
  return start(seconds, seconds < 1.0 ? Qt::PreciseTimer : Qt::CoarseTimer, false, std::move(work));
}

ScheduledWork QtMainLoop::every(double interval, double tolerance, std::function<void()> work) {
  return start(interval, timerTypeFor(interval, tolerance), true, std::move(work));
}

ScheduledWork QtMainLoop::post(std::function<void()> work) {
  auto state = std::make_shared<detail::WorkState>();
  QMetaObject::invokeMethod(
      &context_,
      [state, work = std::move(work)] {
        if (state->cancelled) return;
        state->cancelled = true;
        work();
      },
      Qt::QueuedConnection);
  return ScheduledWork(state);
}
