// Records that the host hands to the front end's windows: value records for
// the values editors and channel records for the ADC monitor.
#pragma once

#include <fmt/format.h>
#include <tsl/ordered_map.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace Zelvar_Core {

// A value with an obvious text form: an integer (decimal digits), a floating
// point number (shortest form that reads back the same) or a text.
using Value = std::variant<std::int64_t, double, std::string>;

inline std::string to_text(const Value& value) {
  return std::visit([](const auto& v) { return fmt::format("{}", v); }, value);
}
inline std::string to_text(double value) { return fmt::format("{}", value); }
inline std::string to_text(int value) { return fmt::format("{}", value); }

// One row of a values editor: `label` is the caption and the key of its field.
struct ValueRecord {
  std::string label;
  Value value;
};

// Keys are the host's; the views visit the records in insertion order.
using ValuesMap = tsl::ordered_map<std::string, ValueRecord>;

// One ADC channel as the host samples it. `data_t` (seconds, ascending) and
// `data_y` hold one element per sample; `IsEnabled` is written back by the
// monitor from its check box.
struct AdcChannel {
  int channel = 0;
  std::string label;
  double value = 0.0;
  bool IsEnabled = true;
  std::vector<double> data_t;
  std::vector<double> data_y;
};

using AdcValuesMap = tsl::ordered_map<std::string, AdcChannel>;

}  // namespace Zelvar_Core
