#include "bench/events/recording_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "bench/board/simulated_board.h"
#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

constexpr std::size_t kMarkWords = 1u << 20;  // an index mark every 4 MiB

// "1 event", "12,345 events"
std::string counted(std::uint64_t n, const std::string& thing) {
  return count_text(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

std::vector<std::string> RecordingInfo::warnings(Purpose purpose) const {
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
  if (counts.steps_back)
    said.push_back(counted(counts.steps_back, "time step") +
                   " back (the times are kept as the file gives them)");
  if (outside)
    said.push_back(counted(outside, "event") + " outside the sensor's " +
                   std::to_string(header.width) + " x " + std::to_string(header.height) + ", " +
                   (purpose == Purpose::Export ? "kept in the export" : "left out of the image"));
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
  try {
    // The header is text lines, read until they end: 64 KiB holds a usual
    // one; one of very many or very long settings is read further, up to
    // kLongestHeader, so that no header line is ever taken for events.
    std::string start;
    for (std::uint64_t want = 64 * 1024;; want *= 4) {
      start.resize(std::min<std::uint64_t>({file_bytes_, want, kLongestHeader}));
      if (std::fseek(file_, 0, SEEK_SET) != 0 ||
          std::fread(start.data(), 1, start.size(), file_) != start.size())
        read_failed();
      try {
        parsed_ = evt2::parse_header(start);
      } catch (const std::invalid_argument& e) {
        throw std::runtime_error("Cannot play " + path + ": " + e.what());
      }
      if (parsed_.headerless || parsed_.data_offset < start.size() || start.size() == file_bytes_)
        break;
      if (start.size() >= kLongestHeader)
        throw std::runtime_error("Cannot play " + path + ": its header goes on past " +
                                 size_text(kLongestHeader) + ", longer than any recording holds");
    }
    if (parsed_.headerless) check_bare_words(start);
    seek({parsed_.data_offset, 0, false, -1});
  } catch (...) {
    std::fclose(file_);
    file_ = nullptr;
    throw;
  }
}

RecordingReader::~RecordingReader() {
  if (file_) std::fclose(file_);
}

void RecordingReader::check_bare_words(const std::string& start) const {
  const std::size_t words = std::min(start.size() / 4, kHeaderlessCheckWords);
  const std::string looked_at = words == kHeaderlessCheckWords
                                    ? "its first " + counted(words, "word")
                                    : "its " + counted(words, "word");
  auto refuse = [&](const std::string& why) {
    throw std::runtime_error(path_ + " is not an EVT 2.0 recording: it has no header and " + why);
  };
  if (words == 0) refuse("is shorter than one word");
  std::uint64_t time_words = 0, unknown = 0;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t word;
    std::memcpy(&word, start.data() + i * 4, 4);
    switch (word >> 28) {
      case evt2::kTimeHigh:
        ++time_words;
        break;
      case evt2::kCdOff:
      case evt2::kCdOn:
      case evt2::kExtTrigger:
      case evt2::kOthers:
      case evt2::kContinued:
        break;
      default:
        ++unknown;
    }
  }
  if (time_words == 0) refuse("no time word in " + looked_at);
  if (static_cast<double>(unknown) > kHeaderlessUnknownShare * static_cast<double>(words))
    refuse(count_text(unknown) + " of " + looked_at +
           (unknown == 1 ? " is of a type" : " are of types") + " EVT 2.0 does not define");
}

void RecordingReader::read_failed() const {
  const int error = errno;
  throw std::runtime_error(
      "Cannot read the recording " + path_ + ": " +
      (std::ferror(file_) ? std::strerror(error) : "it became shorter while it was read"));
}

void RecordingReader::seek(const RecordingInfo::Mark& mark) {
  offset_ = mark.offset;
  partial_ = 0;
  if (::fseeko(file_, static_cast<off_t>(offset_), SEEK_SET) != 0)
    throw std::runtime_error("Cannot read the recording " + path_ + ": " + std::strerror(errno));
  decoder_.set_time_base(mark.time_base, mark.time_known);
}

std::size_t RecordingReader::read_words_into(std::uint32_t* into, std::size_t max_words) {
  const std::uint64_t left = file_bytes_ - std::min(file_bytes_, offset_);
  const std::size_t words = static_cast<std::size_t>(std::min<std::uint64_t>(max_words, left / 4));
  if (words == 0) {
    partial_ = left % 4;
    return 0;
  }
  if (std::fread(into, 4, words, file_) != words) read_failed();
  offset_ += words * 4;
  return words;
}

bool RecordingReader::read_words(std::size_t max_words) {
  const std::uint64_t left = file_bytes_ - std::min(file_bytes_, offset_);
  const std::size_t most = static_cast<std::size_t>(std::min<std::uint64_t>(max_words, left / 4));
  if (room_ < most) {
    words_.reset(new std::uint32_t[most]);
    room_ = most;
  }
  read_ = read_words_into(words_.get(), max_words);
  return read_ > 0;
}

// The words are little-endian, as this machine.
bool RecordingReader::next(std::vector<Event>& out, std::size_t max_words) {
  if (!read_words(max_words)) return false;
  decoder_.decode(words_.get(), read_, out);
  return true;
}

bool RecordingReader::next(const evt2::EventColumns& out, std::size_t max_words,
                           std::size_t& events) {
  events = 0;
  if (!read_words(max_words)) return false;
  events = decoder_.decode(words_.get(), read_, out);
  return true;
}

bool RecordingReader::read_ahead(std::uint32_t* into, std::size_t max_words, std::size_t& words,
                                 std::size_t& events) {
  events = 0;
  words = read_words_into(into, max_words);
  if (words == 0) return false;
  events = decoder_.skim(into, words);
  return true;
}

RecordingInfo RecordingReader::summary() const {
  RecordingInfo info;
  info.path = path_;
  info.header = parsed_.header;
  info.headerless = parsed_.headerless;
  info.file_bytes = file_bytes_;
  info.counts = decoder_.counts();
  info.events = info.counts.events;
  info.partial_bytes = partial_;
  return info;
}

RecordingInfo RecordingReader::scan(const std::string& path) {
  RecordingReader reader(path);
  std::vector<RecordingInfo::Mark> marks;
  std::uint64_t outside = 0;
  std::int64_t first_t = -1, last_t = -1;
  std::vector<Event> events;
  while (true) {
    RecordingInfo::Mark mark{reader.offset_, reader.decoder_.time_base(),
                             reader.decoder_.counts().time_highs > 0, -1};
    events.clear();
    if (!reader.next(events, kMarkWords)) break;
    if (!events.empty()) mark.first_t = events.front().t;
    marks.push_back(mark);
    const auto& header = reader.parsed_.header;
    for (const Event& e : events) outside += !header.contains(e);
    if (!events.empty()) {
      if (first_t < 0) first_t = events.front().t;
      last_t = events.back().t;
    }
  }
  RecordingInfo info = reader.summary();
  info.marks = std::move(marks);
  info.outside = outside;
  info.first_t = first_t;
  info.last_t = last_t;
  return info;
}

}  // namespace Zelvar_Core::bench
