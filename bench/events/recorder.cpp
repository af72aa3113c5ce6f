#include "bench/events/recorder.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "bench/board/board_settings.h"
#include "bench/board/folders.h"
#include "bench/board/text.h"
#include "bench/events/evt2.h"
#include "bench/events/recording_file.h"

namespace Zelvar_Core::bench {

namespace {

// The room the writer makes ahead: a tenth of a second of the busy stream.
// A disk that keeps up leaves the queue short; when it falls further behind,
// what the stream's thread allocates beyond this is kept too.
constexpr std::size_t kRoomAheadEvents = std::size_t{1} << 21;

}  // namespace

Recorder::Recorder(std::size_t queue_events)
    : capacity_(queue_events), pool_(std::min(queue_events, kRoomAheadEvents)) {}

Recorder::~Recorder() {
  if (active_) stop();
}

void Recorder::start(const std::string& path, const std::string& header) {
  if (active_) throw std::logic_error("a recording is already under way");
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw std::runtime_error("Cannot record to " + path + ": " + std::strerror(errno));
  path_ = path;
  error_.clear();
  bytes_ = events_ = dropped_ = 0;
  failed_ = false;
  closing_ = false;
  header_bytes_ = header.size();
  if (!write_all(header.data(), header.size())) {
    const std::string why = error_;
    ::close(fd_);
    fd_ = -1;
    throw std::runtime_error("Cannot record to " + path + ": " + why);
  }
  started_ = std::chrono::steady_clock::now();
  active_ = true;
  writer_ = std::thread([this] { write_loop(); });
}

void Recorder::on_events(const Event* events, std::size_t count) {
  if (!active_ || count == 0) return;
  std::unique_lock lock(mutex_);
  if (closing_ || failed_ || queued_ + count > capacity_) {
    if (!closing_ && !failed_) dropped_ += count;  // the disk is behind
    return;
  }
  std::vector<Event> batch = pool_.take();
  batch.assign(events, events + count);
  queue_.push_back(std::move(batch));
  queued_ += count;
  lock.unlock();
  wake_.notify_one();
}

bool Recorder::write_all(const char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, data, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = errno == ENOSPC ? "the disk is full" : std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    data += n;
    bytes -= static_cast<std::size_t>(n);
    bytes_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

void Recorder::write_loop() {
  pthread_setname_np(pthread_self(), "recorder");
  evt2::Encoder encoder;
  std::vector<std::uint32_t> words;
  while (true) {
    std::vector<Event> batch;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] {
        return (!held_ && (!queue_.empty() || pool_.short_of_room())) || closing_;
      });
      if (queue_.empty() && closing_) return;  // everything is written
      if (queue_.empty()) {
        // Nothing to write: room for the queue is made now, not by the
        // stream's thread when the disk falls behind.
        lock.unlock();
        std::vector<Event> room = BatchPool::make();
        lock.lock();
        pool_.add(std::move(room));
        continue;
      }
      batch = std::move(queue_.front());
      queue_.pop_front();
      queued_ -= batch.size();
    }
    words.clear();
    encoder.encode(batch.data(), batch.size(), words);
    if (!write_all(reinterpret_cast<const char*>(words.data()), words.size() * 4)) {
      // Only whole words stay after the header, so that what was written
      // reads back.
      const std::uint64_t whole = bytes_ - (bytes_ - header_bytes_) % 4;
      if (::ftruncate(fd_, static_cast<off_t>(whole)) == 0) bytes_ = whole;
      std::lock_guard lock(mutex_);
      failed_ = true;
      queue_.clear();
      queued_ = 0;
      return;
    }
    events_ += batch.size();
    std::lock_guard lock(mutex_);
    pool_.give(std::move(batch));
  }
}

void Recorder::hold_writer(bool hold) {
  {
    std::lock_guard lock(mutex_);
    held_ = hold;
  }
  wake_.notify_all();
}

RecordingStats Recorder::progress() const {
  RecordingStats stats;
  stats.path = path_;
  stats.bytes = bytes_;
  stats.events = events_;
  stats.dropped = dropped_;
  stats.seconds =
      active_ ? std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count()
              : 0;
  return stats;
}

RecordingStats Recorder::stop() {
  if (!active_) return {};
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    held_ = false;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  {
    std::lock_guard lock(mutex_);
    pool_.release();  // a recorder between recordings holds no room
  }
  RecordingStats stats = progress();
  if (failed_) stats.error = error_;
  if (::close(fd_) != 0 && stats.error.empty()) stats.error = std::strerror(errno);
  fd_ = -1;
  active_ = false;
  return stats;
}

std::string start_recording(Recorder& recorder, const std::filesystem::path& folder,
                            const Board& board) {
  Settings header = {{"board", identity_of(board)}};
  for (auto& s : settings_of(board)) header.push_back(std::move(s));
  const SensorGeometry& geometry = board.declaration().geometry;
  return start_recording(recorder, folder, header, geometry);
}

std::string start_recording(Recorder& recorder, const std::filesystem::path& folder,
                            const Settings& header, const SensorGeometry& geometry) {
  ensure_folder(folder);
  const std::string stamp = local_time("%Y%m%d_%H%M%S");
  std::filesystem::path path = folder / ("rec_" + stamp + ".raw");
  for (int n = 2; std::filesystem::exists(path); ++n)
    path = folder / ("rec_" + stamp + "_" + std::to_string(n) + ".raw");
  const std::string text =
      evt2::header_text(local_time("%Y-%m-%d %H:%M:%S"), header, static_cast<int>(geometry.width),
                        static_cast<int>(geometry.height));
  // A reader takes a header up to kLongestHeader: a longer one is refused
  // here, before any file is made, rather than written unreadable.
  if (text.size() > kLongestHeader)
    throw std::runtime_error("Not recorded: the board's settings make a header of " +
                             size_text(text.size()) + ", more than the " +
                             size_text(kLongestHeader) + " a recording may hold");
  recorder.start(path.string(), text);
  return path.string();
}

}  // namespace Zelvar_Core::bench
