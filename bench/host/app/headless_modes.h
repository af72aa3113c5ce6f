// What pravel does without a display: each returns the program's exit
// status and says what went wrong in one sentence on the error output.
#pragma once

#include <string>

#include "bench/board/board_declaration.h"

namespace Zelvar_Core::bench {

// A 3 MiB sample bitstream (design "aer640_sample") at `path`, its folder
// made when missing: 0, or 1.
int write_sample_bitstream(const std::string& path);
// The recording as HDF5: 0 when `out` is complete, 1 otherwise (nothing is
// left under its name). An existing `out` is kept unless `overwrite`.
int export_recording(const std::string& recording, const std::string& out, bool overwrite);
// The sequence run on a simulated board of its own, its report to
// `report_path` ("" for reports/): 0 when every expectation held, 1 when
// one failed, 2 when it was refused (nothing run) or did not end.
// On the built-in simulated board (of `sensor`), or on the board served at
// `board` (HOST:PORT) with the token in `token_file` when one is named,
// over TLS checked against the CA certificate in `tls_ca` when one is named.
int run_sequence_file(const std::string& path, std::string report_path,
                      const std::string& board = "", const std::string& token_file = "",
                      SimulatedSensor sensor = SimulatedSensor::Aer640,
                      const std::string& tls_ca = "");

}  // namespace Zelvar_Core::bench
