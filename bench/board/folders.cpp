#include "bench/board/folders.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace Zelvar_Core::bench {

namespace fs = std::filesystem;

BenchFolders BenchFolders::under(const fs::path& start) {
  const fs::path root = fs::absolute(start).lexically_normal();
  return {root,
          root / "tmp",
          root / "logs",
          root / "captures",
          root / "presets",
          root / "recordings",
          root / "reports",
          root / "results.db"};
}

void ensure_folder(const fs::path& folder) {
  std::error_code error;
  if (fs::exists(folder, error) && !fs::is_directory(folder, error))
    throw std::runtime_error(folder.string() + " is a file, not a folder");
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder))
    throw std::runtime_error("the folder " + folder.string() + " cannot be made (" +
                             (error ? error.message() : "unknown reason") + ")");
}

namespace {

void refuse_file(const fs::path& folder, const char* use) {
  throw StartupError("Cannot start: " + folder.string() + " is a file, but the bench keeps " + use +
                     " in a folder of that name; move the file away or start the bench " +
                     "in another folder.");
}

void check_writable(const fs::path& folder) {
  const fs::path probe = folder / ".pravel_write_check";
  {
    std::ofstream out(probe);
    out << "ok";
    out.close();
    if (!out) {
      throw StartupError("Cannot start: the folder " + folder.string() + " cannot be written to (" +
                         std::strerror(errno ? errno : EACCES) +
                         "); start the bench in a folder you can write to.");
    }
  }
  std::error_code ignored;
  fs::remove(probe, ignored);
}

}  // namespace

void check_folders(const BenchFolders& folders) {
  const std::pair<const fs::path*, const char*> uses[] = {
      {&folders.tmp, "its list of recent bitstreams"},
      {&folders.logs, "its log"},
      {&folders.captures, "its captures"},
      {&folders.presets, "its presets"},
      {&folders.recordings, "its recordings"},
      {&folders.reports, "its reports"}};
  for (const auto& [folder, use] : uses) {
    std::error_code error;
    if (fs::exists(*folder, error) && !fs::is_directory(*folder, error)) refuse_file(*folder, use);
  }
}

void prepare_folders(const BenchFolders& folders) {
  check_folders(folders);
  for (const auto* folder : {&folders.tmp, &folders.logs}) {
    try {
      ensure_folder(*folder);
    } catch (const std::runtime_error& e) {
      throw StartupError(std::string("Cannot start: ") + e.what() +
                         "; start the bench in a folder you can write to.");
    }
    check_writable(*folder);
  }
}

fs::path desktop_data_folder(const char* xdg_data_home, const char* home) {
  // The XDG rule: a relative or empty $XDG_DATA_HOME is to be ignored.
  if (xdg_data_home != nullptr && fs::path(xdg_data_home).is_absolute())
    return fs::path(xdg_data_home) / "pravel";
  if (home != nullptr && fs::path(home).is_absolute())
    return fs::path(home) / ".local" / "share" / "pravel";
  throw StartupError(
      "Cannot start: neither XDG_DATA_HOME nor HOME names a folder for the bench's files; "
      "start it from a terminal in a folder of your choice.");
}

}  // namespace Zelvar_Core::bench
