// The HDF5 export as a module of its own, loaded the first time pravel
// exports: the HDF5 library and the many it needs in turn (compression,
// network and cryptography libraries among them) are then loaded with it,
// and a bench that never exports never loads them.
//
// The module exports one function, kExportHdf5, of type ExportHdf5;
// everything else in it is hidden.
#pragma once

#include <functional>
#include <string>

#include "bench/events/hdf5_export.h"

namespace Zelvar_Core::bench {

// export_hdf5() behind the module's door: the same arguments, its result
// in `stats`, the same exceptions.
using ExportHdf5 = void (*)(const std::string& recording, const std::string& out, bool overwrite,
                            const std::function<bool(double)>& progress, ExportStats& stats);
inline constexpr char kExportHdf5[] = "zelvar_export_hdf5";

// The module's file name; it is looked for where the remote board's module
// is: beside the program, in the lib folder beside the program's folder,
// and in the package's own folder under it.
inline constexpr char kExportModuleName[] = "pravel_hdf5_export.so";

}  // namespace Zelvar_Core::bench
