// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/AtomicFile.hpp"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Uuid.hpp"

namespace fs = std::filesystem;

namespace {

std::string describe(const fs::path& path, int error) { return path.string() + ": " + std::strerror(error); }

// Best effort: makes the rename itself durable.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// ".config.json." followed by this many characters names a temporary file of config.json.
constexpr std::size_t kTemporarySuffixLength = 8;

std::string temporaryPrefix(const fs::path& path) { return "." + path.filename().string() + "."; }

// What a file is when it is not a regular one.
std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

ReplacedFile replacedFile(const fs::path& path) {
  fs::path target = path;
  std::error_code error;
  for (int hops = 0; hops < 40 && fs::is_symlink(target, error); ++hops) {
    const fs::path next = fs::read_symlink(target, error);
    if (error) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  if (target == path) return {path, std::nullopt};
  // A save replaces the target by a new regular file: the link is followed
  // only where the user could have put that file.
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  struct stat info {};
  std::string why;
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
    why = "its folder " + folder.string() + " is not one of yours";
  else if (::lstat(target.c_str(), &info) != 0)
    return {target, std::nullopt};  // a file still to be made, in a folder of the user's
  else if (!S_ISREG(info.st_mode))
    why = "it is " + kindOf(info.st_mode) + ", not a regular file";
  else if (info.st_uid != ::geteuid())
    why = "it belongs to another user";
  else
    return {target, std::nullopt};
  return {path, path.string() + " links to " + target.string() + ", which is not written through (" + why +
                    "): the link itself is replaced"};
}

FileContents readWholeFile(const fs::path& path, std::size_t maxBytes) {
  FileContents contents;
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer forever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A file where a folder of the path belongs means no such file either.
    if (errno == ENOENT || errno == ENOTDIR) contents.missing = true;
    else contents.unreadable = std::strerror(errno);
    return contents;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    contents.unreadable = std::strerror(errno);
    ::close(fd);
    return contents;
  }
  if (!S_ISREG(info.st_mode)) {
    contents.unreadable = kindOf(info.st_mode);
    contents.notRegularFile = true;
    ::close(fd);
    return contents;
  }
  contents.size = static_cast<std::uintmax_t>(info.st_size);
  if (contents.size > maxBytes) {
    contents.tooLarge = true;
    ::close(fd);
    return contents;
  }
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      contents.unreadable = std::strerror(errno);
      ::close(fd);
      return contents;
    }
    if (got == 0) break;
    // A file that grew since it was measured is refused the same way.
    if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
      contents.tooLarge = true;
      ::close(fd);
      return contents;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  contents.bytes = std::move(bytes);
  return contents;
}

std::optional<std::string> writeFileAtomically(const fs::path& requested, std::string_view bytes) {
  const fs::path path = replacedFile(requested).path;
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return folder.string() + ": " + error.message();

  // A random suffix keeps two writers (or a stale leftover) from colliding.
  const fs::path temporary =
      folder / (temporaryPrefix(path) + Uuid::random().uuidString().substr(0, kTemporarySuffixLength));
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return describe(temporary, errno);

  const auto fail = [&](int code) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return describe(temporary, code);
  };
  // A file the user made private stays private.
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && ::fchmod(fd, existing.st_mode & 07777) != 0)
    return fail(errno);
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    return describe(temporary, code);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    return describe(path, code);
  }
  syncFolder(folder);
  return std::nullopt;
}

KeptAside keepAside(const fs::path& path, std::string_view suffix) {
  const fs::path file = replacedFile(path).path;
  KeptAside kept{file.parent_path() / (file.filename().string() + std::string(suffix)), std::nullopt};
  if (::rename(file.c_str(), kept.path.c_str()) != 0) kept.failure = describe(file, errno);
  return kept;
}

void removeStaleTemporaryFiles(const fs::path& requested, std::chrono::seconds minimumAge) {
  const fs::path path = replacedFile(requested).path;
  const std::string prefix = temporaryPrefix(path);
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(path.parent_path(), error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + kTemporarySuffixLength || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::error_code statError;
    if (!it->is_regular_file(statError) || it->is_symlink(statError)) continue;
    const auto written = fs::last_write_time(it->path(), statError);
    if (statError || now - written < minimumAge) continue;
    fs::remove(it->path(), statError);
  }
}
