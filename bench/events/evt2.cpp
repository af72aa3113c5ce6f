#include "bench/events/evt2.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Zelvar_Core::bench::evt2 {

std::string Header::value(const std::string& key) const {
  for (const auto& [k, v] : fields)
    if (k == key) return v;
  return "";
}

std::string escape_header_text(const std::string& text, bool is_key) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (byte < 0x20 || byte == 0x7f || (is_key && c == ' ')) {
      escaped += "\\x";
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xf];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string unescape_header_text(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool escape = text[i] == '\\' && i + 1 < text.size();
    const char next = escape ? text[i + 1] : 0;
    if (escape && (next == '\\' || next == 'n' || next == 'r')) {
      plain += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
      ++i;
    } else if (escape && next == 'x' && i + 3 < text.size() && hex_digit(text[i + 2]) >= 0 &&
               hex_digit(text[i + 3]) >= 0) {
      plain += static_cast<char>(hex_digit(text[i + 2]) << 4 | hex_digit(text[i + 3]));
      i += 3;
    } else {
      plain += text[i];  // plain text, or a backslash that is not one of ours: kept as written
    }
  }
  return plain;
}

std::string header_text(const std::string& date,
                        const std::vector<std::pair<std::string, std::string>>& settings, int width,
                        int height) {
  std::string text = "% evt 2.0\n";
  text +=
      "% format EVT2;height=" + std::to_string(height) + ";width=" + std::to_string(width) + "\n";
  text += "% geometry " + std::to_string(width) + "x" + std::to_string(height) + "\n";
  text += "% date " + escape_header_text(date) + "\n";
  for (const auto& [key, value] : settings)
    text += "% " + escape_header_text(key, true) + " " + escape_header_text(value) + "\n";
  text += "% end\n";
  return text;
}

namespace {

// A side of the sensor: digits only, 1..65535 (an event's coordinates are
// 16-bit); -1 for anything else.
int read_side(const std::string& text) {
  int side = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, side);
  if (error != std::errc() || at != end || side < 1 || side > 65535) return -1;
  return side;
}

// "EVT2;height=480;width=640" -> the two numbers, when both are there and
// are sides a sensor can have.
bool read_format(const std::string& format, int& width, int& height) {
  int w = -1, h = -1;
  std::size_t at = 0;
  while (at <= format.size()) {
    const std::size_t end = std::min(format.find(';', at), format.size());
    const std::string part = format.substr(at, end - at);
    if (part.rfind("width=", 0) == 0) w = read_side(part.substr(6));
    if (part.rfind("height=", 0) == 0) h = read_side(part.substr(7));
    at = end + 1;
  }
  if (w <= 0 || h <= 0) return false;
  width = w;
  height = h;
  return true;
}

}  // namespace

ParsedHeader parse_header(const std::string& start) {
  ParsedHeader parsed;
  if (start.compare(0, 2, "% ") != 0 && start.compare(0, 1, "%") != 0) {
    parsed.headerless = true;
    return parsed;
  }
  std::size_t at = 0;
  while (at < start.size() && start[at] == '%') {
    const std::size_t end = start.find('\n', at);
    if (end == std::string::npos) {
      at = start.size();  // a header cut short: no words follow
      break;
    }
    std::string line = start.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1);
    if (line == "end") break;
    const std::size_t space = line.find(' ');
    const std::string key = unescape_header_text(line.substr(0, space));
    const std::string value =
        space == std::string::npos ? "" : unescape_header_text(line.substr(space + 1));
    parsed.header.fields.emplace_back(key, value);
    if (key == "evt") parsed.header.version = value;
    if (key == "date") parsed.header.date = value;
    if (key == "format") {
      if (value.rfind("EVT2", 0) != 0)
        throw std::invalid_argument("it is in the " + value.substr(0, value.find(';')) +
                                    " format; this bench reads EVT 2.0");
      read_format(value, parsed.header.width, parsed.header.height);
    }
  }
  if (!parsed.header.version.empty() && parsed.header.version != "2.0")
    throw std::invalid_argument("it is an EVT " + parsed.header.version +
                                " recording; this bench reads EVT 2.0");
  parsed.data_offset = at;
  return parsed;
}

void Encoder::encode(const Event* events, std::size_t count, std::vector<std::uint32_t>& words) {
  // A block at a time into a buffer on the stack (two words per event at
  // most), with the time state in registers, then appended in one copy: no
  // per-word check of the vector's room.
  constexpr std::size_t kBlock = 1024;
  std::uint32_t block[2 * kBlock];
  std::uint32_t high = high_;
  bool have_high = have_high_;
  words.reserve(words.size() + count + count / 16 + 2);
  for (std::size_t at = 0; at < count; at += kBlock) {
    const std::size_t end = std::min(count, at + kBlock);
    std::uint32_t* out = block;
    for (std::size_t i = at; i < end; ++i) {
      const Event& e = events[i];
      const std::uint32_t next = static_cast<std::uint32_t>((e.t >> 6) & 0x0fffffff);
      if (!have_high || next != high) {
        *out++ = kTimeHigh << 28 | next;
        high = next;
        have_high = true;
      }
      *out++ = cd_word(e);
    }
    words.insert(words.end(), block, out);
  }
  high_ = high;
  have_high_ = have_high;
}

namespace {

// Where decoded events go: one event from its word, or (with SSE2) four
// events from four words at once, each given the time base its words add
// their 6 low bits to.
#if defined(__SSE2__)
// The time of four events: the base's low half with each word's 6 low bits,
// and the high half, as two vectors of 32-bit lanes.
struct FourTimes {
  FourTimes(std::int64_t base, __m128i w)
      : low(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(w, 22), _mm_set1_epi32(0x3f)),
                         _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(base))))),
        high(_mm_set1_epi32(
            static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(base) >> 32)))) {
  }
  __m128i first_two() const { return _mm_unpacklo_epi32(low, high); }
  __m128i last_two() const { return _mm_unpackhi_epi32(low, high); }
  __m128i low, high;
};
inline __m128i x_of(__m128i w) {
  return _mm_and_si128(_mm_srli_epi32(w, 11), _mm_set1_epi32(0x7ff));
}
inline __m128i y_of(__m128i w) { return _mm_and_si128(w, _mm_set1_epi32(0x7ff)); }
inline __m128i p_of(__m128i w) { return _mm_srli_epi32(w, 28); }  // CD_ON is 1, CD_OFF 0
#endif

struct IntoEvents {
  Event* out;
  void one(std::size_t i, std::int64_t base, std::uint32_t w) const {
    out[i].t = base | static_cast<std::int64_t>(w >> 22 & 0x3f);
    out[i].x = static_cast<std::uint16_t>(w >> 11 & 0x7ff);
    out[i].y = static_cast<std::uint16_t>(w & 0x7ff);
    out[i].p = static_cast<std::uint8_t>(w >> 28);
  }
#if defined(__SSE2__)
  // Each event is one 16-byte store: its time, then x, y and p in the
  // next 8 bytes (the padding after p written as zeros).
  static_assert(sizeof(Event) == 16 && offsetof(Event, t) == 0 && offsetof(Event, x) == 8 &&
                    offsetof(Event, y) == 10 && offsetof(Event, p) == 12,
                "an event's layout as the four-at-once store writes it");
  void four(std::size_t i, std::int64_t base, __m128i w) const {
    const FourTimes t(base, w);
    const __m128i xy = _mm_or_si128(x_of(w), _mm_slli_epi32(y_of(w), 16));
    const __m128i rest_01 = _mm_unpacklo_epi32(xy, p_of(w));
    const __m128i rest_23 = _mm_unpackhi_epi32(xy, p_of(w));
    auto* at = reinterpret_cast<__m128i*>(out + i);
    _mm_storeu_si128(at, _mm_unpacklo_epi64(t.first_two(), rest_01));
    _mm_storeu_si128(at + 1, _mm_unpackhi_epi64(t.first_two(), rest_01));
    _mm_storeu_si128(at + 2, _mm_unpacklo_epi64(t.last_two(), rest_23));
    _mm_storeu_si128(at + 3, _mm_unpackhi_epi64(t.last_two(), rest_23));
  }
#endif
};

struct IntoColumns {
  const EventColumns& out;
  void one(std::size_t i, std::int64_t base, std::uint32_t w) const {
    out.t[i] = base | static_cast<std::int64_t>(w >> 22 & 0x3f);
    out.x[i] = static_cast<std::uint16_t>(w >> 11 & 0x7ff);
    out.y[i] = static_cast<std::uint16_t>(w & 0x7ff);
    out.p[i] = static_cast<std::uint8_t>(w >> 28);
  }
#if defined(__SSE2__)
  void four(std::size_t i, std::int64_t base, __m128i w) const {
    const FourTimes t(base, w);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.t + i), t.first_two());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.t + i + 2), t.last_two());
    // x and y fit 16 bits and p 8: packed without saturating.
    const __m128i xy = _mm_packs_epi32(x_of(w), y_of(w));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out.x + i), xy);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out.y + i), _mm_srli_si128(xy, 8));
    const __m128i p = _mm_packs_epi32(p_of(w), p_of(w));
    const auto p_bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(p, p)));
    std::memcpy(out.p + i, &p_bytes, 4);
  }
#endif
};

// Where no event goes: only the words' kinds and the time are followed.
struct Nowhere {
  void one(std::size_t, std::int64_t, std::uint32_t) const {}
#if defined(__SSE2__)
  void four(std::size_t, std::int64_t, __m128i) const {}
#endif
};

}  // namespace

// One loop for both outputs: the event's fields are written straight where
// they belong, and the time state and counts stay in registers until the
// words are done (an event built apart and copied, or counts kept in memory,
// cost more than the decoding itself). Runs of events, nearly every word of
// a recording, go four words at a time.
template <typename Store>
std::size_t Decoder::decode_with(const std::uint32_t* words, std::size_t count, Store store) {
  std::int64_t base = base_;
  std::uint32_t high = high_;
  bool have_high = have_high_;
  std::size_t events = 0;
  std::uint64_t before_time = 0, time_highs = 0, triggers = 0, skipped = 0, unknown = 0,
                steps_back = 0;
  for (std::size_t i = 0; i < count; ++i) {
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4, events += 4) {
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i));
      // CD_OFF and CD_ON are the types below 2; any other word ends the run.
      if (_mm_movemask_epi8(_mm_cmpgt_epi32(_mm_srli_epi32(w, 28), _mm_set1_epi32(kCdOn))) != 0)
        break;
      store.four(events, base, w);
    }
    if (i == count) break;
#endif
    const std::uint32_t w = words[i];
    const std::uint32_t type = w >> 28;
    if (type <= kCdOn) {
      store.one(events++, base, w);
      continue;
    }
    switch (type) {
      case kTimeHigh: {
        const std::uint32_t next = w & 0x0fffffff;
        std::int64_t wraps = base >> 34;
        if (!have_high) before_time = events;  // the events so far had no time word before them
        if (have_high && next < high) {
          if (high >= kWrapFrom && next < kWrapTo)
            ++wraps;  // the 34-bit time went round
          else
            ++steps_back;
        }
        base = wraps << 34 | static_cast<std::int64_t>(next) << 6;
        high = next;
        have_high = true;
        ++time_highs;
        break;
      }
      case kExtTrigger:
        ++triggers;
        break;
      case kOthers:
      case kContinued:
        ++skipped;
        break;
      default:
        ++skipped;
        ++unknown;
    }
  }
  if (!have_high) before_time = events;
  base_ = base;
  high_ = high;
  have_high_ = have_high;
  counts_.events += events;
  counts_.before_time += before_time;
  counts_.time_highs += time_highs;
  counts_.triggers += triggers;
  counts_.skipped += skipped;
  counts_.unknown += unknown;
  counts_.steps_back += steps_back;
  return events;
}

void Decoder::decode(const std::uint32_t* words, std::size_t count, std::vector<Event>& out) {
  // A block at a time into a buffer on the stack, appended in one copy: the
  // vector's room is never cleared before the events are written.
  constexpr std::size_t kBlock = 1024;
  Event block[kBlock];
  out.reserve(out.size() + count);
  for (std::size_t at = 0; at < count; at += kBlock) {
    const std::size_t events =
        decode_with(words + at, std::min(kBlock, count - at), IntoEvents{block});
    out.insert(out.end(), block, block + events);
  }
}

std::size_t Decoder::decode(const std::uint32_t* words, std::size_t count,
                            const EventColumns& out) {
  return decode_with(words, count, IntoColumns{out});
}

std::size_t Decoder::skim(const std::uint32_t* words, std::size_t count) {
  return decode_with(words, count, Nowhere{});
}

}  // namespace Zelvar_Core::bench::evt2
