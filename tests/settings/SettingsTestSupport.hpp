// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "TestFiles.hpp"
#include "platform/sim/RecordingLogSink.hpp"
#include "platform/sim/SimEnvironment.hpp"
#include "platform/sim/TemporaryFolder.hpp"
#include "services/DDCDebug.hpp"
#include "services/L10n.hpp"
#include "settings/AtomicFile.hpp"
#include "settings/StepStore.hpp"

inline std::string readFile(const std::filesystem::path& path) {
  return readWholeFile(path, StepStore::kLargestConfigBytes).bytes.value_or("");
}

// The layout an independent pretty-printer gives the same document.
inline std::string pythonPrettyPrinted(const std::filesystem::path& file) {
  const std::string command =
      "python3 -c 'import json,sys; print(json.dumps(json.load(open(sys.argv[1])), indent=2, sort_keys=True, "
      "separators=(\",\", \" : \"), ensure_ascii=False), end=\"\")' '" + file.string() + "'";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// A home with the configuration folder inside, the store's ports, logs
// recorded, and the process-wide switches reset on both ends.
class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    environment.applicationSupport = folder.path() / "support";
    environment.home = folder.path() / "home";
    environment.executable = folder.path() / "bin" / "dimmora";
    environment.workingDirectory = folder.path();
    L10n::resetForTesting();
    DDCDebug::setEnabled(false);
  }
  ~SettingsTest() override {
    L10n::resetForTesting();
    DDCDebug::setEnabled(false);
  }
  // The home, without a loop (saves are written at once) or notifications.
  StepStore::Ports ports() { return {.environment = &environment}; }
  std::filesystem::path configPath() const { return folder.path() / "support" / "Dimmora" / "config.json"; }

  TemporaryFolder folder;
  SimEnvironment environment;
  ScopedLogRecorder log;
};
