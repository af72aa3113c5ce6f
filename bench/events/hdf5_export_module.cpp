#include "bench/events/hdf5_export_module.h"

extern "C" __attribute__((visibility("default"))) void zelvar_export_hdf5(
    const std::string& recording, const std::string& out, bool overwrite,
    const std::function<bool(double)>& progress, Zelvar_Core::bench::ExportStats& stats) {
  stats = Zelvar_Core::bench::export_hdf5(recording, out, overwrite, progress);
}

// The entry point has the type the bench calls it by.
static_assert(std::is_same_v<decltype(&zelvar_export_hdf5), Zelvar_Core::bench::ExportHdf5>);
