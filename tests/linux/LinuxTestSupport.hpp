// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/TemporaryFolder.hpp"

// EDID base blocks built byte by byte, so the parser is checked against the
// layout rather than against itself.
inline std::vector<std::uint8_t> makeEdid(const std::string& vendor, std::uint16_t product, std::uint32_t serial,
                                          const std::string& name, const std::string& serialText = {}) {
  std::vector<std::uint8_t> b(128, 0);
  const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(std::begin(header), std::end(header), b.begin());
  const unsigned packed = ((vendor[0] - 'A' + 1) << 10) | ((vendor[1] - 'A' + 1) << 5) | (vendor[2] - 'A' + 1);
  b[8] = static_cast<std::uint8_t>(packed >> 8);
  b[9] = static_cast<std::uint8_t>(packed & 0xFF);
  b[10] = static_cast<std::uint8_t>(product & 0xFF);
  b[11] = static_cast<std::uint8_t>(product >> 8);
  for (int i = 0; i < 4; ++i) b[12 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
  b[18] = 1;
  b[19] = 4;
  // Descriptor 1 is a detailed timing (non-zero clock) that must be skipped.
  b[54] = 0x01;
  b[55] = 0x1D;
  auto descriptor = [&](std::size_t offset, std::uint8_t tag, const std::string& text) {
    b[offset + 3] = tag;
    std::size_t i = 0;
    for (; i < text.size() && i < 13; ++i) b[offset + 5 + i] = static_cast<std::uint8_t>(text[i]);
    if (i < 13) b[offset + 5 + i++] = 0x0A;
    for (; i < 13; ++i) b[offset + 5 + i] = ' ';
  };
  descriptor(72, 0xFC, name);
  if (!serialText.empty()) descriptor(90, 0xFF, serialText);
  std::uint8_t sum = 0;
  for (int i = 0; i < 127; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
  b[127] = static_cast<std::uint8_t>(0x100 - sum);
  return b;
}

// A private folder tree (fake /sys, /dev, home) removed at the end of the test.
class TempTree {
 public:
  const std::filesystem::path& root() const { return folder_.path(); }
  std::filesystem::path path(const std::string& relative) const { return root() / relative; }
  std::filesystem::path write(const std::string& relative, const std::string& text) const {
    const auto p = path(relative);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  std::filesystem::path write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
    return write(relative, std::string(bytes.begin(), bytes.end()));
  }
  std::filesystem::path folder(const std::string& relative) const {
    const auto p = path(relative);
    std::filesystem::create_directories(p);
    return p;
  }
  void link(const std::string& target, const std::string& relative) const {
    std::filesystem::create_directories(path(relative).parent_path());
    std::filesystem::create_directory_symlink(target, path(relative));
  }

 private:
  TemporaryFolder folder_{"dimmora-test"};
};

#include "platform/sim/RecordingLogSink.hpp"

// True when some logged line contains `text`.
inline bool logMentions(const RecordingLogSink& sink, const std::string& text) {
  for (const auto& e : sink.entries)
    if (e.message.find(text) != std::string::npos) return true;
  return false;
}

// CI always has the server (scripts/test starts it); only a local run without one may skip.
#define REQUIRE_X_SERVER()                                               \
  do {                                                                   \
    if (!std::getenv("DISPLAY")) {                                       \
      if (std::getenv("CI")) FAIL() << "DISPLAY is not set in CI";       \
      GTEST_SKIP() << "no X server (scripts/test starts a private one)"; \
    }                                                                    \
  } while (0)

// Runs a shell command and returns what it printed.
inline std::string run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
  }
  return output;
}
