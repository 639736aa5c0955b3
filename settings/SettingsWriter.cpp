// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsWriter.hpp"

#include <vector>

#include "base/MainLoop.hpp"

SettingsWriter::SettingsWriter(MainLoop* loop, Report report, Write write)
    : loop_(loop), write_(std::move(write)), shared_(std::make_shared<Shared>()) {
  shared_->report = std::move(report);
}

SettingsWriter::~SettingsWriter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->wake.notify_one();
  thread_.join();
  shared_->deliver();
}

void SettingsWriter::save(std::filesystem::path path, std::string bytes) {
  if (!loop_) {
    auto failure = write_(path, bytes);
    shared_->report(bytes, failure);
    return;
  }
  {
    std::lock_guard lock(shared_->mutex);
    shared_->waiting = Job{std::move(path), std::move(bytes)};
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  shared_->wake.notify_one();
}

void SettingsWriter::flush() {
  {
    std::unique_lock lock(shared_->mutex);
    shared_->written.wait(lock, [&] { return !shared_->waiting && !shared_->writing; });
  }
  shared_->deliver();
}

void SettingsWriter::run() {
  std::unique_lock lock(shared_->mutex);
  while (true) {
    shared_->wake.wait(lock, [&] { return shared_->waiting || shared_->stopping; });
    if (!shared_->waiting) return;  // stopping, with nothing left to write
    Job job = std::move(*shared_->waiting);
    shared_->waiting.reset();
    shared_->writing = true;
    lock.unlock();
    auto failure = write_(job.path, job.bytes);
    lock.lock();
    shared_->writing = false;
    shared_->outcomes.push_back({std::move(job.bytes), std::move(failure)});
    const bool idle = !shared_->waiting;
    lock.unlock();
    loop_->post([weak = std::weak_ptr<Shared>(shared_)] {
           if (const auto shared = weak.lock()) shared->deliver();
         }).detach();
    if (idle) shared_->written.notify_all();
    lock.lock();
  }
}

// On the main thread.
void SettingsWriter::Shared::deliver() {
  std::vector<Outcome> due;
  {
    std::lock_guard lock(mutex);
    due.swap(outcomes);
  }
  for (const auto& outcome : due) report(outcome.bytes, outcome.failure);
}
