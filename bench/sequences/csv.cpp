#include "bench/sequences/csv.h"

#include <fmt/format.h>

#include <cmath>
#include <string_view>
#include <unordered_map>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

std::vector<std::string> measurement_columns(const std::vector<AdcChannelDeclaration>& channels) {
  std::vector<std::string> columns = {"on_rate_mean_hz", "on_rate_std_hz", "off_rate_mean_hz",
                                      "off_rate_std_hz"};
  for (const auto& channel : channels_or_default(channels))
    columns.push_back(Measurement::mean_name(channel) +
                      (channel.unit.empty() ? "" : " (" + channel.unit + ")"));
  return columns;
}

std::string setting_column(const std::string& key, const BoardDeclaration& board) {
  const Register* r = board.find_register(key);
  return r == nullptr || r->unit.empty() ? key : key + " (" + r->unit + ")";
}

std::string csv_text(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string settings_cells(const Settings& in_force, const std::vector<std::string>& keys) {
  std::unordered_map<std::string_view, std::string_view> value_of;
  value_of.reserve(in_force.size());
  for (const auto& [key, value] : in_force) value_of.emplace(key, value);  // the first one stays
  std::string cells;
  for (const auto& key : keys) {
    const auto found = value_of.find(key);
    cells += "," + csv_text(found == value_of.end() ? "" : std::string(found->second));
  }
  return cells;
}

std::string measurement_cells(const Measurement& m) {
  auto cell = [](double value, const char* format) {
    return "," + (std::isfinite(value) ? fmt::format(fmt::runtime(format), value) : "");
  };
  std::string cells = cell(m.on_mean, "{:.1f}") + cell(m.on_std, "{:.1f}") +
                      cell(m.off_mean, "{:.1f}") + cell(m.off_std, "{:.1f}");
  for (double adc : m.adc_means) cells += cell(adc, "{:.4f}");
  return cells;
}

std::string report_path(const std::filesystem::path& folder, const std::string& stem,
                        const std::string& extension) {
  return (folder / (stem + "_" + local_time("%Y%m%d_%H%M%S") + extension)).string();
}

}  // namespace Zelvar_Core::bench
