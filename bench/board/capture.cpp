#include "bench/board/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "bench/board/whole_file.h"

namespace Zelvar_Core::bench {

std::string write_capture(const EventFrame& frame, double min, double max,
                          const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder))
    throw std::runtime_error("Cannot capture: the folder " + folder + " cannot be made");
  std::string pixels;
  pixels.reserve(frame.counts.size());
  for (auto v : frame.counts)
    pixels += static_cast<char>(std::lround(std::clamp((v - min) / (max - min), 0.0, 1.0) * 255));
  std::string pgm = "P5\n";
  if (frame.t_first >= 0)
    pgm += "# events from t=" + std::to_string(frame.t_first) +
           " us to t=" + std::to_string(frame.t_last) + " us\n";
  else
    pgm += "# no events\n";
  pgm += std::to_string(frame.geometry.width) + " " + std::to_string(frame.geometry.height) +
         "\n255\n" + pixels;
  // The first free number; a capture never replaces another, even one that
  // appears while this one is written.
  for (int n = 1;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "capture_%03d.pgm", n);
    const std::string path = fs::absolute(fs::path(folder) / name).lexically_normal().string();
    if (fs::exists(path)) continue;
    try {
      write_whole_file(path, pgm, false);
      return path;
    } catch (const std::runtime_error& e) {
      if (fs::exists(path)) continue;  // taken meanwhile
      throw std::runtime_error("Cannot write the capture " + path + ": " + e.what());
    }
  }
}

}  // namespace Zelvar_Core::bench
