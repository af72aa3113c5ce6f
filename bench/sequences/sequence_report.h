// A sequence's report as CSV.
#pragma once

#include <string>

#include "bench/sequences/sequence_run.h"

namespace Zelvar_Core::bench {

// One table, readable by a spreadsheet or pandas (comment="#"): the header
// block (the settings before the run), then a row for every step that did
// something, each with the design, mode and registers in force for it.
std::string report_csv(const Sequence& sequence, const SequenceReport& report,
                       const Settings& settings);

}  // namespace Zelvar_Core::bench
