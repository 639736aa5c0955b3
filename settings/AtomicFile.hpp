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
  std::optional<std::string> bytes;  // the whole file; nothing when it was not read
  bool missing = false;              // there is no file (a link to nothing, or a folder that is a file)
  // Why a file that exists was not read: the system's error ("Permission
  // denied") or what it is instead of a regular file ("a FIFO").
  std::optional<std::string> unreadable;
  bool notRegularFile = false;       // it is a FIFO, a device, a folder...: `unreadable` says which
  bool tooLarge = false;             // it holds more than the reader accepts; nothing was read
  std::uintmax_t size = 0;           // its size in bytes when it could be measured
};

// Reads the whole file unless it holds more than `maxBytes`, which is
// refused before anything is read. Only a regular file is read: a FIFO or a
// device (even through a link) is refused without waiting on it.
FileContents readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// The file a save to `path` replaces. A symbolic link is followed only to a
// regular file (or to nothing yet) of this user's, in a folder of this
// user's: a dotfiles link keeps working, while a link to a device, to a
// folder or to another user's file is itself replaced. `why` then says so.
struct ReplacedFile {
  std::filesystem::path path;
  std::optional<std::string> linkNotFollowed;  // why the link itself is replaced
};
ReplacedFile replacedFile(const std::filesystem::path& path);

// Writes to a temporary file beside the file a save to `path` replaces (see
// replacedFile), flushes it to the disk and renames it over that file, so a
// reader sees the old file or the new one, never a part. The file keeps its
// permissions; a new one is created 0644 less the umask. Creates missing
// parent folders. Returns the failure's description, or nothing on success.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Renames the file a save to `path` replaces (see replacedFile) to its name
// with `suffix` appended, replacing an older file of that name. Returns
// the new path, or the failure's description.
struct KeptAside {
  std::filesystem::path path;
  std::optional<std::string> failure;
};
KeptAside keepAside(const std::filesystem::path& path, std::string_view suffix);

// Removes the temporary files of writes to `path` that were killed before
// their rename, leaving those younger than `minimumAge` (a write in progress).
void removeStaleTemporaryFiles(const std::filesystem::path& path, std::chrono::seconds minimumAge);
