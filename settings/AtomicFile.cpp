#include "settings/AtomicFile.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "base/Uuid.hpp"

namespace fs = std::filesystem;

std::optional<std::string> readWholeFile(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

namespace {

std::string describe(const fs::path& path, int error) { return path.string() + ": " + std::strerror(error); }

// Best effort: makes the rename itself durable.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::optional<std::string> writeFileAtomically(const fs::path& path, std::string_view bytes) {
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return folder.string() + ": " + error.message();

  // A random suffix keeps two writers (or a stale leftover) from colliding.
  std::string name = ".";
  name.append(path.filename().string()).append(".").append(Uuid::random().uuidString(), 0, 8);
  const fs::path temporary = folder / name;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return describe(temporary, errno);

  const auto fail = [&](int code) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return describe(temporary, code);
  };
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
