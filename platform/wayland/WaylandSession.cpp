// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wayland/WaylandSession.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "services/AppLog.hpp"

std::unique_ptr<WaylandSession> WaylandSession::connect(const std::string& displayName, std::string& error) {
  wl_display* display = wl_display_connect(displayName.empty() ? nullptr : displayName.c_str());
  if (!display) {
    error = "cannot connect to the Wayland compositor" + (displayName.empty() ? std::string() : " at " + displayName) +
            " (" + std::strerror(errno) + ")";
    return nullptr;
  }
  std::unique_ptr<WaylandSession> session(new WaylandSession(display, displayName));
  static const wl_registry_listener listener = {&handleGlobal, &handleGlobalRemove};
  session->registry_ = wl_display_get_registry(display);
  wl_registry_add_listener(session->registry_, &listener, session.get());
  if (!session->roundtrip()) {
    error = "the Wayland compositor closed the connection while listing its globals";
    return nullptr;
  }
  return session;
}

WaylandSession::WaylandSession(wl_display* display, std::string name) : display_(display), name_(std::move(name)) {}

WaylandSession::~WaylandSession() {
  if (registry_) wl_registry_destroy(registry_);
  wl_display_disconnect(display_);
}

int WaylandSession::fileDescriptor() const { return wl_display_get_fd(display_); }

bool WaylandSession::check(int result) {
  if (result >= 0 || !alive_) return alive_;
  // EAGAIN only means the socket is full for now; the next flush continues.
  if (errno == EAGAIN && wl_display_get_error(display_) == 0) return true;
  alive_ = false;
  AppLog::app.error("The Wayland connection broke: " + std::string(std::strerror(wl_display_get_error(display_))));
  lost.emit();
  return false;
}

void WaylandSession::readAndDispatch() {
  if (!alive_) return;
  while (wl_display_prepare_read(display_) != 0)
    if (!check(wl_display_dispatch_pending(display_))) return;
  wl_display_flush(display_);
  if (!check(wl_display_read_events(display_))) return;
  check(wl_display_dispatch_pending(display_));
}

void WaylandSession::dispatchPending() {
  if (!alive_) return;
  if (check(wl_display_dispatch_pending(display_))) flush();
}

void WaylandSession::flush() {
  if (alive_) check(wl_display_flush(display_));
}

bool WaylandSession::roundtrip() { return alive_ && check(wl_display_roundtrip(display_)); }

std::optional<WaylandSession::Global> WaylandSession::global(std::string_view interface) const {
  for (const auto& g : globals_)
    if (g.interface == interface) return g;
  return std::nullopt;
}

void* WaylandSession::bind(const Global& global, const wl_interface* interface, std::uint32_t version) {
  return wl_registry_bind(registry_, global.name, interface, std::min(version, global.version));
}

void WaylandSession::handleGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                                  std::uint32_t version) {
  auto* self = static_cast<WaylandSession*>(data);
  self->globals_.push_back({name, interface, version});
  self->globalAdded.emit(self->globals_.back());
}

void WaylandSession::handleGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
  auto* self = static_cast<WaylandSession*>(data);
  std::erase_if(self->globals_, [name](const Global& g) { return g.name == name; });
  self->globalRemoved.emit(name);
}
