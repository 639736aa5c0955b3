// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "platform/linux/DBusSession.hpp"
#include "ports/PowerAssertions.hpp"

// Idle and sleep inhibitors as power assertions: logind's blocking inhibitors
// ("idle" -> "PreventUserIdleDisplaySleep", "sleep" -> "PreventSystemSleep"),
// under GNOME the session's idle inhibition, and on Wayland an idle inhibitor
// the compositor shows (an application's zwp_idle_inhibitor_v1).
class LinuxPowerAssertions final : public PowerAssertions {
 public:
  // Whether an application holds the compositor's idle inhibitor; nullopt where that cannot be seen.
  using CompositorInhibitor = std::function<std::optional<bool>()>;
  // Null when neither logind, GNOME's session manager nor the compositor is
  // there to ask: the program then says once that media playback goes
  // unseen, instead of failing every poll.
  static std::unique_ptr<LinuxPowerAssertions> connect(DBusSession& bus, CompositorInhibitor compositor = {});
  Summary copyAssertionsStatus() override;
  ByProcess copyAssertionsByProcess() override;

  // GNOME's IsInhibited flag for "idle".
  static constexpr std::uint32_t kGnomeInhibitIdle = 8;

  struct Holder {
    std::string process;  // "1234 firefox"
    std::string type;     // the assertion name
    std::string reason;
  };
  // The assertions the inhibitors stand for; nullopt when neither source answered.
  static std::optional<std::vector<Holder>> holders(const std::optional<std::vector<LogindInhibitor>>& inhibitors,
                                                    std::optional<bool> sessionIdleInhibited,
                                                    std::optional<bool> compositorInhibited = std::nullopt);
  static Summary summary(const std::optional<std::vector<Holder>>& holders);
  static ByProcess byProcess(const std::optional<std::vector<Holder>>& holders);

 private:
  LinuxPowerAssertions(DBusSession& bus, bool logind, bool gnome, CompositorInhibitor compositor)
      : bus_(bus), logind_(logind), gnome_(gnome), compositor_(std::move(compositor)) {}
  std::optional<std::vector<Holder>> query() {
    return holders(logind_ ? bus_.listInhibitors() : std::nullopt,
                   gnome_ ? bus_.gnomeIsInhibited(kGnomeInhibitIdle) : std::nullopt,
                   compositor_ ? compositor_() : std::nullopt);
  }
  DBusSession& bus_;
  bool logind_;
  bool gnome_;
  CompositorInhibitor compositor_;
};
