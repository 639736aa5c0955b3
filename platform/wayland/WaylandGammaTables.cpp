// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandGammaTables.hpp"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <vector>

#include "display/DDCBrightness/ControlStatusStore.hpp"
#include "platform/wayland/WaylandOutputs.hpp"
#include "platform/wayland/WaylandSession.hpp"
#include "platform/linux/GammaRamps.hpp"
#include "services/AppLog.hpp"
#include "wlr-gamma-control-unstable-v1-client-protocol.h"

namespace {
using Control = WaylandGammaTables::Control;

// The three ramps one after the other, in a file the compositor reads from its start.
int tableFile(const GammaRamps& ramps) {
  std::vector<std::uint16_t> table;
  table.reserve(ramps.red.size() * 3);
  for (const auto* channel : {&ramps.red, &ramps.green, &ramps.blue}) table.insert(table.end(), channel->begin(), channel->end());
  const int fd = memfd_create("dimmora-gamma", MFD_CLOEXEC);
  if (fd < 0) return -1;
  const auto bytes = static_cast<ssize_t>(table.size() * sizeof(std::uint16_t));
  if (write(fd, table.data(), static_cast<std::size_t>(bytes)) != bytes || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}
}  // namespace

WaylandGammaTables::WaylandGammaTables(WaylandSession& session, WaylandOutputs& outputs)
    : session_(session), outputs_(outputs) {
  if (const auto manager = session_.global(zwlr_gamma_control_manager_v1_interface.name))
    manager_ = static_cast<zwlr_gamma_control_manager_v1*>(
        session_.bind(*manager, &zwlr_gamma_control_manager_v1_interface, 1));
  // Both arrive while the connection is read, maybe inside one of our round
  // trips: entries are only marked here and dropped by control(), outside it.
  removed_ = outputs_.removed.connect([this](const DisplayID& displayID) {
    const auto it = controls_.find(displayID);
    if (it == controls_.end()) return;
    release(it->second);
    it->second.stale = true;
  });
  changed_ = outputs_.changed.connect([this] {
    // The holder may have let go, or the output come back: a refused control is asked for again on its next use.
    for (auto& [displayID, control] : controls_)
      if (control.failed && !control.stale) {
        control.stale = true;
        AppLog::app.log("Outputs changed: gamma control of " + outputs_.name(displayID).value_or("?") +
                        " will be asked for again");
      }
  });
}

WaylandGammaTables::~WaylandGammaTables() {
  for (auto& [id, control] : controls_) release(control);
  if (manager_) zwlr_gamma_control_manager_v1_destroy(manager_);
  session_.flush();
}

Control* WaylandGammaTables::control(DisplayID displayID) {
  if (!manager_) return nullptr;
  if (const auto it = controls_.find(displayID); it != controls_.end()) {
    if (!it->second.stale) return &it->second;
    controls_.erase(it);
  }
  if (!outputs_.output(displayID)) return nullptr;
  Control& control = controls_[displayID];
  control.owner = this;
  control.displayID = displayID;
  // Only to learn the size: held again when a table other than the identity is written.
  if (acquire(control)) release(control);
  return &control;
}

bool WaylandGammaTables::acquire(Control& control) {
  static const zwlr_gamma_control_v1_listener listener = {
      .gamma_size = [](void* data, zwlr_gamma_control_v1*,
                       std::uint32_t size) {
            auto* control = static_cast<Control*>(data);
            control->size = size;
            control->granted = true;
          },
      .failed =
          [](void* data, zwlr_gamma_control_v1*) {
            auto* control = static_cast<Control*>(data);
            control->owner->handleFailed(*control);
          },
  };
  wl_output* output = outputs_.output(control.displayID);
  if (!output || control.failed) return false;
  control.granted = false;
  control.proxy = zwlr_gamma_control_manager_v1_get_gamma_control(manager_, output);
  zwlr_gamma_control_v1_add_listener(control.proxy, &listener, &control);
  session_.roundtrip();
  return control.proxy && !control.failed;
}

void WaylandGammaTables::release(Control& control) {
  if (!control.proxy) return;
  zwlr_gamma_control_v1_destroy(control.proxy);
  control.proxy = nullptr;
  session_.flush();
}

void WaylandGammaTables::handleFailed(Control& control) {
  // Told `failed` before the table size: refused at the request. After it: taken back.
  control.revoked = control.granted;
  control.failed = true;
  release(control);
  const auto name = outputs_.name(control.displayID).value_or("?");
  if (control.revoked) {
    AppLog::app.error("The compositor took gamma control of " + name +
                      " back (another program took the output's tables, or they can no longer be applied)");
    controlFailed.emit(control.displayID);
  } else {
    AppLog::app.error("The compositor refused gamma control of " + name +
                      " (the output takes no gamma tables, or another program holds them)");
  }
}

std::uint32_t WaylandGammaTables::size(DisplayID displayID) {
  const Control* c = control(displayID);
  return c && !c->failed ? c->size : 0;
}

GammaTables::Result WaylandGammaTables::read(DisplayID displayID, GammaTable& table) {
  if (!manager_) return Result::noGamma;
  const Control* c = control(displayID);
  if (!c) return Result::noSuchOutput;
  if (c->failed || c->size == 0) return Result::noGamma;
  table = gammaTable(identityRamps(c->size));
  return Result::ok;
}

GammaTables::Result WaylandGammaTables::write(DisplayID displayID, const GammaTable& table) {
  if (!manager_) return Result::noGamma;
  Control* c = control(displayID);
  if (!c) return Result::noSuchOutput;
  if (c->failed) return Result::noGamma;
  // The compositor takes exactly the output's table size.
  if (table.size() == 0 || table.red.size() != c->size || table.green.size() != c->size ||
      table.blue.size() != c->size)
    return Result::invalidSize;
  const GammaRamps ramps = gammaRamps(table);
  if (ramps == identityRamps(c->size)) {
    release(*c);
    return Result::ok;
  }
  if (!c->proxy && !acquire(*c)) return Result::noGamma;
  const int fd = tableFile(ramps);
  if (fd < 0) return Result::failed;
  zwlr_gamma_control_v1_set_gamma(c->proxy, fd);
  close(fd);
  session_.flush();
  return Result::ok;
}

std::string_view WaylandGammaTables::unavailableReason(DisplayID displayID) {
  if (!manager_) return ControlStatus::gammaUnsupported;
  const auto it = controls_.find(displayID);
  if (it == controls_.end() || !it->second.failed || it->second.stale) return {};
  return it->second.revoked ? ControlStatus::gammaRevoked : ControlStatus::gammaRefused;
}
