// Captured images: the frame through the histogram range as an 8-bit PGM,
// with the time span of its events in the file's comment.
#pragma once

#include <string>

#include "bench/board/sensor.h"

namespace Zelvar_Core::bench {

// Writes `frame` as `folder`/capture_NNN.pgm, NNN the first number not yet
// taken (an earlier capture is never overwritten), and returns its absolute
// path. The folder is made when missing.
std::string write_capture(const EventFrame& frame, double min, double max,
                          const std::string& folder);

}  // namespace Zelvar_Core::bench
