// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/GammaRamps.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

float gammaFraction(std::uint16_t entry) { return static_cast<float>(entry) / 65535.0f; }

std::uint16_t gammaEntry(float fraction) {
  if (!std::isfinite(fraction)) return 0;
  return static_cast<std::uint16_t>(std::lround(std::clamp(fraction, 0.0f, 1.0f) * 65535.0f));
}

GammaTable gammaTable(const GammaRamps& ramps) {
  GammaTable table;
  for (const auto& [from, to] : {std::pair{&ramps.red, &table.red}, {&ramps.green, &table.green}, {&ramps.blue, &table.blue}})
    std::transform(from->begin(), from->end(), std::back_inserter(*to), gammaFraction);
  return table;
}

GammaRamps gammaRamps(const GammaTable& table) {
  GammaRamps ramps;
  for (const auto& [from, to] : {std::pair{&table.red, &ramps.red}, {&table.green, &ramps.green}, {&table.blue, &ramps.blue}})
    std::transform(from->begin(), from->end(), std::back_inserter(*to), gammaEntry);
  return ramps;
}

GammaRamps identityRamps(std::size_t count) {
  std::vector<std::uint16_t> channel(count);
  for (std::size_t i = 0; i < count; ++i)
    channel[i] = static_cast<std::uint16_t>(count < 2 ? 65535 : (i * 65535 + (count - 1) / 2) / (count - 1));
  return {channel, channel, channel};
}

bool looksDimmed(const GammaRamps& ramps) {
  std::uint16_t top = 0;
  for (const auto* channel : {&ramps.red, &ramps.green, &ramps.blue})
    if (!channel->empty()) top = std::max(top, *std::max_element(channel->begin(), channel->end()));
  return top < 0x8000;
}
