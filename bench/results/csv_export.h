// The filtered runs as a CSV file for spreadsheets and scripts: one row per
// measurement, each row carrying its run's fields, so that a measurement's
// values across chips are one column filter away; a run without
// measurements is one row with the measurement's columns empty. Rows come
// in the list's order (newest run first), a run's measurements in its order.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "bench/results/results_store.h"

namespace Zelvar_Core::bench::results {

// The header row's columns, in order.
const std::vector<std::string>& csv_columns();

struct CsvExported {
  std::size_t runs = 0, rows = 0;  // rows below the header
};

// Writes the runs `filter` lets through to `path`: a temporary file beside
// it, renamed over it when whole, so `path` holds the old file or the new
// one and never a part. Throws ResultsError in one sentence naming the file
// (or the store's own) when it cannot be written or the store read.
CsvExported export_runs_csv(ResultsStore& store, const RunFilter& filter, const std::string& path);

// The export stopped by its caller: no file written, `path` as it was.
class ExportStopped : public ResultsError {
 public:
  using ResultsError::ResultsError;
};

// The same, asking `go_on(runs written, runs to write)` before each run and
// once all are written: when it says false, the temporary file is removed
// and ExportStopped thrown. It runs on the caller's thread (a worker's).
CsvExported export_runs_csv(ResultsStore& store, const RunFilter& filter, const std::string& path,
                            const std::function<bool(std::size_t, std::size_t)>& go_on);

// A time as ISO 8601 in UTC with microseconds: "2026-05-28T10:13:20.000001Z".
std::string utc_text(UtcMicros time);

}  // namespace Zelvar_Core::bench::results
