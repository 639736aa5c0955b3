// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Signal.hpp"
#include "platform/linux/GammaRamps.hpp"
#include "platform/linux/SessionOutput.hpp"

class X11Session;

// One RandR output of the screen.
struct RandrOutput {
  std::uint32_t id = 0;     // the output's XID; doubles as the display ID
  std::string name;         // "DP-1", "HDMI-1", "eDP-1", "DUMMY0"
  std::uint32_t crtc = 0;   // 0 when the output shows nothing
  bool connected = false;
  std::vector<std::uint8_t> edid;  // the "EDID" property, empty when absent

  // Online: connected and showing part of the screen.
  bool isOnline() const { return connected && crtc != 0; }
  SessionOutput sessionOutput() const { return {id, name, isOnline(), edid}; }
};

// RandR 1.2+ on the session's default screen: outputs, their EDID, the CRTC
// gamma behind each, and notification of screen changes. The topology
// (outputs, their CRTCs, EDIDs and gamma sizes) is read once and again only
// after RandR reports a change, so a gamma write is one request.
class RandrScreen {
 public:
  explicit RandrScreen(X11Session& session);
  ~RandrScreen();
  RandrScreen(const RandrScreen&) = delete;
  RandrScreen& operator=(const RandrScreen&) = delete;

  // False when the server has no usable RandR.
  bool isAvailable() const { return available_; }
  // Every output in the server's order; empty when RandR fails.
  std::vector<RandrOutput> outputs() const;
  std::optional<RandrOutput> output(std::uint32_t id) const;
  // The same outputs as the display directory takes them.
  std::vector<SessionOutput> sessionOutputs() const;

  // Entries per channel of the CRTC behind the output; 0 when none.
  int gammaSize(std::uint32_t outputID) const;
  std::optional<GammaRamps> gamma(std::uint32_t outputID) const;
  // 0 once sent; 1 when the output has no CRTC or the ramps have the wrong
  // size; BadImplementation without a server. The server's answer is not
  // awaited: an error it reports later is logged by the session.
  int setGamma(std::uint32_t outputID, const GammaRamps& ramps);

  // Outputs or CRTCs changed (hot plug, mode change, rearrangement).
  Signal<> screenChanged;

 private:
  struct Topology {
    std::vector<RandrOutput> outputs;
    std::map<std::uint32_t, int> gammaSizes;  // by CRTC
  };
  const Topology& topology() const;
  const RandrOutput* find(std::uint32_t outputID) const;

  X11Session& session_;
  mutable std::optional<Topology> topology_;
  bool available_ = false;
  int eventBase_ = 0;
  Subscription events_;
};
