#include "bench/board/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace Zelvar_Core::bench {

namespace {

[[noreturn]] void fail(int error_number, const std::string& temporary) {
  if (!temporary.empty()) ::unlink(temporary.c_str());
  throw std::runtime_error(std::strerror(error_number));
}

}  // namespace

void write_whole_file(const std::string& path, const std::string& bytes, bool replace) {
  const std::filesystem::path target(path);
  const std::string folder =
      target.has_parent_path() ? target.parent_path().string() : std::string(".");
  // A name of its own beside the destination, made with the usual
  // permissions (mkstemp would make it private).
  static std::atomic<unsigned> serial{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = folder + "/." + target.filename().string() + "." + std::to_string(::getpid()) +
                "." + std::to_string(serial++) + ".part";
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) fail(errno, "");
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      fail(error, temporary);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    fail(error, temporary);
  }
  if (::close(fd) != 0) fail(errno, temporary);
  if (replace) {
    if (::rename(temporary.c_str(), path.c_str()) != 0) fail(errno, temporary);
    return;
  }
  // A link fails when the name is taken: nothing already there is replaced,
  // even by a file that appeared a moment ago.
  if (::link(temporary.c_str(), path.c_str()) != 0) fail(errno, temporary);
  ::unlink(temporary.c_str());
}

}  // namespace Zelvar_Core::bench
