// The pieces every report of the bench is written with: CSV cells, the
// measurement columns, and where a report goes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bench/board/board_settings.h"
#include "bench/sequences/rates.h"

namespace Zelvar_Core::bench {

// A text as one CSV cell: quoted when it holds a comma, a quote or a line break.
std::string csv_text(const std::string& text);
// The measurement columns of a report, in the order measurement_cells() gives them.
const std::vector<std::string>& measurement_columns();
// ",on_mean,on_std,off_mean,off_std,adc..." for a row; "" for what is unavailable.
std::string measurement_cells(const Measurement& m);
// ",v1,v2,..." for `keys`: each one's value in `in_force` ("" when it holds
// none; the first when it holds two), found through an index made once, so
// a board of very many registers is written in time proportional to them.
std::string settings_cells(const Settings& in_force, const std::vector<std::string>& keys);
// A new report's path: `folder`/<stem>_YYYYMMDD_HHMMSS<extension>.
std::string report_path(const std::filesystem::path& folder, const std::string& stem,
                        const std::string& extension);

}  // namespace Zelvar_Core::bench
