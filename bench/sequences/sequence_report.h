// A sequence's report as CSV.
#pragma once

#include <string>

#include "bench/sequences/sequence_run.h"

namespace Zelvar_Core::bench {

// One table, readable by a spreadsheet or pandas (comment="#"): the header
// block (the settings before the run), then a row for every step that did
// something, each with the design, mode and registers in force for it.
// "4 of 4 expectations held (8 of 8 rows in range)": the expect steps, then
// the rows they checked (an expect on a sweep checks each of its rows).
std::string expectations_text(const SequenceReport& report);

// Its columns are `board`'s: its ADC channels in its order, and each
// register with its unit where it has one.
std::string report_csv(const Sequence& sequence, const SequenceReport& report,
                       const Settings& settings, const BoardDeclaration& board);

}  // namespace Zelvar_Core::bench
