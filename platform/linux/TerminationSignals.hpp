// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SIGTERM, SIGINT, SIGHUP and SIGQUIT as readable events instead of asynchronous
// handlers, so that quitting runs the normal will-terminate path on the main
// thread. Create it before any other thread starts: the signals are blocked
// for the process and delivered through a descriptor.
class TerminationSignals {
 public:
  TerminationSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  int fileDescriptor() const { return fd_; }
  // The signal number waiting on the descriptor, or 0 when none is.
  int take();

 private:
  int fd_ = -1;
};
