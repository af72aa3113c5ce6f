// Reading a recording: its header, then its events a chunk at a time, with
// an index of where each stretch of the file starts in time, so that a
// playback can seek. Everything odd about the file is counted and told.
#pragma once

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
  std::uint64_t outside = 0;  // events beyond the sensor's 640 x 480
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
  double duration_seconds() const { return first_t < 0 ? 0 : (last_t - first_t) * 1e-6; }
  // One sentence per oddity, for the user ("" when the file is clean).
  std::vector<std::string> warnings() const;
};

class RecordingReader {
 public:
  // Opens the file and reads its header; throws std::runtime_error with one
  // sentence when it is missing, empty or in another format.
  explicit RecordingReader(const std::string& path);
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  const evt2::ParsedHeader& header() const { return parsed_; }
  std::uint64_t file_bytes() const { return file_bytes_; }
  // Decodes up to `max_words` more words into `out`; false at the end.
  bool next(std::vector<Event>& out, std::size_t max_words = 1u << 16);
  // Goes to a mark of the index.
  void seek(const RecordingInfo::Mark& mark);
  std::uint64_t offset() const { return offset_; }
  std::uint64_t partial_bytes() const { return partial_; }
  const evt2::Decoder& decoder() const { return decoder_; }

  // Reads the whole file once: counts, times, oddities and the index.
  static RecordingInfo scan(const std::string& path);

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  evt2::ParsedHeader parsed_;
  std::uint64_t file_bytes_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t partial_ = 0;
  evt2::Decoder decoder_;
  std::vector<std::uint32_t> words_;
};

}  // namespace Zelvar_Core::bench
