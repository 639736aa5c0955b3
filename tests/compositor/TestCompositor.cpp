// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal Wayland compositor for the binding's tests: one seat, one output
// ("DP-7"), ext-idle-notify-v1 (version 2, or the version given by
// --idle-notify-version=N), idle inhibitors, a working wlroots-style gamma
// control and a layer shell, which Debian 12's compositors cannot show
// together. It draws nothing, but writes every layer surface's frame to a file
// beside its socket. While a client holds an idle inhibitor, ordinary idle
// notifications stay awake (an idle one is told `resumed`, and they idle again
// when the last inhibitor goes while the seat is idle); input-only
// ones (version 2) do not heed it.
// Commands on standard input, one per line: "idle" and "resume" send those
// events to every idle notification, "fail" sends `failed` to the held gamma
// control, "plug NAME [SCALE]" and "unplug NAME" add and remove an output,
// "place NAME" puts the layer surfaces mapped from then on on that output,
// "close" closes every layer surface.
// Standard output reports what clients did, one line each.
#include <poll.h>
#include <unistd.h>
#include <wayland-server.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ext-idle-notify-v1-server-protocol.h"
#include "idle-inhibit-unstable-v1-server-protocol.h"
#include "wlr-gamma-control-unstable-v1-server-protocol.h"
#include "wlr-layer-shell-unstable-v1-server-protocol.h"

namespace {
constexpr std::uint32_t kGammaSize = 256;

struct Notification {
  wl_resource* resource = nullptr;
  bool inputOnly = false;  // made by get_input_idle_notification: inhibitors do not hold it
  bool idle = false;
};

struct State {
  wl_display* display = nullptr;
  std::uint32_t idleNotifyVersion = 2;
  std::vector<Notification> notifications;
  int inhibitors = 0;
  bool seatIdle = false;  // between an "idle" and a "resume" command
  wl_resource* gammaControl = nullptr;  // the one client holding the output's tables
  // By connector name. Entries stay when unplugged: clients' objects still point at them.
  struct Output {
    std::string name;
    int scale = 1;
    wl_global* global = nullptr;
    std::vector<wl_resource*> resources;
  };
  std::map<std::string, Output> outputs;
  std::string placeOn = "DP-7";  // where layer surfaces go
  std::vector<wl_resource*> layerSurfaces;
  std::string folder;  // where frames are written
  int frames = 0;
  bool quit = false;
};
State state;

void report(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void destroyResource(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }

// wl_seat: the binding only names the seat; devices are never asked for.
const struct wl_seat_interface seatImplementation = {
    .get_pointer = [](wl_client*, wl_resource*, std::uint32_t) {},
    .get_keyboard = [](wl_client*, wl_resource*, std::uint32_t) {},
    .get_touch = [](wl_client*, wl_resource*, std::uint32_t) {},
    .release = destroyResource,
};

void bindSeat(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
  wl_resource* seat = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(seat, &seatImplementation, nullptr, nullptr);
  wl_seat_send_capabilities(seat, 0);
}

const struct wl_output_interface outputImplementation = {.release = destroyResource};

void bindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* info = static_cast<State::Output*>(data);
  wl_resource* output = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(output, &outputImplementation, info, [](wl_resource* resource) {
    std::erase(static_cast<State::Output*>(wl_resource_get_user_data(resource))->resources, resource);
  });
  info->resources.push_back(output);
  wl_output_send_geometry(output, 0, 0, 600, 340, WL_OUTPUT_SUBPIXEL_UNKNOWN, "DIM", "Test", WL_OUTPUT_TRANSFORM_NORMAL);
  wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 1920, 1080, 60000);
  if (version >= WL_OUTPUT_SCALE_SINCE_VERSION) wl_output_send_scale(output, info->scale);
  if (version >= WL_OUTPUT_NAME_SINCE_VERSION) wl_output_send_name(output, info->name.c_str());
  if (version >= WL_OUTPUT_DONE_SINCE_VERSION) wl_output_send_done(output);
}

const struct ext_idle_notification_v1_interface notificationImplementation = {.destroy = destroyResource};

void forgetNotification(wl_resource* resource) {
  std::erase_if(state.notifications, [resource](const Notification& n) { return n.resource == resource; });
}

void makeNotification(wl_client* client, wl_resource* notifier, std::uint32_t id, std::uint32_t timeout,
                      bool inputOnly) {
  wl_resource* notification =
      wl_resource_create(client, &ext_idle_notification_v1_interface, wl_resource_get_version(notifier), id);
  wl_resource_set_implementation(notification, &notificationImplementation, nullptr, forgetNotification);
  state.notifications.push_back({notification, inputOnly, false});
  report(std::string(inputOnly ? "input idle notification " : "idle notification ") + std::to_string(timeout));
}

const struct ext_idle_notifier_v1_interface notifierImplementation = {
    .destroy = destroyResource,
    .get_idle_notification = [](wl_client* client, wl_resource* notifier, std::uint32_t id, std::uint32_t timeout,
                                wl_resource*) { makeNotification(client, notifier, id, timeout, false); },
    .get_input_idle_notification = [](wl_client* client, wl_resource* notifier, std::uint32_t id,
                                      std::uint32_t timeout,
                                      wl_resource*) { makeNotification(client, notifier, id, timeout, true); },
};

void bindNotifier(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
  wl_resource* notifier = wl_resource_create(client, &ext_idle_notifier_v1_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(notifier, &notifierImplementation, nullptr, nullptr);
}

// An inhibitor wakes every ordinary notification and keeps it awake while it lasts.
const struct zwp_idle_inhibitor_v1_interface inhibitorImplementation = {.destroy = destroyResource};

const struct zwp_idle_inhibit_manager_v1_interface inhibitManagerImplementation = {
    .destroy = destroyResource,
    .create_inhibitor =
        [](wl_client* client, wl_resource*, std::uint32_t id, wl_resource*) {
          wl_resource* inhibitor = wl_resource_create(client, &zwp_idle_inhibitor_v1_interface, 1, id);
          wl_resource_set_implementation(inhibitor, &inhibitorImplementation, nullptr, [](wl_resource*) {
            // The last one gone: a seat that went on idling idles the ordinary notifications too.
            if (--state.inhibitors == 0 && state.seatIdle)
              for (Notification& n : state.notifications)
                if (!n.idle) {
                  ext_idle_notification_v1_send_idled(n.resource);
                  n.idle = true;
                }
            report("inhibitor released");
          });
          ++state.inhibitors;
          for (Notification& n : state.notifications)
            if (!n.inputOnly && n.idle) {
              ext_idle_notification_v1_send_resumed(n.resource);
              n.idle = false;
            }
          report("inhibitor held");
        },
};

void bindInhibitManager(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
  wl_resource* manager = wl_resource_create(client, &zwp_idle_inhibit_manager_v1_interface, 1, id);
  wl_resource_set_implementation(manager, &inhibitManagerImplementation, nullptr, nullptr);
}

const struct zwlr_gamma_control_v1_interface gammaImplementation = {
    .set_gamma =
        [](wl_client*, wl_resource* resource, std::int32_t fd) {
          std::vector<std::uint16_t> table(kGammaSize * 3);
          const auto bytes = static_cast<ssize_t>(table.size() * sizeof(std::uint16_t));
          const bool whole = read(fd, table.data(), static_cast<std::size_t>(bytes)) == bytes;
          close(fd);
          if (!whole) {
            wl_resource_post_error(resource, ZWLR_GAMMA_CONTROL_V1_ERROR_INVALID_GAMMA, "short table");
            return;
          }
          // The top entry of each channel tells the scale the client applied.
          report("gamma " + std::to_string(table[kGammaSize - 1]) + " " + std::to_string(table[2 * kGammaSize - 1]) +
                 " " + std::to_string(table[3 * kGammaSize - 1]));
        },
    .destroy = destroyResource,
};

void releaseGamma(wl_resource* resource) {
  if (state.gammaControl != resource) return;
  state.gammaControl = nullptr;
  report("gamma released");
}

const struct zwlr_gamma_control_manager_v1_interface gammaManagerImplementation = {
    .get_gamma_control =
        [](wl_client* client, wl_resource*, std::uint32_t id, wl_resource*) {
          wl_resource* control = wl_resource_create(client, &zwlr_gamma_control_v1_interface, 1, id);
          if (state.gammaControl) {
            wl_resource_set_implementation(control, &gammaImplementation, nullptr, nullptr);
            zwlr_gamma_control_v1_send_failed(control);
            report("gamma refused");
            return;
          }
          wl_resource_set_implementation(control, &gammaImplementation, nullptr, releaseGamma);
          state.gammaControl = control;
          zwlr_gamma_control_v1_send_gamma_size(control, kGammaSize);
          report("gamma held");
        },
    .destroy = destroyResource,
};

void bindGammaManager(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
  wl_resource* manager = wl_resource_create(client, &zwlr_gamma_control_manager_v1_interface, 1, id);
  wl_resource_set_implementation(manager, &gammaManagerImplementation, nullptr, nullptr);
}


// Surfaces, regions and the layer shell: enough to see what a client asks
// for and what it draws.
struct Region {
  int rectangles = 0;
};

struct LayerSurface;

struct Surface {
  wl_resource* resource = nullptr;
  wl_resource* pendingBuffer = nullptr;
  bool attached = false;  // an attach (maybe of null) is pending
  int inputRectangles = -1;  // -1: the whole surface takes input
  int bufferScale = 1;
  LayerSurface* layer = nullptr;
};

struct LayerSurface {
  wl_resource* resource = nullptr;
  Surface* surface = nullptr;
  std::uint32_t layer = 0;
  std::string scope;
  std::uint32_t width = 0, height = 0, anchor = 0, keyboard = 0;
  std::int32_t margin[4] = {0, 0, 0, 0};
  std::int32_t zone = 0;
  std::uint32_t sentSerial = 0, ackedSerial = 0;
  bool mapped = false;
};

const struct wl_region_interface regionImplementation = {
    .destroy = destroyResource,
    .add = [](wl_client*, wl_resource* resource, std::int32_t, std::int32_t, std::int32_t,
              std::int32_t) { static_cast<Region*>(wl_resource_get_user_data(resource))->rectangles++; },
    .subtract = [](wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {},
};

void unmapLayer(LayerSurface& layer) {
  if (!layer.mapped) return;
  layer.mapped = false;
  report("layer unmapped");
}

// Writes the frame as raw 32-bit pixels, rows packed, for the test to read back.
std::string saveFrame(wl_shm_buffer* buffer) {
  const int width = wl_shm_buffer_get_width(buffer), height = wl_shm_buffer_get_height(buffer);
  const int stride = wl_shm_buffer_get_stride(buffer);
  const std::string path = state.folder + "/frame-" + std::to_string(++state.frames) + ".argb";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return "unwritable";
  wl_shm_buffer_begin_access(buffer);
  const auto* pixels = static_cast<const char*>(wl_shm_buffer_get_data(buffer));
  for (int row = 0; row < height; ++row) std::fwrite(pixels + row * stride, 4, static_cast<std::size_t>(width), file);
  wl_shm_buffer_end_access(buffer);
  std::fclose(file);
  return path;
}

void commitLayer(LayerSurface& layer, Surface& surface) {
  if (!surface.attached) {
    if (layer.sentSerial == 0) {
      // The first commit asks for a size: give the one asked for.
      layer.sentSerial = wl_display_next_serial(state.display);
      zwlr_layer_surface_v1_send_configure(layer.resource, layer.sentSerial, layer.width, layer.height);
      report("layer configure " + std::to_string(layer.width) + "x" + std::to_string(layer.height));
    }
    return;
  }
  surface.attached = false;
  wl_resource* bufferResource = surface.pendingBuffer;
  surface.pendingBuffer = nullptr;
  if (!bufferResource) {
    unmapLayer(layer);
    return;
  }
  if (layer.ackedSerial == 0) {
    wl_resource_post_error(layer.resource, ZWLR_LAYER_SURFACE_V1_ERROR_INVALID_SURFACE_STATE,
                           "buffer before the configure was acknowledged");
    return;
  }
  wl_shm_buffer* buffer = wl_shm_buffer_get(bufferResource);
  if (!buffer) return;
  if (!layer.mapped) {
    // Placed on an output: the client learns which, as it would from any compositor.
    for (wl_resource* output : state.outputs[state.placeOn].resources)
      if (wl_resource_get_client(output) == wl_resource_get_client(surface.resource))
        wl_surface_send_enter(surface.resource, output);
  }
  layer.mapped = true;
  const std::string input = surface.inputRectangles < 0   ? "whole"
                            : surface.inputRectangles == 0 ? "empty"
                                                           : std::to_string(surface.inputRectangles);
  report("layer frame " + std::to_string(wl_shm_buffer_get_width(buffer)) + "x" +
         std::to_string(wl_shm_buffer_get_height(buffer)) + " layer=" + std::to_string(layer.layer) +
         " anchor=" + std::to_string(layer.anchor) + " margin=" + std::to_string(layer.margin[0]) + "," +
         std::to_string(layer.margin[1]) + "," + std::to_string(layer.margin[2]) + "," +
         std::to_string(layer.margin[3]) + " zone=" + std::to_string(layer.zone) +
         " keyboard=" + std::to_string(layer.keyboard) + " input=" + input + " scale=" +
         std::to_string(surface.bufferScale) + " scope=" + layer.scope +
         " file=" + saveFrame(buffer));
  // Read at once: the client may draw into it again.
  wl_buffer_send_release(bufferResource);
}

const struct wl_surface_interface surfaceImplementation = {
    .destroy = destroyResource,
    .attach =
        [](wl_client*, wl_resource* resource, wl_resource* buffer, std::int32_t, std::int32_t) {
          auto* surface = static_cast<Surface*>(wl_resource_get_user_data(resource));
          surface->pendingBuffer = buffer;
          surface->attached = true;
        },
    .damage = [](wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {},
    .frame =
        [](wl_client* client, wl_resource*, std::uint32_t id) {
          wl_resource* callback = wl_resource_create(client, &wl_callback_interface, 1, id);
          wl_callback_send_done(callback, 0);
          wl_resource_destroy(callback);
        },
    .set_opaque_region = [](wl_client*, wl_resource*, wl_resource*) {},
    .set_input_region =
        [](wl_client*, wl_resource* resource, wl_resource* region) {
          static_cast<Surface*>(wl_resource_get_user_data(resource))->inputRectangles =
              region ? static_cast<Region*>(wl_resource_get_user_data(region))->rectangles : -1;
        },
    .commit =
        [](wl_client*, wl_resource* resource) {
          auto* surface = static_cast<Surface*>(wl_resource_get_user_data(resource));
          if (surface->layer) commitLayer(*surface->layer, *surface);
        },
    .set_buffer_transform = [](wl_client*, wl_resource*, std::int32_t) {},
    .set_buffer_scale = [](wl_client*, wl_resource* resource,
                           std::int32_t scale) { static_cast<Surface*>(wl_resource_get_user_data(resource))->bufferScale = scale; },
    .damage_buffer = [](wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {},
    .offset = [](wl_client*, wl_resource*, std::int32_t, std::int32_t) {},
};

void destroySurface(wl_resource* resource) {
  auto* surface = static_cast<Surface*>(wl_resource_get_user_data(resource));
  if (surface->layer) surface->layer->surface = nullptr;
  delete surface;
}

const struct wl_compositor_interface compositorImplementation = {
    .create_surface =
        [](wl_client* client, wl_resource* compositor, std::uint32_t id) {
          wl_resource* resource =
              wl_resource_create(client, &wl_surface_interface, wl_resource_get_version(compositor), id);
          auto* surface = new Surface{.resource = resource};
          wl_resource_set_implementation(resource, &surfaceImplementation, surface, destroySurface);
        },
    .create_region =
        [](wl_client* client, wl_resource*, std::uint32_t id) {
          wl_resource* resource = wl_resource_create(client, &wl_region_interface, 1, id);
          wl_resource_set_implementation(resource, &regionImplementation, new Region,
                                         [](wl_resource* r) { delete static_cast<Region*>(wl_resource_get_user_data(r)); });
        },
};

void bindCompositor(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
  wl_resource* compositor = wl_resource_create(client, &wl_compositor_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(compositor, &compositorImplementation, nullptr, nullptr);
}

LayerSurface& layerOf(wl_resource* resource) { return *static_cast<LayerSurface*>(wl_resource_get_user_data(resource)); }

const struct zwlr_layer_surface_v1_interface layerSurfaceImplementation = {
    .set_size = [](wl_client*, wl_resource* r, std::uint32_t width,
                   std::uint32_t height) { layerOf(r).width = width, layerOf(r).height = height; },
    .set_anchor = [](wl_client*, wl_resource* r, std::uint32_t anchor) { layerOf(r).anchor = anchor; },
    .set_exclusive_zone = [](wl_client*, wl_resource* r, std::int32_t zone) { layerOf(r).zone = zone; },
    .set_margin =
        [](wl_client*, wl_resource* r, std::int32_t top, std::int32_t right, std::int32_t bottom, std::int32_t left) {
          auto& m = layerOf(r).margin;
          m[0] = top, m[1] = right, m[2] = bottom, m[3] = left;
        },
    .set_keyboard_interactivity = [](wl_client*, wl_resource* r,
                                     std::uint32_t keyboard) { layerOf(r).keyboard = keyboard; },
    .get_popup = [](wl_client*, wl_resource*, wl_resource*) {},
    .ack_configure = [](wl_client*, wl_resource* r, std::uint32_t serial) { layerOf(r).ackedSerial = serial; },
    .destroy = destroyResource,
    .set_layer = [](wl_client*, wl_resource* r, std::uint32_t layer) { layerOf(r).layer = layer; },
};

void destroyLayerSurface(wl_resource* resource) {
  std::erase(state.layerSurfaces, resource);
  auto* layer = &layerOf(resource);
  unmapLayer(*layer);
  if (layer->surface) layer->surface->layer = nullptr;
  delete layer;
}

const struct zwlr_layer_shell_v1_interface layerShellImplementation = {
    .get_layer_surface =
        [](wl_client* client, wl_resource* shell, std::uint32_t id, wl_resource* surfaceResource, wl_resource*,
           std::uint32_t layerNumber, const char* scope) {
          wl_resource* resource =
              wl_resource_create(client, &zwlr_layer_surface_v1_interface, wl_resource_get_version(shell), id);
          auto* surface = static_cast<Surface*>(wl_resource_get_user_data(surfaceResource));
          auto* layer = new LayerSurface{.resource = resource, .surface = surface, .layer = layerNumber, .scope = scope};
          surface->layer = layer;
          wl_resource_set_implementation(resource, &layerSurfaceImplementation, layer, destroyLayerSurface);
          state.layerSurfaces.push_back(resource);
          report("layer surface " + std::string(scope));
        },
    .destroy = destroyResource,
};

void bindLayerShell(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
  wl_resource* shell = wl_resource_create(client, &zwlr_layer_shell_v1_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(shell, &layerShellImplementation, nullptr, nullptr);
}

// "NAME" or "NAME SCALE".
void plug(const std::string& words) {
  const auto space = words.find(' ');
  State::Output& plugged = state.outputs[words.substr(0, space)];
  if (plugged.global) return;
  plugged.name = words.substr(0, space);
  if (space != std::string::npos) plugged.scale = std::stoi(words.substr(space + 1));
  plugged.global = wl_global_create(state.display, &wl_output_interface, 4, &plugged, bindOutput);
}

void command(const std::string& line) {
  if (line == "idle") {
    state.seatIdle = true;
    for (Notification& n : state.notifications)
      if (!n.idle && (n.inputOnly || state.inhibitors == 0)) {
        ext_idle_notification_v1_send_idled(n.resource);
        n.idle = true;
      }
  } else if (line == "resume") {
    state.seatIdle = false;
    for (Notification& n : state.notifications)
      if (n.idle) {
        ext_idle_notification_v1_send_resumed(n.resource);
        n.idle = false;
      }
  } else if (line == "fail" && state.gammaControl) {
    // As a compositor does when it can no longer honour the tables: the object stays, inert.
    wl_resource* control = state.gammaControl;
    zwlr_gamma_control_v1_send_failed(control);
    wl_resource_set_destructor(control, nullptr);
    state.gammaControl = nullptr;
  } else if (line.rfind("plug ", 0) == 0) {
    plug(line.substr(5));
  } else if (line.rfind("unplug ", 0) == 0) {
    if (const auto it = state.outputs.find(line.substr(7)); it != state.outputs.end() && it->second.global) {
      wl_global_destroy(it->second.global);
      it->second.global = nullptr;
    }
  } else if (line == "close") {
    // As when a layer surface's output goes away: it is unmapped and told so.
    for (wl_resource* resource : state.layerSurfaces) {
      unmapLayer(layerOf(resource));
      zwlr_layer_surface_v1_send_closed(resource);
    }
  } else if (line.rfind("place ", 0) == 0) {
    state.placeOn = line.substr(6);
  }
  wl_display_flush_clients(state.display);
  report("did " + line);
}

int readCommands(int fd, std::uint32_t, void*) {
  static std::string buffer;
  char chunk[256];
  const ssize_t n = read(fd, chunk, sizeof chunk);
  if (n <= 0) {
    state.quit = true;
    return 0;
  }
  buffer.append(chunk, static_cast<std::size_t>(n));
  for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
    command(buffer.substr(0, end));
    buffer.erase(0, end + 1);
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SOCKET-NAME (in XDG_RUNTIME_DIR) [--idle-notify-version=N]\n", argv[0]);
    return 2;
  }
  for (int i = 2; i < argc; ++i)
    if (std::strncmp(argv[i], "--idle-notify-version=", 22) == 0)
      state.idleNotifyVersion = static_cast<std::uint32_t>(std::atoi(argv[i] + 22));
  state.display = wl_display_create();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  state.folder = runtime ? runtime : ".";
  if (wl_display_add_socket(state.display, argv[1]) != 0) {
    std::fprintf(stderr, "cannot listen on %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  wl_global_create(state.display, &wl_seat_interface, 7, nullptr, bindSeat);
  plug("DP-7");
  wl_global_create(state.display, &wl_compositor_interface, 4, nullptr, bindCompositor);
  wl_display_init_shm(state.display);
  wl_global_create(state.display, &zwlr_layer_shell_v1_interface, 4, nullptr, bindLayerShell);
  wl_global_create(state.display, &ext_idle_notifier_v1_interface, static_cast<int>(state.idleNotifyVersion), nullptr,
                   bindNotifier);
  wl_global_create(state.display, &zwp_idle_inhibit_manager_v1_interface, 1, nullptr, bindInhibitManager);
  wl_global_create(state.display, &zwlr_gamma_control_manager_v1_interface, 1, nullptr, bindGammaManager);
  wl_event_loop* loop = wl_display_get_event_loop(state.display);
  wl_event_loop_add_fd(loop, STDIN_FILENO, WL_EVENT_READABLE, readCommands, nullptr);
  report("ready");
  while (!state.quit) {
    wl_display_flush_clients(state.display);
    wl_event_loop_dispatch(loop, -1);
  }
  wl_display_destroy_clients(state.display);
  wl_display_destroy(state.display);
  return 0;
}
