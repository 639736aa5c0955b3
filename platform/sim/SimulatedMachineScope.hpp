// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "ports/SystemPorts.hpp"
#include "platform/sim/RecordingLogSink.hpp"

// For the length of a test: hands the process-wide heads-up panel, diagnostic
// capture, localization and display control their ports from a set (usually a
// simulated machine's, plus a loop) and takes them back at the end, starts
// with empty transport caches, and records the display-control trace.
class SimulatedMachineScope {
 public:
  explicit SimulatedMachineScope(const SystemPorts& ports);
  ~SimulatedMachineScope();
  SimulatedMachineScope(const SimulatedMachineScope&) = delete;
  SimulatedMachineScope& operator=(const SimulatedMachineScope&) = delete;

  // The "ddc" lines logged so far, in order.
  std::vector<std::string> trace() { return recorder_->messages(LogCategory::ddc); }
  bool traced(const std::string& line) { return recorder_->contains(line); }
  void clearTrace() { recorder_->clear(); }

 private:
  ScopedLogRecorder recorder_;
};
