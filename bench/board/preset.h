// Presets: every device register, DAC and chip signal of the board as a
// human-readable JSON file.
#pragma once

#include <string>

#include "bench/board/bench_model.h"

namespace Zelvar_Core::bench {

inline constexpr const char* kBoardName = "AER-640";

std::string preset_to_json(const BenchModel& model);
// Checks the whole preset first and writes it to the board only when every
// value is good; otherwise throws std::invalid_argument with one sentence
// naming what is wrong ("VTH_ON: 5000 is out of range 0..4095"), and
// nothing is written.
void apply_preset_json(BenchModel& model, const std::string& text);

// The preset as a file. Saving writes beside the file and renames, so a failed
// write leaves an older preset whole; loading refuses a bad file whole, the
// reason first, then the file ("Preset not loaded: ... (path)").
void save_preset_file(const BenchModel& model, const std::string& path);
void load_preset_file(BenchModel& model, const std::string& path);

}  // namespace Zelvar_Core::bench
