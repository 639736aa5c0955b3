// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Numbers.hpp"

#include <charconv>
#include <system_error>

namespace {
template <typename T>
std::string shortest(T value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return {};
  return std::string(buffer, end);
}
}  // namespace

std::string formatShortest(double value) { return shortest(value); }
std::string formatShortest(float value) { return shortest(value); }
