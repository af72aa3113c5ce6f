// The field's common raw event format, EVT 2.0: a text header of "% " lines
// ending with "% end", then 32-bit little-endian words. The top four bits
// give a word's type; CD_OFF/CD_ON carry the 6 low bits of the time and x,
// y (11 bits each); EVT_TIME_HIGH carries the time's bits 33..6.
//
// Header keys and values are escaped so that each field stays on its one
// line: a backslash is written "\\", a newline "\n", a carriage return
// "\r", any other control byte (and a space in a key) "\xHH". Reading
// undoes exactly these; any other backslash is kept as it is.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/board/event.h"

namespace Zelvar_Core::bench::evt2 {

enum WordType : std::uint32_t {
  kCdOff = 0x0,
  kCdOn = 0x1,
  kTimeHigh = 0x8,
  kExtTrigger = 0xA,
  kOthers = 0xE,
  kContinued = 0xF,
};

inline constexpr std::int64_t kTimeWrap = std::int64_t{1} << 34;  // about 4.77 hours of µs
// A time-high word that goes down is a wrap of the 34-bit time only when it
// falls from the top quarter of the range to the bottom quarter (a wrap
// passes through neither middle quarter: a stretch without any time word
// that long would be over an hour). Any other step down is the file's own
// time going back, kept as it is and counted.
inline constexpr std::uint32_t kWrapFrom = 0x0c000000;  // time high at or above: top quarter
inline constexpr std::uint32_t kWrapTo = 0x04000000;    // time high below: bottom quarter

inline constexpr std::uint32_t cd_word(const Event& e) {
  return (e.p ? kCdOn : kCdOff) << 28 | static_cast<std::uint32_t>(e.t & 0x3f) << 22 |
         static_cast<std::uint32_t>(e.x & 0x7ff) << 11 | static_cast<std::uint32_t>(e.y & 0x7ff);
}
inline constexpr std::uint32_t time_high_word(std::int64_t t) {
  return kTimeHigh << 28 | static_cast<std::uint32_t>((t >> 6) & 0x0fffffff);
}

// What a recording says about itself.
struct Header {
  int width = kSensorWidth;
  int height = kSensorHeight;
  std::string version;  // "2.0"
  std::string date;     // "YYYY-MM-DD HH:MM:SS"
  // Every "% key value" line in order, the fixed ones included.
  std::vector<std::pair<std::string, std::string>> fields;
  std::string value(const std::string& key) const;  // "" when absent
  // Whether the event lies on the sensor of the header's geometry (a
  // recording whose header gives none is of the AER-640, 640 x 480).
  bool contains(const Event& e) const { return e.x < width && e.y < height; }
};

// The header text: "% evt 2.0", format, geometry and date, then one line
// per setting (design, mode, each register), and "% end". Keys and values
// are escaped (see above).
std::string header_text(const std::string& date,
                        const std::vector<std::pair<std::string, std::string>>& settings,
                        int width = kSensorWidth, int height = kSensorHeight);

// Reads a header from the start of a file. `data_offset` is where the words
// begin; `headerless` when the file does not start with "% ".
struct ParsedHeader {
  Header header;
  std::size_t data_offset = 0;
  bool headerless = false;
};
// Throws std::invalid_argument when the header names another format.
// Keys and values come back unescaped.
ParsedHeader parse_header(const std::string& start);

// The escape of header text, and its inverse.
std::string escape_header_text(const std::string& text, bool is_key = false);
std::string unescape_header_text(const std::string& text);

// Events to words, in order: a time-high word before the first event and
// whenever the time's bits 33..6 change.
class Encoder {
 public:
  void encode(const Event* events, std::size_t count, std::vector<std::uint32_t>& words);
  void reset() { have_high_ = false; }

 private:
  bool have_high_ = false;
  std::uint32_t high_ = 0;
};

// Where decoded events go when a caller wants them a field at a time (the
// HDF5 export's arrays): each array has room for as many events as there
// are words to decode.
struct EventColumns {
  std::uint16_t* x;
  std::uint16_t* y;
  std::uint8_t* p;
  std::int64_t* t;
};

// Words to events. The 34-bit time is unwrapped when it wraps (see
// kWrapFrom); a time that goes back otherwise is kept and counted; words of
// other or unknown types are skipped and counted.
class Decoder {
 public:
  struct Counts {
    std::uint64_t events = 0;
    std::uint64_t time_highs = 0;
    std::uint64_t triggers = 0;     // EXT_TRIGGER words
    std::uint64_t skipped = 0;      // OTHERS, CONTINUED and unknown types
    std::uint64_t unknown = 0;      // of those, the types EVT 2.0 does not define
    std::uint64_t before_time = 0;  // events before any time-high word
    std::uint64_t steps_back = 0;   // time-high words lower than the last, not a wrap
  };
  // Appends the events of the words to `out`.
  void decode(const std::uint32_t* words, std::size_t count, std::vector<Event>& out);
  // Writes the events of the words to the columns; returns how many.
  std::size_t decode(const std::uint32_t* words, std::size_t count, const EventColumns& out);
  // Follows the words as decode does (the time state and the counts) but
  // writes no event; returns how many there are. Much cheaper than decoding:
  // the state it leaves lets another decoder take up the words that follow
  // (set_time_base) while this one goes on further.
  std::size_t skim(const std::uint32_t* words, std::size_t count);
  // The decoder's time state, to start decoding in the middle of a file.
  std::int64_t time_base() const { return base_; }
  bool time_known() const { return have_high_; }
  void set_time_base(std::int64_t base, bool known) {
    base_ = base;
    high_ = static_cast<std::uint32_t>(base >> 6 & 0x0fffffff);
    have_high_ = known;
  }
  const Counts& counts() const { return counts_; }

 private:
  template <typename Store>
  std::size_t decode_with(const std::uint32_t* words, std::size_t count, Store store);

  std::int64_t base_ = 0;  // (time high << 6) plus the wraps seen
  std::uint32_t high_ = 0;
  bool have_high_ = false;
  Counts counts_;
};

}  // namespace Zelvar_Core::bench::evt2
