// The board's settings as files and reports note them: the design, the chip
// mode and every register, DAC and chip signal, in order, by name.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bench/board/board.h"

namespace Zelvar_Core::bench {

// Named settings in order: "design", "mode", then each register by name.
using Settings = std::vector<std::pair<std::string, std::string>>;

// The value of `key` in `settings` ("" when absent).
std::string setting(const Settings& settings, const std::string& key);

// The design ("none" without one), the chip mode and every register of `board`.
Settings settings_of(const Board& board);

// "Zelvar Labs AER-640 sensor board (simulated) SIM-0001 1.4.2"
std::string identity_text(const DeviceInfo& info);

// The chip's modes, in the order of the mode box.
const std::vector<std::string>& chip_modes();

}  // namespace Zelvar_Core::bench
