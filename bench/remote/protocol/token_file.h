// The shared secret a board server asks of its clients, kept in a file.
#pragma once

#include <string>

namespace Zelvar_Core::bench::remote {

// The token in `path`: its first line without blanks around it. Only a
// regular file of at most 4 KiB is read (never a FIFO, a device or a folder);
// anything else, or an empty token, is refused with the reason.
std::string read_token_file(const std::string& path);

}  // namespace Zelvar_Core::bench::remote
