// A recording exported for analysis: an HDF5 file with the datasets
// events/x (uint16), events/y (uint16), events/p (uint8, 1 = ON) and
// events/t (int64, microseconds), chunked and compressed (HDF5's lossless
// scale-offset filter), each with "units" and "description" attributes, and
// the recording's header fields as attributes of "events", with the
// sensor's "width" and "height" in pixels as numbers (640 x 480 for a
// recording whose header gives no geometry). The export is lossless: every
// event of the file is in it, those beyond the sensor's geometry included.
//
// The file is written under a temporary name in the output's folder and
// renamed into place only once every HDF5 call, the close included, has
// succeeded: the output is complete or not there.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zelvar_Core::bench {

// The output exists and was not to be replaced: "OUT.h5 exists; choose
// another name for the export or overwrite it".
class ExportExists : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ExportStats {
  std::uint64_t events = 0;
  double seconds = 0;
  // One sentence per oddity of the recording, as the export read it.
  std::vector<std::string> notes;
};

// Throws std::runtime_error with one sentence naming the file that could
// not be read or written, with the system's reason where there is one.
// Refuses, before anything is written, an output that is the recording
// itself (by any name) and, unless `overwrite`, an output that exists.
// `progress` (0..1) may return false to cancel (Cancelled is thrown).
ExportStats export_hdf5(const std::string& recording, const std::string& out, bool overwrite,
                        const std::function<bool(double)>& progress = nullptr);

}  // namespace Zelvar_Core::bench
