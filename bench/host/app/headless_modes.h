// What pravel does without a display: each returns the program's exit
// status and says what went wrong in one sentence on the error output.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "bench/board/board_declaration.h"
#include "bench/results/results_store.h"
#include "bench/sequences/run_record.h"

namespace Zelvar_Core::bench {

// A 3 MiB sample bitstream (design "aer640_sample") at `path`, its folder
// made when missing: 0, or 1.
int write_sample_bitstream(const std::string& path);
// The recording as HDF5: 0 when `out` is complete, 1 otherwise (nothing is
// left under its name). An existing `out` is kept unless `overwrite`.
int export_recording(const std::string& recording, const std::string& out, bool overwrite);
// What a --run asks for.
struct RunRequest {
  std::string sequence;
  std::string report;  // "" for reports/<sequence>_<time>.csv
  // HOST:PORT of every served board to run on at once; none for the
  // built-in simulated board of `sensor`.
  std::vector<std::string> boards;
  std::string token_file, tls_ca;  // for served boards: the token's file, the CA of TLS
  SimulatedSensor sensor = SimulatedSensor::Aer640;
  RunSite site;         // the operator, station and DUT kept with each record
  std::string results;  // a lab's database, "" for the bench's results file only
  // Set (from another thread) to abort the run on every board; none for a run that is not.
  const std::atomic<bool>* aborted = nullptr;
};

// The sequence run on each board at once, each with its own report,
// recordings and test record kept in the bench's results store (the
// record INCOMPLETE from the start, replaced after each step and at the
// end). A store that cannot be opened or written is told in one sentence;
// the reports are written all the same. With several boards, a table
// ends the run: board, DUT, outcome, failing checks. Exit status: 0 when
// every board passed, 1 when an expectation failed, 2 when a run was
// refused (nothing run on its board) or did not end.
int run_sequence_file(const RunRequest& request);

// The runs the bench's results store keeps that `filter` lets through, to
// the CSV file `path` (whole, or the old file left as it was): 0, or 1
// with the reason in one sentence.
int export_results(const std::string& path, const results::RunFilter& filter,
                   const std::string& shared);

}  // namespace Zelvar_Core::bench
