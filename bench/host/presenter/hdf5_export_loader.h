// The HDF5 export as the bench runs it: through its module
// (bench/events/hdf5_export_module.h), loaded here the first time it is
// needed, so that the bench starts without the HDF5 library.
#pragma once

#include <functional>
#include <string>

#include "bench/events/hdf5_export.h"

namespace Zelvar_Core::bench {

// export_hdf5() itself, once the module is loaded; when it cannot be found
// or loaded, throws std::runtime_error with one sentence saying so, and
// nothing is written.
ExportStats export_hdf5_when_loaded(const std::string& recording, const std::string& out,
                                    bool overwrite,
                                    const std::function<bool(double)>& progress = nullptr);

}  // namespace Zelvar_Core::bench
