// Files written whole or not at all: the bytes go into a temporary file
// beside the destination, which is closed (and its result checked) before it
// is renamed into place. A full disk, a missing permission or a killed
// process leaves the old file, or none, never a part of the new one.
#pragma once

#include <string>

namespace Zelvar_Core::bench {

// Writes `bytes` to `path`. With `replace` false an existing file is kept
// and the write refused. Throws std::runtime_error whose text is the
// system's reason ("No space left on device", "File exists", ...).
void write_whole_file(const std::string& path, const std::string& bytes, bool replace = true);

}  // namespace Zelvar_Core::bench
