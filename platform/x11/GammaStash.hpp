// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/x11/RandrScreen.hpp"

// Crash safety for gamma: before the first change of an output, its original
// ramps are written to a file of this process in a private folder, and
// dropped again once the output is back at them. A process that dies with
// screens dimmed leaves its file behind; the next start puts those ramps back.
class GammaStash {
 public:
  // `folder` is $XDG_RUNTIME_DIR/Dimmora; `procRoot` is /proc (to tell
  // whether the process that wrote a file is still running); `displayName`
  // is the X display the ramps belong to.
  GammaStash(std::filesystem::path folder, std::filesystem::path procRoot, std::string displayName, int pid);

  // Where the files go: $XDG_RUNTIME_DIR/Dimmora, or, without a usable
  // runtime folder, <temporary>/dimmora-<uid>/Dimmora. Each folder of ours on
  // the way must be private (ensurePrivateFolder); nullopt, with the reason,
  // when none is: anyone who can write there could make the screen black at start.
  static std::optional<std::filesystem::path> recoveryFolder(const std::optional<std::filesystem::path>& runtime,
                                                             const std::filesystem::path& temporary, unsigned owner,
                                                             std::string& why);

  // Puts back the ramps from files of processes that are gone, for outputs of
  // this display (matched by output name), and removes those files. Returns
  // the number of outputs restored. `apply` sets one output's ramps (0 = ok).
  using ApplyRamps = std::function<int(const std::string& outputName, const GammaRamps& ramps)>;
  int recoverAbandoned(const ApplyRamps& apply);

  // Remembers the original ramps of an output the first time it is about to
  // change; false when they could not be saved.
  bool rememberOriginal(const std::string& outputName, const GammaRamps& original);
  bool hasOriginal(const std::string& outputName) const { return originals_.count(outputName) != 0; }
  // Called after every successful write: once an output shows its original
  // ramps again it no longer needs recovery.
  void noteWritten(const std::string& outputName, const GammaRamps& written);

  std::filesystem::path filePath() const;

 private:
  bool save() const;
  std::optional<std::string> startTime(int pid) const;

  std::filesystem::path folder_;
  std::filesystem::path procRoot_;
  std::string displayName_;
  int pid_;
  std::map<std::string, GammaRamps> originals_;
};

// Whether ramps could be a display's own: every channel rising from dark to
// light, and not dimmed (a tinted night-light ramp is one; a black, inverted
// or dimmed one is not).
bool couldBeOriginal(const GammaRamps& ramps);
