#include "bench/host/presenter/hdf5_export_loader.h"

#include <mutex>
#include <stdexcept>

#include "bench/events/hdf5_export_module.h"
#include "bench/modules/module_loader.h"

namespace Zelvar_Core::bench {

namespace {

// Loaded once and kept for the life of the process.
ExportHdf5 module_entry() {
  static std::mutex loading;
  static ExportHdf5 entry = nullptr;
  std::lock_guard lock(loading);
  if (entry) return entry;
  std::string why;
  if (void* found = load_module_entry(kExportModuleName, kExportHdf5, why)) {
    entry = reinterpret_cast<ExportHdf5>(found);
    return entry;
  }
  throw std::runtime_error("Cannot export to HDF5: the export module " +
                           std::string(kExportModuleName) + " cannot be loaded (" + why + ")");
}

}  // namespace

ExportStats export_hdf5_when_loaded(const std::string& recording, const std::string& out,
                                    bool overwrite, const std::function<bool(double)>& progress) {
  ExportStats stats;
  module_entry()(recording, out, overwrite, progress, stats);
  return stats;
}

}  // namespace Zelvar_Core::bench
