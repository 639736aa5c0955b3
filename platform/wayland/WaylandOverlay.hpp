// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Signal.hpp"

class WaylandSession;
struct wl_buffer;
struct wl_callback;
struct wl_compositor;
struct wl_output;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

// A small surface above every window, on the layer shell's overlay layer,
// drawn on our own connection in shared memory: no keyboard focus, an empty
// input region so clicks reach whatever is below, anchored to the top edge
// of the output the compositor picks (the one the user works on) and centred
// across it. The compositor keeps it out of panels' reserved zones.
//
// Each show makes a fresh layer surface and each hide destroys it, which is
// the one unmapping every compositor version handles alike. On an output of
// scale 2 or more it is drawn at the output's pixel density, not magnified.
class WaylandOverlay {
 public:
  struct Placement {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::int32_t topMargin = 0;
  };
  // Paints the whole surface: premultiplied ARGB, native byte order, rows `stride` bytes apart.
  using Painter = std::function<void(std::uint8_t* pixels, int width, int height, int stride)>;
  // The scale of an output the surface entered.
  using OutputScale = std::function<int(const wl_output*)>;

  static constexpr std::uint32_t kLayerShellVersion = 4;

  WaylandOverlay(WaylandSession& session, std::string nameSpace, Placement placement, Painter painter,
                 OutputScale outputScale);
  ~WaylandOverlay();
  WaylandOverlay(const WaylandOverlay&) = delete;
  WaylandOverlay& operator=(const WaylandOverlay&) = delete;

  // The compositor offers a layer shell and shared memory.
  bool isOffered() const { return compositor_ && shm_ && layerShell_; }

  // Puts the surface on screen (painted once the compositor has sized it) or
  // repaints it with what the painter draws now.
  void show();
  void hide();
  bool isShown() const { return surface_ != nullptr; }
  // A painted frame is on screen.
  bool isPresented() const { return presented_; }

  // A frame was handed to the compositor.
  Signal<> framePresented;

  struct Buffer;

 private:
  void createSurface();
  void destroySurface();
  void configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height);
  void entered(const wl_output* output);
  void paint();
  Buffer* freeBuffer();
  void released(Buffer& buffer);

  WaylandSession& session_;
  std::string nameSpace_;
  Placement placement_;
  Painter painter_;
  OutputScale outputScale_;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwlr_layer_shell_v1* layerShell_ = nullptr;
  wl_surface* surface_ = nullptr;
  zwlr_layer_surface_v1* layerSurface_ = nullptr;
  bool configured_ = false;
  bool dirty_ = false;
  bool presented_ = false;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  int scale_ = 1;  // of the output the surface is on, as far as the compositor said
  // Two, so a new frame need not wait for the compositor to let go of the last one.
  std::vector<std::unique_ptr<Buffer>> buffers_;
};
