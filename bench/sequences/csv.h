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
// The measurement columns of a report on a board with `channels`, in the
// order measurement_cells() gives them: the rates, then each channel's mean
// in the board's order with its unit ("vdd_mean (V)"; the bare name for a
// channel without one).
std::vector<std::string> measurement_columns(const std::vector<AdcChannelDeclaration>& channels);
// A register's column: its name, with its unit where the board gives one
// ("VTH_ON (counts)", "CTRL"); any other setting by its key.
std::string setting_column(const std::string& key, const BoardDeclaration& board);
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
