// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/DisplayID.hpp"
#include "base/Signal.hpp"

// An output's colour transfer table: three channels of equal length, entries
// from 0 to 1, applied to every pixel.
struct GammaTable {
  std::vector<float> red;
  std::vector<float> green;
  std::vector<float> blue;

  std::size_t size() const { return red.size(); }
  friend bool operator==(const GammaTable&, const GammaTable&) = default;
};

// Each output's gamma table. The core keeps the table it read before an
// output's first change and writes it back when done. The binding guarantees
// that restore: it announces termination (SystemNotifications::willTerminate)
// on every exit it can catch (a quit, a termination signal, the toolkit
// ending the process), and covers those it cannot: RandR's crash stash puts
// the original back at the next start, a Wayland compositor drops the table
// when the program's control goes, and GNOME's compositor rebuilds its
// own at the next change or stops our calibration when the program goes.
class GammaTables {
 public:
  enum class Result {
    ok,
    noSuchOutput,  // no connected output has the display's ID
    noGamma,       // the output takes no table, or another program holds it
    invalidSize,   // a table whose length is not the output's size
    failed,        // the display server refused or the connection broke
  };
  // The result as the log says it ("no gamma on this output").
  static std::string_view text(Result result);

  virtual ~GammaTables() = default;

  // Entries per channel the output's table has; 0 when it has none.
  virtual std::uint32_t size(DisplayID displayID) = 0;
  // The output's table to keep as its original, `size` entries per channel:
  // the one on screen, or the identity where it cannot be read back or
  // another program left it dimmed. `table` is left alone unless ok.
  virtual Result read(DisplayID displayID, GammaTable& table) = 0;
  // Installs a table of exactly `size` entries per channel.
  virtual Result write(DisplayID displayID, const GammaTable& table) = 0;

  // Why a display has no usable gamma, as a control-status key; empty when
  // it has, or when the system gives no reason.
  virtual std::string_view unavailableReason(DisplayID) { return {}; }

  // The system put a table of its own where ours was (a night light's new
  // tint, a colour profile, a monitor change): what `read` gives now is the
  // output's new original, and ours is to be applied over it again. Emitted
  // on the main loop, never inside a call of this port.
  Signal<DisplayID> originalReplaced;
};

inline std::string_view GammaTables::text(Result result) {
  switch (result) {
    case Result::ok: return "ok";
    case Result::noSuchOutput: return "no such output";
    case Result::noGamma: return "no gamma on this output";
    case Result::invalidSize: return "invalid table size";
    case Result::failed: return "failed";
  }
  return "failed";
}
