// Presets: every device register, DAC and chip signal of the board as a
// human-readable JSON file.
#pragma once

#include <string>

#include "bench/simulated_board.h"

namespace Zelvar_Core::bench {

inline constexpr const char* kBoardName = "AER-640";

std::string preset_to_json(const BenchModel& model);
// Checks the whole preset first and applies it only when every value is
// good; otherwise throws std::invalid_argument naming what is wrong, and
// the model is unchanged.
void apply_preset_json(BenchModel& model, const std::string& text);

}  // namespace Zelvar_Core::bench
