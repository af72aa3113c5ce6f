#include "bench/modules/module_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

namespace Zelvar_Core::bench {

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> module_places(const char* module) {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {module};  // the loader's own search, then
  const fs::path folder = program.parent_path();
  return {folder / module, folder / ".." / "lib" / module, folder / ZELVAR_MODULE_DIR / module};
}

}  // namespace

void* load_module_entry(const char* module, const char* entry, std::string& why) {
  why = "it is not installed";
  for (const fs::path& place : module_places(module)) {
    std::error_code error;
    if (place.has_parent_path() && !fs::exists(place, error)) continue;
    void* loaded = ::dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loaded == nullptr) {
      const char* said = ::dlerror();
      why = said ? said : "it cannot be loaded";
      continue;
    }
    if (void* found = ::dlsym(loaded, entry)) return found;
    why = place.string() + " is not the module it should be";
    ::dlclose(loaded);
  }
  return nullptr;
}

}  // namespace Zelvar_Core::bench
