// A minimal Wayland compositor for the binding's tests: one seat, one output
// ("DP-7"), ext-idle-notify-v1 and a working wlroots-style gamma control,
// which Debian 12's compositors cannot show together. It draws nothing.
// Commands on standard input, one per line: "idle" and "resume" send those
// events to every idle notification, "fail" sends `failed` to the held gamma
// control. Standard output reports what clients did, one line each.
#include <poll.h>
#include <unistd.h>
#include <wayland-server.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ext-idle-notify-v1-server-protocol.h"
#include "wlr-gamma-control-unstable-v1-server-protocol.h"

namespace {
constexpr std::uint32_t kGammaSize = 256;

struct State {
  wl_display* display = nullptr;
  std::vector<wl_resource*> notifications;
  wl_resource* gammaControl = nullptr;  // the one client holding the output's tables
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

void bindOutput(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
  wl_resource* output = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(output, &outputImplementation, nullptr, nullptr);
  wl_output_send_geometry(output, 0, 0, 600, 340, WL_OUTPUT_SUBPIXEL_UNKNOWN, "DIM", "Test", WL_OUTPUT_TRANSFORM_NORMAL);
  wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 1920, 1080, 60000);
  if (version >= WL_OUTPUT_NAME_SINCE_VERSION) wl_output_send_name(output, "DP-7");
  if (version >= WL_OUTPUT_DONE_SINCE_VERSION) wl_output_send_done(output);
}

const struct ext_idle_notification_v1_interface notificationImplementation = {.destroy = destroyResource};

void forgetNotification(wl_resource* resource) { std::erase(state.notifications, resource); }

const struct ext_idle_notifier_v1_interface notifierImplementation = {
    .destroy = destroyResource,
    .get_idle_notification =
        [](wl_client* client, wl_resource*, std::uint32_t id, std::uint32_t timeout, wl_resource*) {
          wl_resource* notification = wl_resource_create(client, &ext_idle_notification_v1_interface, 1, id);
          wl_resource_set_implementation(notification, &notificationImplementation, nullptr, forgetNotification);
          state.notifications.push_back(notification);
          report("idle notification " + std::to_string(timeout));
        },
};

void bindNotifier(wl_client* client, void*, std::uint32_t, std::uint32_t id) {
  wl_resource* notifier = wl_resource_create(client, &ext_idle_notifier_v1_interface, 1, id);
  wl_resource_set_implementation(notifier, &notifierImplementation, nullptr, nullptr);
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

void command(const std::string& line) {
  if (line == "idle") {
    for (wl_resource* n : state.notifications) ext_idle_notification_v1_send_idled(n);
  } else if (line == "resume") {
    for (wl_resource* n : state.notifications) ext_idle_notification_v1_send_resumed(n);
  } else if (line == "fail" && state.gammaControl) {
    // As a compositor does when it can no longer honour the tables: the object stays, inert.
    wl_resource* control = state.gammaControl;
    zwlr_gamma_control_v1_send_failed(control);
    wl_resource_set_destructor(control, nullptr);
    state.gammaControl = nullptr;
  } else if (line == "quit") {
    state.quit = true;
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
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SOCKET-NAME (in XDG_RUNTIME_DIR)\n", argv[0]);
    return 2;
  }
  state.display = wl_display_create();
  if (wl_display_add_socket(state.display, argv[1]) != 0) {
    std::fprintf(stderr, "cannot listen on %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  wl_global_create(state.display, &wl_seat_interface, 7, nullptr, bindSeat);
  wl_global_create(state.display, &wl_output_interface, 4, nullptr, bindOutput);
  wl_global_create(state.display, &ext_idle_notifier_v1_interface, 1, nullptr, bindNotifier);
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
