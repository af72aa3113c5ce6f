#include "bench/board/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace Zelvar_Core::bench {

std::string write_capture(const EventFrame& frame, double min, double max,
                          const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder))
    throw std::runtime_error("Cannot capture: the folder " + folder + " cannot be made");
  std::string path;
  for (int n = 1; path.empty() || fs::exists(path); ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "capture_%03d.pgm", n);
    path = fs::absolute(fs::path(folder) / name).lexically_normal().string();
  }
  std::string pixels;
  pixels.reserve(frame.counts.size());
  for (auto v : frame.counts)
    pixels += static_cast<char>(std::lround(std::clamp((v - min) / (max - min), 0.0, 1.0) * 255));
  std::ofstream out(path, std::ios::binary);
  out << "P5\n";
  if (frame.t_first >= 0)
    out << "# events from t=" << frame.t_first << " us to t=" << frame.t_last << " us\n";
  else
    out << "# no events\n";
  out << kSensorWidth << " " << kSensorHeight << "\n255\n" << pixels;
  out.close();
  if (!out) throw std::runtime_error("Cannot write the capture " + path);
  return path;
}

}  // namespace Zelvar_Core::bench
