// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <utility>

#include "base/Signal.hpp"

// An observable property: a value and a stream that carries each new value.
// Every assignment notifies, as the interface expects to refresh on each set.
template <typename T>
class Published {
 public:
  Published() = default;
  explicit Published(T initial) : value_(std::move(initial)) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  const T& get() const { return value_; }
  operator const T&() const { return value_; }

  void set(T value) {
    value_ = std::move(value);
    changed.emit(value_);
  }
  Published& operator=(T value) {
    set(std::move(value));
    return *this;
  }

  Signal<T> changed;

 private:
  T value_{};
};
