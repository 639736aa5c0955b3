// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/MainLoop.hpp"
#include "platform/linux/DBusSession.hpp"
#include "ports/Inhibitors.hpp"

// The inhibitors of three sources: logind's blocking inhibitors ("idle" and
// "sleep"), under GNOME the session's idle inhibition, and on Wayland an idle
// inhibitor the compositor shows (an application's zwp_idle_inhibitor_v1).
// logind and GNOME's session manager signal their changes; the compositor's
// inhibitor can only be asked for, so it alone is polled.
class LinuxInhibitors final : public Inhibitors {
 public:
  // Whether an application holds the compositor's idle inhibitor; nullopt where that cannot be seen.
  using CompositorInhibitor = std::function<std::optional<bool>()>;
  static constexpr double kCompositorPollSeconds = 5;
  static constexpr double kCompositorPollTolerance = 1;
  // GNOME's IsInhibited flag for "idle".
  static constexpr std::uint32_t kGnomeInhibitIdle = 8;

  // Null when neither logind, GNOME's session manager nor the compositor is
  // there to ask: the program then says once that media playback goes unseen.
  static std::unique_ptr<LinuxInhibitors> connect(DBusSession& bus, MainLoop& loop, CompositorInhibitor compositor = {});

  std::optional<std::vector<Holder>> held() override;

  // The holders the sources' answers stand for; nullopt when no source answered.
  static std::optional<std::vector<Holder>> holders(const std::optional<std::vector<LogindInhibitor>>& inhibitors,
                                                    std::optional<bool> sessionIdleInhibited,
                                                    std::optional<bool> compositorInhibited = std::nullopt);

 private:
  LinuxInhibitors(DBusSession& bus, MainLoop& loop, bool logind, bool gnome, CompositorInhibitor compositor);

  DBusSession& bus_;
  MainLoop& loop_;
  bool logind_;
  bool gnome_;
  CompositorInhibitor compositor_;
  std::optional<bool> lastCompositorAnswer_;
  Subscription busChanged_;
  // A bus signal is answered on a later turn of the loop, outside the bus's dispatch; several make one.
  ScheduledWork announce_;
  ScheduledWork compositorPoll_;
};
