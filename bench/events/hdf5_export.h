// A recording exported for analysis: an HDF5 file with the datasets
// events/x (uint16), events/y (uint16), events/p (uint8, 1 = ON) and
// events/t (int64, microseconds), chunked and compressed (HDF5's lossless
// scale-offset filter), with the recording's header fields as attributes of
// "events".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace Zelvar_Core::bench {

struct ExportStats {
  std::uint64_t events = 0;
  double seconds = 0;
};

// Throws std::runtime_error with one sentence naming the file that could
// not be read or written. `progress` (0..1) may return false to cancel.
ExportStats export_hdf5(const std::string& recording, const std::string& out,
                        const std::function<bool(double)>& progress = nullptr);

}  // namespace Zelvar_Core::bench
