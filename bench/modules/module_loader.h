// The bench's optional parts (the remote board, the HDF5 export, the lab's
// PostgreSQL results database) are modules loaded the first time they are
// needed, so that a bench that never uses them never loads their libraries.
// No toolkit here: the results store, which has no windows, loads one too.
#pragma once

#include <string>

namespace Zelvar_Core::bench {

// The function `entry` of the module file `module`, looked for beside the
// program, in the build's lib folder beside bin and where the package
// installs it, nearest first. nullptr when none loads or none has it, with
// the reason in `why` ("it is not installed", the loader's own words, ...).
// A module loaded stays loaded for the life of the process.
void* load_module_entry(const char* module, const char* entry, std::string& why);

}  // namespace Zelvar_Core::bench
