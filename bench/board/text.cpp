#include "bench/board/text.h"

#include <fmt/format.h>

#include <cmath>
#include <ctime>

namespace Zelvar_Core::bench {

std::string size_text(std::uint64_t bytes) {
  // Binary multiples, labelled as such: 39,230,034 bytes are 37.4 MiB.
  const auto in = [bytes](int shift) { return static_cast<double>(bytes) / double(1ull << shift); };
  if (bytes >= (1ull << 30)) return fmt::format("{:.1f} GiB", in(30));
  if (bytes >= (1ull << 20)) return fmt::format("{:.1f} MiB", in(20));
  if (bytes >= (1ull << 10)) return fmt::format("{:.0f} KiB", in(10));
  return fmt::format("{} bytes", bytes);
}

std::string count_text(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

std::string short_count_text(std::uint64_t count) {
  if (count >= 1000000) return fmt::format("{:.1f} M", static_cast<double>(count) / 1e6);
  if (count >= 1000) return fmt::format("{:.0f} k", static_cast<double>(count) / 1e3);
  return std::to_string(count);
}

std::string rate_text(double events_per_second, int mega_decimals) {
  if (!std::isfinite(events_per_second)) return "unavailable";
  if (events_per_second >= 1e6)
    return fmt::format("{:.{}f} Mev/s", events_per_second / 1e6, mega_decimals);
  return fmt::format("{:.1f} kev/s", events_per_second / 1e3);
}

std::string local_time(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  if (std::strftime(text, sizeof text, format, &local) == 0) return "";
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace Zelvar_Core::bench
