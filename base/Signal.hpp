// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace detail {
// Shared between a signal and its subscriptions, so either may die first.
struct SignalCore {
  virtual ~SignalCore() = default;
  virtual void disconnect(std::uint64_t id) = 0;
};
}  // namespace detail

// Keeps one connection alive; destroying or resetting it disconnects, so a
// subscriber that is gone is never called again.
class Subscription {
 public:
  Subscription() = default;
  Subscription(std::weak_ptr<detail::SignalCore> core, std::uint64_t id) : core_(std::move(core)), id_(id) {}
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  Subscription(Subscription&& other) noexcept : core_(std::move(other.core_)), id_(other.id_) { other.core_.reset(); }
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      core_ = std::move(other.core_);
      id_ = other.id_;
      other.core_.reset();
    }
    return *this;
  }
  ~Subscription() { reset(); }

  void reset() {
    if (auto core = core_.lock()) core->disconnect(id_);
    core_.reset();
  }
  bool isConnected() const { return !core_.expired(); }

 private:
  std::weak_ptr<detail::SignalCore> core_;
  std::uint64_t id_ = 0;
};

// A synchronous multicast stream. Slots may connect or disconnect (even
// themselves) while a value is being delivered.
template <typename... Args>
class Signal {
 public:
  using Slot = std::function<void(const Args&...)>;

  Signal() : core_(std::make_shared<Core>()) {}
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  [[nodiscard]] Subscription connect(Slot slot) {
    const auto id = ++core_->nextID;
    core_->slots.push_back({id, std::make_shared<Slot>(std::move(slot))});
    return Subscription(core_, id);
  }

  void emit(const Args&... args) const {
    // Deliver to a snapshot; a slot removed during delivery is skipped.
    const auto snapshot = core_->slots;
    for (const auto& entry : snapshot) {
      if (core_->isConnected(entry.id)) (*entry.slot)(args...);
    }
  }
  void operator()(const Args&... args) const { emit(args...); }

  std::size_t subscriberCount() const { return core_->slots.size(); }

 private:
  struct Entry {
    std::uint64_t id;
    std::shared_ptr<Slot> slot;
  };
  struct Core : detail::SignalCore {
    std::vector<Entry> slots;
    std::uint64_t nextID = 0;
    void disconnect(std::uint64_t id) override {
      std::erase_if(slots, [id](const Entry& e) { return e.id == id; });
    }
    bool isConnected(std::uint64_t id) const {
      for (const auto& e : slots)
        if (e.id == id) return true;
      return false;
    }
  };
  std::shared_ptr<Core> core_;
};
