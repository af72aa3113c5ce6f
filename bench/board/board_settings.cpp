#include "bench/board/board_settings.h"

namespace Zelvar_Core::bench {

std::string setting(const Settings& settings, const std::string& key) {
  for (const auto& [k, v] : settings)
    if (k == key) return v;
  return "";
}

Settings settings_of(const Board& board) {
  Settings settings = {{"design", board.design().empty() ? "none" : board.design()},
                       {"mode", chip_modes().at(static_cast<std::size_t>(board.mode()))}};
  for (const auto& r : board.registers().all())
    settings.emplace_back(r.name, std::to_string(r.value));
  return settings;
}

std::string identity_text(const DeviceInfo& info) {
  return info.vendor + " " + info.product_name + " " + info.serial_number + " " + info.dev_version;
}

const std::vector<std::string>& chip_modes() {
  static const std::vector<std::string> modes = {"Event stream", "Test pattern", "Standby"};
  return modes;
}

}  // namespace Zelvar_Core::bench
