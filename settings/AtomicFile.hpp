// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Whole-file reads and atomic replacement for small settings files.

struct FileContents {
  std::optional<std::string> bytes;  // nothing when the file cannot be read or is too large
  bool tooLarge = false;             // it holds more than the reader accepts; nothing was read
  std::uintmax_t size = 0;           // its size in bytes when it could be measured
};

// Reads the whole file unless it holds more than `maxBytes`, which is
// refused before anything is read.
FileContents readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Writes to a temporary file beside the file `path` names (through a symbolic
// link, beside its target), flushes it to the disk and renames it over that
// file, so a reader sees the old file or the new one, never a part. The file
// keeps its permissions; a new one is created 0644 less the umask. Creates
// missing parent folders. Returns the failure's description, or nothing on success.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Renames the file `path` names (through a symbolic link, its target) to its
// name with `suffix` appended, replacing an older file of that name. Returns
// the new path, or the failure's description.
struct KeptAside {
  std::filesystem::path path;
  std::optional<std::string> failure;
};
KeptAside keepAside(const std::filesystem::path& path, std::string_view suffix);

// Removes the temporary files of writes to `path` that were killed before
// their rename, leaving those younger than `minimumAge` (a write in progress).
void removeStaleTemporaryFiles(const std::filesystem::path& path, std::chrono::seconds minimumAge);
