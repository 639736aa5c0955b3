#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Whole-file reads and atomic replacement for small settings files.

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// Writes to a temporary file beside `path`, flushes it to the disk and
// renames it over `path`, so a reader sees the old file or the new one,
// never a part. Creates missing parent folders. Returns the failure's
// description, or nothing on success.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);
