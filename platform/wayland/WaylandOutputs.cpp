// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandOutputs.hpp"

#include <wayland-client.h>

#include <algorithm>

#include "platform/wayland/WaylandSession.hpp"
#include "xdg-output-unstable-v1-client-protocol.h"

struct WaylandOutputs::Output {
  WaylandOutputs* owner = nullptr;
  std::uint32_t globalName = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  std::string name;
  bool done = false;  // the first complete set of properties arrived
  int scale = 1;      // device pixels per surface unit

  DisplayID id() const { return displayIDForName(name); }
  bool isListed() const { return done && !name.empty(); }

  void setName(const char* text) {
    if (name == text) return;
    const bool wasListed = isListed();
    if (wasListed) owner->removed.emit(id());
    name = text;
    if (wasListed) owner->changed.emit();
  }
};

namespace {
using Output = WaylandOutputs::Output;

const wl_output_listener outputListener = {
    .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   const char*, const char*, std::int32_t) {},
    .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
    .done =
        [](void* data, wl_output*) {
          auto* output = static_cast<Output*>(data);
          if (output->done) return;
          output->done = true;
          if (output->isListed()) output->owner->changed.emit();
        },
    .scale = [](void* data, wl_output*, std::int32_t scale) { static_cast<Output*>(data)->scale = std::max(1, scale); },
    .name = [](void* data, wl_output*, const char* name) { static_cast<Output*>(data)->setName(name); },
    .description = [](void*, wl_output*, const char*) {},
};

const zxdg_output_v1_listener xdgOutputListener = {
    .logical_position = [](void*, zxdg_output_v1*, std::int32_t, std::int32_t) {},
    .logical_size = [](void*, zxdg_output_v1*, std::int32_t, std::int32_t) {},
    .done = [](void*, zxdg_output_v1*) {},
    .name =
        [](void* data, zxdg_output_v1*, const char* name) {
          auto* output = static_cast<Output*>(data);
          const bool wasListed = output->isListed();
          output->setName(name);
          if (!wasListed && output->isListed()) output->owner->changed.emit();
        },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

constexpr std::uint32_t kOutputVersion = 4;  // the version that names outputs

void destroyProxies(Output& output) {
  if (output.xdgOutput) zxdg_output_v1_destroy(output.xdgOutput);
  if (wl_output_get_version(output.output) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
    wl_output_release(output.output);
  else
    wl_output_destroy(output.output);
}
}  // namespace

WaylandOutputs::WaylandOutputs(WaylandSession& session) : session_(session) {
  if (const auto manager = session_.global(zxdg_output_manager_v1_interface.name))
    xdgOutputs_ = static_cast<zxdg_output_manager_v1*>(session_.bind(*manager, &zxdg_output_manager_v1_interface, 3));
  for (const auto& global : session_.globals())
    if (global.interface == wl_output_interface.name) add(global.name, global.version);
  added_ = session_.globalAdded.connect([this](const WaylandSession::Global& global) {
    if (global.interface == wl_output_interface.name) add(global.name, global.version);
  });
  removedGlobal_ = session_.globalRemoved.connect([this](const std::uint32_t& name) { remove(name); });
}

WaylandOutputs::~WaylandOutputs() {
  for (auto& output : outputs_) destroyProxies(*output);
  if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
}

DisplayID WaylandOutputs::displayIDForName(std::string_view name) {
  // FNV-1a: a fixed function of the connector name; 0 means "no display" to the core.
  std::uint32_t hash = 2166136261u;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash == 0 ? 1 : hash;
}

void WaylandOutputs::add(std::uint32_t globalName, std::uint32_t version) {
  auto output = std::make_unique<Output>();
  output->owner = this;
  output->globalName = globalName;
  output->output = static_cast<wl_output*>(
      session_.bind(WaylandSession::Global{globalName, wl_output_interface.name, version}, &wl_output_interface,
                    kOutputVersion));
  wl_output_add_listener(output->output, &outputListener, output.get());
  if (wl_output_get_version(output->output) < WL_OUTPUT_NAME_SINCE_VERSION) watchName(*output);
  outputs_.push_back(std::move(output));
}

void WaylandOutputs::watchName(Output& output) {
  if (!xdgOutputs_ || zxdg_output_manager_v1_get_version(xdgOutputs_) < ZXDG_OUTPUT_V1_NAME_SINCE_VERSION) return;
  output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, output.output);
  zxdg_output_v1_add_listener(output.xdgOutput, &xdgOutputListener, &output);
}

void WaylandOutputs::remove(std::uint32_t globalName) {
  for (auto it = outputs_.begin(); it != outputs_.end(); ++it) {
    if ((*it)->globalName != globalName) continue;
    std::unique_ptr<Output> output = std::move(*it);
    outputs_.erase(it);
    const bool wasListed = output->isListed();
    if (wasListed) removed.emit(output->id());
    destroyProxies(*output);
    if (wasListed) changed.emit();
    return;
  }
}

std::vector<SessionOutput> WaylandOutputs::outputs() const {
  std::vector<SessionOutput> list;
  for (const auto& output : outputs_) {
    if (!output->isListed()) continue;
    SessionOutput entry;
    entry.id = output->id();
    entry.name = output->name;
    entry.online = true;  // a compositor lists only outputs that show something
    list.push_back(std::move(entry));
  }
  return list;
}

wl_output* WaylandOutputs::output(DisplayID displayID) const {
  for (const auto& output : outputs_)
    if (output->isListed() && output->id() == displayID) return output->output;
  return nullptr;
}

std::optional<std::string> WaylandOutputs::name(DisplayID displayID) const {
  for (const auto& output : outputs_)
    if (output->isListed() && output->id() == displayID) return output->name;
  return std::nullopt;
}

int WaylandOutputs::scale(const wl_output* output) const {
  for (const auto& o : outputs_)
    if (o->output == output) return o->scale;
  return 1;
}
