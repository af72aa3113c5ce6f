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

std::string text_fault(const std::string& text) {
  auto byte = [](const char* what, unsigned value) {
    return fmt::format("{} (0x{:02X})", what, value);
  };
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char lead = s[i];
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7f) return byte("a control character", lead);
      ++i;
      continue;
    }
    // The length the lead byte announces, and the smallest code point that needs it.
    std::size_t length;
    char32_t point, least;
    if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2, point = lead & 0x1f, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3, point = lead & 0x0f, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4, point = lead & 0x07, least = 0x10000;
    } else {
      return byte("a byte that is not UTF-8", lead);
    }
    if (n - i < length) return byte("a byte that is not UTF-8", lead);
    for (std::size_t k = 1; k < length; ++k) {
      if ((s[i + k] & 0xc0) != 0x80) return byte("a byte that is not UTF-8", lead);
      point = point << 6 | (s[i + k] & 0x3f);
    }
    if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
      return byte("a byte that is not UTF-8", lead);
    if (point >= 0x80 && point <= 0x9f) return byte("a control character", point);
    i += length;
  }
  return "";
}

}  // namespace Zelvar_Core::bench
