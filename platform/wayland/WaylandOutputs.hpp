// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Signal.hpp"
#include "platform/linux/SessionOutput.hpp"

class WaylandSession;
struct wl_output;
struct zxdg_output_manager_v1;

// The compositor's outputs. Version 4 of wl_output names each output after
// its kernel connector ("DP-1", "HDMI-A-1"); older compositors give the name
// through xdg-output. An output is listed once its name is known.
class WaylandOutputs {
 public:
  explicit WaylandOutputs(WaylandSession& session);
  ~WaylandOutputs();
  WaylandOutputs(const WaylandOutputs&) = delete;
  WaylandOutputs& operator=(const WaylandOutputs&) = delete;

  // The named outputs in the compositor's order, in the shape the display
  // directory joins with the kernel's connectors (no EDID: sysfs has it).
  std::vector<SessionOutput> outputs() const;
  wl_output* output(DisplayID displayID) const;
  std::optional<std::string> name(DisplayID displayID) const;
  // The output's scale (1 when unknown), for surfaces drawn at its pixel density.
  int scale(const wl_output* output) const;

  // The display ID of a named output: the same connector keeps the same ID
  // across reconnections and restarts, as the settings expect.
  static DisplayID displayIDForName(std::string_view name);

  // An output appeared, went away or was renamed.
  Signal<> changed;
  // Sent before the output's objects are destroyed, so users drop theirs first.
  Signal<DisplayID> removed;

  struct Output;

 private:
  void add(std::uint32_t globalName, std::uint32_t version);
  void remove(std::uint32_t globalName);
  void watchName(Output& output);

  WaylandSession& session_;
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  std::vector<std::unique_ptr<Output>> outputs_;
  Subscription added_;
  Subscription removedGlobal_;
};
