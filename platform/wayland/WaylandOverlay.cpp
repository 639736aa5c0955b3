// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandOverlay.hpp"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/wayland/WaylandSession.hpp"
#include "services/AppLog.hpp"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

struct WaylandOverlay::Buffer {
  WaylandOverlay* owner = nullptr;
  wl_buffer* buffer = nullptr;
  void* pixels = MAP_FAILED;
  std::size_t bytes = 0;
  int width = 0;
  int height = 0;
  int stride = 0;
  bool busy = false;  // the compositor reads it until it says otherwise

  ~Buffer() {
    if (buffer) wl_buffer_destroy(buffer);
    if (pixels != MAP_FAILED) munmap(pixels, bytes);
  }
};

namespace {
using Buffer = WaylandOverlay::Buffer;

constexpr std::uint32_t kCompositorVersion = 4;  // damage in buffer coordinates

// A buffer of its own pool: the memory stays mapped after the pool and its descriptor go.
std::unique_ptr<Buffer> makeBuffer(wl_shm* shm, int width, int height, std::string& error) {
  auto buffer = std::make_unique<Buffer>();
  buffer->width = width;
  buffer->height = height;
  buffer->stride = width * 4;
  buffer->bytes = static_cast<std::size_t>(buffer->stride) * static_cast<std::size_t>(height);
  const int fd = memfd_create("dimmora-overlay", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(buffer->bytes)) != 0) {
    error = std::strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  buffer->pixels = mmap(nullptr, buffer->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (buffer->pixels == MAP_FAILED) {
    error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(buffer->bytes));
  buffer->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, buffer->stride, WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}
}  // namespace

WaylandOverlay::WaylandOverlay(WaylandSession& session, std::string nameSpace, Placement placement, Painter painter,
                               OutputScale outputScale)
    : session_(session),
      nameSpace_(std::move(nameSpace)),
      placement_(placement),
      painter_(std::move(painter)),
      outputScale_(std::move(outputScale)) {
  if (const auto global = session_.global(wl_compositor_interface.name))
    compositor_ = static_cast<wl_compositor*>(session_.bind(*global, &wl_compositor_interface, kCompositorVersion));
  if (const auto global = session_.global(wl_shm_interface.name))
    shm_ = static_cast<wl_shm*>(session_.bind(*global, &wl_shm_interface, 1));
  if (const auto global = session_.global(zwlr_layer_shell_v1_interface.name))
    layerShell_ = static_cast<zwlr_layer_shell_v1*>(
        session_.bind(*global, &zwlr_layer_shell_v1_interface, kLayerShellVersion));
}

WaylandOverlay::~WaylandOverlay() {
  destroySurface();
  buffers_.clear();
  if (layerShell_) {
    if (zwlr_layer_shell_v1_get_version(layerShell_) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION)
      zwlr_layer_shell_v1_destroy(layerShell_);
    else
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(layerShell_));
  }
  if (shm_) wl_shm_destroy(shm_);
  if (compositor_) wl_compositor_destroy(compositor_);
  session_.flush();
}

void WaylandOverlay::show() {
  if (!isOffered() || !session_.isAlive()) return;
  dirty_ = true;
  if (!surface_) {
    createSurface();
    return;  // painted when the compositor answers with the surface's size
  }
  paint();
}

void WaylandOverlay::hide() {
  destroySurface();
  // Buffers the compositor still holds are not drawn into again.
  std::erase_if(buffers_, [](const auto& buffer) { return buffer->busy; });
  session_.flush();
}

void WaylandOverlay::createSurface() {
  static const zwlr_layer_surface_v1_listener listener = {
      .configure =
          [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
            static_cast<WaylandOverlay*>(data)->configure(serial, width, height);
          },
      .closed =
          [](void* data, zwlr_layer_surface_v1*) {
            // The output went away, say: the next show starts afresh.
            static_cast<WaylandOverlay*>(data)->destroySurface();
          },
  };
  static const wl_surface_listener surfaceListener = {
      .enter = [](void* data, wl_surface*, wl_output* output) { static_cast<WaylandOverlay*>(data)->entered(output); },
      .leave = [](void*, wl_surface*, wl_output*) {},
  };
  surface_ = wl_compositor_create_surface(compositor_);
  wl_surface_add_listener(surface_, &surfaceListener, this);
  // Nothing here takes a click: an empty input region passes them to what is below.
  wl_region* none = wl_compositor_create_region(compositor_);
  wl_surface_set_input_region(surface_, none);
  wl_region_destroy(none);
  layerSurface_ = zwlr_layer_shell_v1_get_layer_surface(layerShell_, surface_, nullptr,
                                                        ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, nameSpace_.c_str());
  zwlr_layer_surface_v1_add_listener(layerSurface_, &listener, this);
  zwlr_layer_surface_v1_set_size(layerSurface_, placement_.width, placement_.height);
  zwlr_layer_surface_v1_set_anchor(layerSurface_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP);
  zwlr_layer_surface_v1_set_margin(layerSurface_, placement_.topMargin, 0, 0, 0);
  zwlr_layer_surface_v1_set_keyboard_interactivity(layerSurface_,
                                                    ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  zwlr_layer_surface_v1_set_exclusive_zone(layerSurface_, 0);
  configured_ = false;
  // The first commit carries no buffer: it asks the compositor for a configure.
  wl_surface_commit(surface_);
  session_.flush();
}

void WaylandOverlay::destroySurface() {
  if (layerSurface_) zwlr_layer_surface_v1_destroy(layerSurface_);
  if (surface_) wl_surface_destroy(surface_);
  layerSurface_ = nullptr;
  surface_ = nullptr;
  configured_ = false;
  presented_ = false;
}

void WaylandOverlay::configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(layerSurface_, serial);
  // Zero leaves the size to us, and we asked for a fixed one.
  width = width ? width : placement_.width;
  height = height ? height : placement_.height;
  if (width != width_ || height != height_) {
    buffers_.clear();
    width_ = width;
    height_ = height;
  }
  configured_ = true;
  dirty_ = true;
  paint();
}

void WaylandOverlay::entered(const wl_output* output) {
  const int scale = outputScale_ ? std::max(1, outputScale_(output)) : 1;
  if (scale == scale_) return;
  scale_ = scale;
  buffers_.clear();
  dirty_ = true;
  paint();
}

Buffer* WaylandOverlay::freeBuffer() {
  for (auto& buffer : buffers_)
    if (!buffer->busy) return buffer.get();
  if (buffers_.size() >= 2) return nullptr;
  std::string error;
  auto buffer = makeBuffer(shm_, static_cast<int>(width_) * scale_, static_cast<int>(height_) * scale_, error);
  if (!buffer) {
    AppLog::app.error("Cannot draw the overlay: no shared memory (" + error + ")");
    return nullptr;
  }
  static const wl_buffer_listener listener = {
      .release = [](void* data, wl_buffer*) {
        auto* buffer = static_cast<Buffer*>(data);
        buffer->owner->released(*buffer);
      },
  };
  buffer->owner = this;
  wl_buffer_add_listener(buffer->buffer, &listener, buffer.get());
  buffers_.push_back(std::move(buffer));
  return buffers_.back().get();
}

void WaylandOverlay::released(Buffer& buffer) {
  buffer.busy = false;
  if (dirty_) paint();
}

void WaylandOverlay::paint() {
  if (!surface_ || !configured_ || !dirty_) return;
  Buffer* buffer = freeBuffer();
  if (!buffer) return;  // both are on screen: painted again when one comes back
  std::memset(buffer->pixels, 0, buffer->bytes);
  painter_(static_cast<std::uint8_t*>(buffer->pixels), buffer->width, buffer->height, buffer->stride);
  wl_surface_set_buffer_scale(surface_, scale_);
  wl_surface_attach(surface_, buffer->buffer, 0, 0);
  if (wl_surface_get_version(surface_) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION)
    wl_surface_damage_buffer(surface_, 0, 0, buffer->width, buffer->height);
  else
    wl_surface_damage(surface_, 0, 0, buffer->width, buffer->height);
  wl_surface_commit(surface_);
  buffer->busy = true;
  dirty_ = false;
  presented_ = true;
  session_.flush();
  framePresented.emit();
}
