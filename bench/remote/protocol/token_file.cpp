#include "bench/remote/protocol/token_file.h"

#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

namespace Zelvar_Core::bench::remote {

std::string read_token_file(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    throw std::runtime_error("Cannot read the token file " + path);
  if (!S_ISREG(info.st_mode))
    throw std::runtime_error("The token file " + path + " is not a regular file");
  if (info.st_size > 4096)
    throw std::runtime_error("The token file " + path + " is larger than 4 KiB: not a token");
  std::ifstream in(path);
  std::string token;
  if (!in || (!std::getline(in, token) && !in.eof()))
    throw std::runtime_error("Cannot read the token file " + path);
  const auto first = token.find_first_not_of(" \t\r");
  const auto last = token.find_last_not_of(" \t\r");
  if (first == std::string::npos)
    throw std::runtime_error("The token file " + path + " holds no token");
  return token.substr(first, last - first + 1);
}

}  // namespace Zelvar_Core::bench::remote
