#pragma once

// The real executable, started with its own configuration and runtime
// folders and its log (stderr) in a file, for the end-to-end tests.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../linux/LinuxTestSupport.hpp"

extern char** environ;

namespace e2e {
using namespace std::chrono_literals;

// Polls until `done` holds; the app runs on real time, so this waits for real.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

// One run of build/dimmora with its own configuration and runtime folders.
// An extra variable with an empty value ("DISPLAY=") is removed.
class App {
 public:
  App(const TempTree& tree, std::vector<std::string> extraEnvironment = {}) {
    extraEnvironment.push_back("XDG_CONFIG_HOME=" + tree.path("config").string());
    extraEnvironment.push_back("XDG_RUNTIME_DIR=" + tree.path("run").string());
    // In the sanitizer build, a system library's leak at exit must not turn a clean exit into a failure.
    extraEnvironment.push_back(std::string("LSAN_OPTIONS=suppressions=") + DIMMORA_LSAN_SUPPRESSIONS);
    std::vector<std::string> env = extraEnvironment;
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      const auto name = entry.substr(0, entry.find('=') + 1);
      if (std::none_of(extraEnvironment.begin(), extraEnvironment.end(),
                       [&](const std::string& extra) { return extra.rfind(name, 0) == 0; }))
        env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : env)
      if (e.back() != '=') envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = DIMMORA_EXECUTABLE;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, tree.path("app.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~App() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // The exit status after `signal`, or nullopt when it did not end within 5 s.
  std::optional<int> stop(int signal) {
    kill(pid_, signal);
    return waitExit(5s);
  }
  std::optional<int> waitExit(std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return std::nullopt;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace e2e
