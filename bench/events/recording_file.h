// Reading a recording: its header, then its events a chunk at a time, with
// an index of where each stretch of the file starts in time, so that a
// playback can seek. Everything odd about the file is counted and told.
//
// A file with no EVT 2.0 header is read as bare EVT 2.0 words only when its
// start looks like them: it holds at least one word, a time-high word is
// among its first 4096 words (or all of its words, if fewer), and at most
// 1 % of those words are of types EVT 2.0 does not define. Anything else
// (an HDF5 file, a text file, ...) is refused as not an EVT 2.0 recording.
// A headerless file that passes is read, with a note that it had no header.
// A read that fails, or a file that shrinks while it is read, is an error
// with its reason, never an early end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/events/evt2.h"

namespace Zelvar_Core::bench {

// What a scan of a whole recording found.
struct RecordingInfo {
  std::string path;
  evt2::Header header;
  bool headerless = false;
  std::uint64_t file_bytes = 0;
  std::uint64_t events = 0;
  std::uint64_t outside = 0;  // events beyond the sensor's geometry as the header gives it
  std::int64_t first_t = -1;  // microseconds; -1 without events
  std::int64_t last_t = -1;
  evt2::Decoder::Counts counts;     // words of each kind
  std::uint64_t partial_bytes = 0;  // a last word cut short
  // Where playback can start: every stretch of the file, with the decoder's
  // state at its start.
  struct Mark {
    std::uint64_t offset;  // bytes from the start of the file
    std::int64_t time_base;
    bool time_known;
    std::int64_t first_t;  // the first event time in the stretch (-1: none)
  };
  std::vector<Mark> marks;
  // From the first event to the last (never below zero, even when the
  // file's time goes back).
  double duration_seconds() const {
    return first_t < 0 ? 0
                       : static_cast<double>(std::max<std::int64_t>(0, last_t - first_t)) * 1e-6;
  }
  // What the events are read for: a playback leaves events beyond the
  // sensor out of the image; the export keeps every event.
  enum class Purpose { Playback, Export };
  // One sentence per oddity, for the user (none when the file is clean).
  std::vector<std::string> warnings(Purpose purpose = Purpose::Playback) const;
};

// Headerless files: how much of the start is looked at, and the share of
// words of undefined types it may hold.
inline constexpr std::size_t kHeaderlessCheckWords = 4096;
inline constexpr double kHeaderlessUnknownShare = 0.01;

// The longest header a recording may have: read back whole up to this,
// refused beyond it, and never written longer.
inline constexpr std::size_t kLongestHeader = 64u << 20;

class RecordingReader {
 public:
  // Opens the file and reads its header; throws std::runtime_error with one
  // sentence when it is missing, empty, in another format or not EVT 2.0
  // words at all.
  explicit RecordingReader(const std::string& path);
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  const evt2::ParsedHeader& header() const { return parsed_; }
  std::uint64_t file_bytes() const { return file_bytes_; }
  // Decodes up to `max_words` more words into `out`; false at the end.
  // Throws std::runtime_error with the reason when the file cannot be read.
  bool next(std::vector<Event>& out, std::size_t max_words = 1u << 16);
  // The same into columns with room for `max_words` events; `events` says
  // how many were written.
  bool next(const evt2::EventColumns& out, std::size_t max_words, std::size_t& events);
  // Reads up to `max_words` more words into `into` (room for that many)
  // and follows them with the reader's decoder without decoding them:
  // `words` says how many were read, `events` how many events they hold.
  // Before the call, decoder() has the state a decoder needs to decode them
  // (set_time_base), on another thread while this one reads on. False at
  // the end; throws as next() does.
  bool read_ahead(std::uint32_t* into, std::size_t max_words, std::size_t& words,
                  std::size_t& events);
  // Goes to a mark of the index.
  void seek(const RecordingInfo::Mark& mark);
  // What was read so far: the header, the word counts and a last word cut
  // short. The caller adds what it saw in the events (times, outside, index).
  RecordingInfo summary() const;
  std::uint64_t offset() const { return offset_; }
  std::uint64_t partial_bytes() const { return partial_; }
  const evt2::Decoder& decoder() const { return decoder_; }

  // Reads the whole file once: counts, times, oddities and the index.
  static RecordingInfo scan(const std::string& path);

 private:
  // Reads up to `max_words` more words into the start of words_ (read_ of
  // them); false at the end.
  bool read_words(std::size_t max_words);
  // The same into `into`; how many words, 0 at the end.
  std::size_t read_words_into(std::uint32_t* into, std::size_t max_words);
  void check_bare_words(const std::string& start) const;
  [[noreturn]] void read_failed() const;

  std::string path_;
  std::FILE* file_ = nullptr;
  evt2::ParsedHeader parsed_;
  std::uint64_t file_bytes_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t partial_ = 0;
  evt2::Decoder decoder_;
  // Room for the words read, never cleared: each read fills what it uses.
  std::unique_ptr<std::uint32_t[]> words_;
  std::size_t room_ = 0;
  std::size_t read_ = 0;
};

}  // namespace Zelvar_Core::bench
