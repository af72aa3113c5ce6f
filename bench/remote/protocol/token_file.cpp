#include "bench/remote/protocol/token_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace Zelvar_Core::bench::remote {

namespace {

// Closes the file however the reading ends.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The whole of the file at `path`, told as `what` ("the token file"): opened
// once, and everything checked on what was opened (a FIFO put where the
// file was does not hang the open, being opened without blocking).
std::string read_small_file(const std::string& path, const std::string& what, off_t largest,
                            const char* largest_said, bool owner_only) {
  const std::string named = what + " " + path;
  OpenFile file(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (file.fd() < 0) throw std::runtime_error("Cannot read " + named);
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0) throw std::runtime_error("Cannot read " + named);
  const std::string The =
      static_cast<char>(std::toupper(static_cast<unsigned char>(named[0]))) + named.substr(1);
  if (!S_ISREG(info.st_mode)) throw std::runtime_error(The + " is not a regular file");
  if (owner_only && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    throw std::runtime_error(The + " is readable by others: chmod 600 it");
  if (info.st_size > largest) throw std::runtime_error(The + " is larger than " + largest_said);
  std::string content(static_cast<std::size_t>(largest) + 1, '\0');
  std::size_t got = 0;
  while (got < content.size()) {
    const ssize_t n = ::read(file.fd(), content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("Cannot read " + named);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > static_cast<std::size_t>(largest))
    throw std::runtime_error(The + " is larger than " + largest_said);
  content.resize(got);
  return content;
}

}  // namespace

std::string read_token_file(const std::string& path) {
  const std::string content =
      read_small_file(path, "the token file", 4096, "4 KiB: not a token", true);
  const std::string token = content.substr(0, content.find('\n'));
  const auto first = token.find_first_not_of(" \t\r");
  const auto last = token.find_last_not_of(" \t\r");
  if (first == std::string::npos)
    throw std::runtime_error("The token file " + path + " holds no token");
  return token.substr(first, last - first + 1);
}

std::string read_tls_file(const std::string& path, TlsFile kind) {
  const char* what = kind == TlsFile::Key           ? "the TLS key"
                     : kind == TlsFile::Certificate ? "the TLS certificate"
                                                    : "the TLS CA certificate";
  std::string pem =
      read_small_file(path, what, 1 << 20, "1 MiB: not a certificate or key", kind == TlsFile::Key);
  if (pem.find("-----BEGIN ") == std::string::npos)
    throw std::runtime_error(std::string(what) + " " + path + " is not in PEM form");
  return pem;
}

bool same_secret(const std::string& given, const std::string& expected) {
  // Every byte of the longer is looked at whatever the others were.
  const std::size_t n = std::max(given.size(), expected.size());
  volatile unsigned char differ = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
    differ = differ | static_cast<unsigned char>(a ^ b);
  }
  return differ == 0;
}

}  // namespace Zelvar_Core::bench::remote
