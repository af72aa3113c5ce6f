#include "bench/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace Zelvar_Core::bench {

std::string write_capture(const EventFrame& frame, double min, double max,
                          const std::string& folder) {
  std::filesystem::create_directories(folder);
  std::string path;
  for (int n = 1; path.empty() || std::filesystem::exists(path); ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/capture_%03d.pgm", n);
    path = folder + name;
  }
  std::string pixels;
  pixels.reserve(frame.counts.size());
  for (auto v : frame.counts)
    pixels += static_cast<char>(std::lround(std::clamp((v - min) / (max - min), 0.0, 1.0) * 255));
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << kSensorWidth << " " << kSensorHeight << "\n255\n" << pixels;
  out.close();
  if (!out) throw std::runtime_error("Cannot write the capture " + path);
  return path;
}

}  // namespace Zelvar_Core::bench
