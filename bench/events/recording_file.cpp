#include "bench/events/recording_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "bench/board/simulated_board.h"

namespace Zelvar_Core::bench {

namespace {

constexpr std::size_t kMarkWords = 1u << 20;  // an index mark every 4 MB

// "1 event", "12,345 events"
std::string counted(std::uint64_t n, const std::string& thing) {
  return count_text(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

std::vector<std::string> RecordingInfo::warnings() const {
  std::vector<std::string> said;
  if (headerless)
    said.push_back("it has no header: its words were read as EVT 2.0 for a 640 x 480 sensor");
  if (partial_bytes)
    said.push_back("it ends in a word cut short (" + counted(partial_bytes, "byte") +
                   "): it was truncated");
  if (counts.skipped)
    said.push_back(counted(counts.skipped, "word") + " of unknown or other types skipped");
  if (counts.before_time)
    said.push_back(counted(counts.before_time, "event") + " before any time word, timed from zero");
  if (outside)
    said.push_back(counted(outside, "event") +
                   " outside the sensor's 640 x 480, left out of the image");
  if (events == 0 && file_bytes > 0) said.push_back("it holds no events");
  return said;
}

RecordingReader::RecordingReader(const std::string& path) : path_(path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    throw std::runtime_error("Cannot open the recording " + path + ": " +
                             (errno == ENOENT ? "no such file" : std::strerror(errno)));
  if (!S_ISREG(info.st_mode))
    throw std::runtime_error("Cannot open the recording " + path + ": it is not a regular file");
  file_bytes_ = static_cast<std::uint64_t>(info.st_size);
  if (file_bytes_ == 0) throw std::runtime_error("The recording " + path + " is empty");
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr)
    throw std::runtime_error("Cannot open the recording " + path + ": " + std::strerror(errno));
  // The header is text lines; 64 kB holds any this bench writes and most others.
  std::string start(std::min<std::uint64_t>(file_bytes_, 64 * 1024), '\0');
  start.resize(std::fread(start.data(), 1, start.size(), file_));
  try {
    parsed_ = evt2::parse_header(start);
  } catch (const std::invalid_argument& e) {
    std::fclose(file_);
    throw std::runtime_error("Cannot play " + path + ": " + e.what());
  }
  seek({parsed_.data_offset, 0, false, -1});
}

RecordingReader::~RecordingReader() {
  if (file_) std::fclose(file_);
}

void RecordingReader::seek(const RecordingInfo::Mark& mark) {
  offset_ = mark.offset;
  partial_ = 0;
  std::fseek(file_, static_cast<long>(offset_), SEEK_SET);
  decoder_.set_time_base(mark.time_base, mark.time_known);
}

bool RecordingReader::next(std::vector<Event>& out, std::size_t max_words) {
  const std::uint64_t left = file_bytes_ - std::min(file_bytes_, offset_);
  const std::size_t words = static_cast<std::size_t>(std::min<std::uint64_t>(max_words, left / 4));
  if (words == 0) {
    partial_ = left % 4;
    return false;
  }
  words_.resize(words);
  const std::size_t got = std::fread(words_.data(), 4, words, file_);
  if (got == 0) return false;
  offset_ += got * 4;
  decoder_.decode(words_.data(), got, out);  // the words are little-endian, as this machine
  return true;
}

RecordingInfo RecordingReader::scan(const std::string& path) {
  RecordingReader reader(path);
  RecordingInfo info;
  info.path = path;
  info.header = reader.parsed_.header;
  info.headerless = reader.parsed_.headerless;
  info.file_bytes = reader.file_bytes_;
  std::vector<Event> events;
  while (true) {
    RecordingInfo::Mark mark{reader.offset_, reader.decoder_.time_base(),
                             reader.decoder_.counts().time_highs > 0, -1};
    events.clear();
    if (!reader.next(events, kMarkWords)) break;
    if (!events.empty()) mark.first_t = events.front().t;
    info.marks.push_back(mark);
    for (const Event& e : events) info.outside += !on_sensor(e);
    if (!events.empty()) {
      if (info.first_t < 0) info.first_t = events.front().t;
      info.last_t = events.back().t;
    }
  }
  info.partial_bytes = reader.partial_;
  info.counts = reader.decoder_.counts();
  info.events = info.counts.events;
  return info;
}

}  // namespace Zelvar_Core::bench
