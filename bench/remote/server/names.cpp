#include "bench/remote/server/names.h"

#include <fmt/format.h>

namespace Zelvar_Core::bench::remote {

namespace {

// The length of the UTF-8 sequence of a printable character at `at`, 0 when
// there is none: a stray, overlong or cut sequence, a surrogate, a C1 control
// or a line or paragraph separator, which a log reader would take for a break.
std::size_t printable_sequence(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code <= 0x9F || code == 0x2028 || code == 0x2029) return 0;
  return length;
}

}  // namespace

std::string log_safe(std::string_view text, std::size_t limit) {
  std::string out;
  out.reserve(std::min(text.size(), limit) + 3);
  for (std::size_t at = 0; at < text.size();) {
    std::string piece;
    const unsigned char c = static_cast<unsigned char>(text[at]);
    std::size_t taken = 1;
    if (c == '\\') {
      piece = "\\\\";
    } else if (c == '\n') {
      piece = "\\n";
    } else if (c == '\r') {
      piece = "\\r";
    } else if (c == '\t') {
      piece = "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      piece.assign(1, static_cast<char>(c));
    } else if (const std::size_t length = printable_sequence(text, at); length > 0) {
      piece.assign(text.substr(at, length));
      taken = length;
    } else {
      piece = fmt::format("\\x{:02x}", c);
    }
    if (out.size() + piece.size() > limit) {
      out += "...";
      break;
    }
    out += piece;
    at += taken;
  }
  return out;
}

}  // namespace Zelvar_Core::bench::remote
