#include "bench/host/presenter/hdf5_export_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "bench/events/hdf5_export_module.h"

namespace Zelvar_Core::bench {

namespace {

namespace fs = std::filesystem;

// Where the module may be, nearest first: beside the program, in the
// build's lib folder beside bin, and where the package installs it.
std::vector<fs::path> module_places() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {kExportModuleName};  // the loader's own search, then
  const fs::path folder = program.parent_path();
  return {folder / kExportModuleName, folder / ".." / "lib" / kExportModuleName,
          folder / ZELVAR_MODULE_DIR / kExportModuleName};
}

// Loaded once and kept for the life of the process.
ExportHdf5 module_entry() {
  static std::mutex loading;
  static ExportHdf5 entry = nullptr;
  std::lock_guard lock(loading);
  if (entry) return entry;
  std::string why = "it is not installed";
  for (const fs::path& place : module_places()) {
    std::error_code error;
    if (place.has_parent_path() && !fs::exists(place, error)) continue;
    void* module = ::dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* said = ::dlerror();
      why = said ? said : "it cannot be loaded";
      continue;
    }
    if (void* found = ::dlsym(module, kExportHdf5)) {
      entry = reinterpret_cast<ExportHdf5>(found);
      return entry;
    }
    why = place.string() + " is not the HDF5 export module";
    ::dlclose(module);
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
