// Handing a file or a folder to the desktop: opened with its program, or
// its path copied. Each says in a sentence what happened.
#pragma once

#include <string>

namespace Zelvar_Core::bench {

std::string open_on_desktop(const std::string& path);
std::string copy_path(const std::string& path);

}  // namespace Zelvar_Core::bench
