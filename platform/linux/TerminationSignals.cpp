// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/TerminationSignals.hpp"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "services/AppLog.hpp"

namespace {
sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGQUIT);
  return set;
}
}  // namespace

TerminationSignals::TerminationSignals() {
  const sigset_t set = terminationSet();
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    AppLog::app.error(std::string("Cannot block termination signals: ") + std::strerror(errno));
    return;
  }
  fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) {
    AppLog::app.error(std::string("Cannot watch termination signals: ") + std::strerror(errno));
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
  }
}

TerminationSignals::~TerminationSignals() {
  if (fd_ < 0) return;
  close(fd_);
  const sigset_t set = terminationSet();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

int TerminationSignals::take() {
  signalfd_siginfo info{};
  if (fd_ < 0 || read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}
