#include "bench/events/hdf5_export.h"

#include <fcntl.h>
#include <hdf5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "bench/board/errors.h"
#include "bench/events/hdf5_file_driver.h"
#include "bench/events/recording_file.h"
#include "bench/events/scale_offset.h"

namespace Zelvar_Core::bench {

namespace {

constexpr hsize_t kChunk = 1u << 15;  // elements per chunk: small chunks pack fastest
// The most words a chunk holds before it decodes them: a chunk's events
// and its time words are far fewer.
constexpr std::size_t kMostWordsHeld = 2 * kChunk;

// A failure while writing the export; its text is the reason alone.
class WriteFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Why the last HDF5 call failed: the system's reason when the library noted
// an errno, else its innermost message. The error stack is cleared.
std::string library_reason() {
  struct Found {
    std::string innermost;
    long error = 0;
  } found;
  H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned n, const H5E_error2_t* entry, void* data) -> herr_t {
        auto& found = *static_cast<Found*>(data);
        const char* desc = entry->desc ? entry->desc : "";
        if (n == 0) found.innermost = desc;
        if (const char* at = std::strstr(desc, "errno = "); at && found.error == 0) {
          const long error = std::strtol(at + 8, nullptr, 10);
          if (error > 0 && error < 4096) found.error = error;
        }
        return 0;
      },
      &found);
  H5Eclear2(H5E_DEFAULT);
  if (found.error) return std::strerror(static_cast<int>(found.error));
  return found.innermost.empty() ? "the HDF5 library failed" : found.innermost;
}

// An HDF5 identifier closed however the export ends; close() for the
// result when it matters.
class Handle {
 public:
  Handle() = default;
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() { close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void own(hid_t id, herr_t (*closer)(hid_t)) {
    close();
    id_ = id;
    close_ = closer;
  }
  herr_t close() {
    const hid_t id = std::exchange(id_, -1);
    return id >= 0 ? close_(id) : 0;
  }
  hid_t id() const { return id_; }
  operator hid_t() const { return id_; }

 private:
  hid_t id_ = -1;
  herr_t (*close_)(hid_t) = nullptr;
};

// The room the file's headers and the columns' indexes take for a
// recording of `words` words (each at most one event): 16 KiB, and 192
// bytes for each chunk's entries in the four indexes.
hsize_t metadata_room(std::uint64_t words) {
  const std::uint64_t chunks = (words + kChunk - 1) / kChunk;
  return (hsize_t{16} << 10) + chunks * 192;
}

// The HDF5 file being written, through the export's driver, which keeps
// the disk's first failure instead of letting the library trip on it. The
// library places the file's headers and the columns' indexes in blocks of
// `metadata_bytes` rather than each piece where the file ends: sized for
// the whole file, they lie together at its start, and the close, which
// writes them last, writes one stretch instead of a few KiB between the
// chunks every few MiB, each a write of its own for the disk.
class Hdf5File {
 public:
  Hdf5File(const std::string& path, hsize_t metadata_bytes) {
    access_.own(hdf5_driver::file_access(failure_), H5Pclose);
    check(access_.id());
    check(H5Pset_meta_block_size(access_, metadata_bytes));
    file_.own(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, access_), H5Fclose);
    check(file_.id());
  }
  operator hid_t() const { return file_; }
  // Throws the reason when `result` tells a failed call or the disk failed.
  template <typename Result>
  void check(Result result) const {
    if (failure_.error != 0) throw WriteFailure(std::strerror(failure_.error));
    if (result < 0) throw WriteFailure(library_reason());
  }
  // Closes the file: everything is on the disk when this returns.
  void close() {
    check(file_.close());
    check(access_.close());
  }

 private:
  hdf5_driver::Failure failure_;  // first: it outlives the file
  Handle access_, file_;
};

// A UTF-8 text of any length, which Python reads as a str.
void text_attribute(const Hdf5File& file, hid_t object, const std::string& name,
                    const std::string& value) {
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  file.check(type.id());
  file.check(H5Tset_size(type, H5T_VARIABLE));
  file.check(H5Tset_cset(type, H5T_CSET_UTF8));
  Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  file.check(space.id());
  Handle attribute(H5Acreate2(object, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose);
  file.check(attribute.id());
  const char* text = value.c_str();
  file.check(H5Awrite(attribute, type, &text));
  file.check(attribute.close());
}

// An unsigned 32-bit number, which Python reads as an int.
void number_attribute(const Hdf5File& file, hid_t object, const std::string& name,
                      std::uint32_t value) {
  Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  file.check(space.id());
  Handle attribute(H5Acreate2(object, name.c_str(), H5T_STD_U32LE, space, H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose);
  file.check(attribute.id());
  file.check(H5Awrite(attribute, H5T_NATIVE_UINT32, &value));
  file.check(attribute.close());
}

// One growing, chunked, compressed one-dimensional dataset. The filter is
// HDF5's own scale-offset for integers, lossless: each chunk keeps its
// values less its minimum in as few bits as they need (times over a chunk
// span milliseconds: about 16 bits instead of 64). Every HDF5 reader has it.
// The chunks are packed here (scale_offset.h) and handed to the library
// whole, already filtered.
// What a column holds, for whoever opens the file: its unit and meaning.
struct ColumnMeaning {
  std::string units;
  std::string description;
};

class Column {
 public:
  Column(const Hdf5File& file, hid_t group, const char* name, hid_t type,
         const ColumnMeaning& meaning)
      : file_(file) {
    const hsize_t zero = 0, unlimited = H5S_UNLIMITED;
    Handle space(H5Screate_simple(1, &zero, &unlimited), H5Sclose);
    file.check(space.id());
    Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    file.check(properties.id());
    file.check(H5Pset_chunk(properties, 1, &kChunk));
    file.check(H5Pset_scaleoffset(properties, H5Z_SO_INT, H5Z_SO_INT_MINBITS_DEFAULT));
    dataset_.own(H5Dcreate2(group, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT),
                 H5Dclose);
    file.check(dataset_.id());
    text_attribute(file, dataset_, "units", meaning.units);
    text_attribute(file, dataset_, "description", meaning.description);
  }
  // Appends one chunk of `count` values, packed whole (scale_offset::pack
  // of kChunk values, the rest zeros: the fill value), as the filter packs
  // the dataset's last chunk. Only the last chunk may be short.
  void append_chunk(const std::vector<unsigned char>& packed, hsize_t count) {
    if (count == 0) return;
    if (size_ % kChunk != 0) throw std::logic_error("a short chunk before the last");
    const hsize_t grown = size_ + count;
    file_.check(H5Dset_extent(dataset_, &grown));
    file_.check(H5Dwrite_chunk(dataset_, H5P_DEFAULT, 0, &size_, packed.size(), packed.data()));
    size_ = grown;
  }
  void close() { file_.check(dataset_.close()); }

 private:
  const Hdf5File& file_;
  Handle dataset_;
  hsize_t size_ = 0;
};

// Room for a column that is never cleared before it is written: the
// decoder writes every value the export reads, and only the last chunk's
// tail is set to the fill value, by hand.
template <typename T>
class Room {
 public:
  Room() : values_(new T[kChunk]) {}
  T* data() { return values_.get(); }

 private:
  std::unique_ptr<T[]> values_;
};

// One chunk on its way to the file: the recording's words that hold its
// events and the decoder's time state before them, its events a column
// each, then each column packed as the filter stores it.
struct Chunk {
  std::unique_ptr<std::uint32_t[]> words;
  std::size_t word_room = 0, word_count = 0;
  std::size_t decoded = 0;  // events already in the columns, before those of the words
  std::int64_t time_base = 0;
  bool time_known = false;
  Room<std::uint16_t> x, y;
  Room<std::uint8_t> p;
  Room<std::int64_t> t;
  std::size_t events = 0;
  double done = 0;  // fraction of the file read
  std::vector<unsigned char> packed_x, packed_y, packed_p, packed_t;

  // Room for `more` words after those read, keeping them. A chunk's words
  // are its events and a few time words, nearly always; never more than
  // kMostWordsHeld and one read.
  std::uint32_t* room_for(std::size_t more) {
    if (word_count + more > word_room) {
      const std::size_t room = std::max(word_count + more, word_room + word_room / 2);
      std::unique_ptr<std::uint32_t[]> grown(new std::uint32_t[room]);
      std::copy(words.get(), words.get() + word_count, grown.get());
      words = std::move(grown);
      word_room = room;
    }
    return words.get() + word_count;
  }
};

// Reads, decodes and packs the recording's chunks on threads of its own, a
// few chunks ahead of the writer, and hands them over in the file's order.
// Each worker takes the next chunk's words from the reader, one worker at a
// time: the reader follows the words' time without decoding them, which
// gives where each chunk ends and the time it starts from. The worker then
// decodes its chunk from that time and packs its columns while the others
// read, decode and pack theirs and the caller writes. The chunks in flight
// are bounded; the threads are joined when it is destroyed, at the end,
// after a failure or on a cancel alike.
class ChunkPipeline {
 public:
  explicit ChunkPipeline(RecordingReader& reader) : reader_(reader) {
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    chunks_.resize(2 * workers + 2);
    for (Chunk& c : chunks_) free_.push_back(&c);
    try {
      for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
    } catch (...) {
      stop();
      throw;
    }
  }
  ~ChunkPipeline() { stop(); }
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // The next chunk in the file's order, packed; nullptr after the last.
  // Throws what reading the file threw. Each chunk is handed back with
  // done() once written.
  Chunk* next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
      return error_ || ready_.count(written_) || (read_all_ && written_ == numbered_);
    });
    if (error_) std::rethrow_exception(error_);
    const auto at = ready_.find(written_);
    if (at == ready_.end()) return nullptr;
    Chunk* chunk = at->second;
    ready_.erase(at);
    ++written_;
    return chunk;
  }
  void done(Chunk* chunk) {
    {
      std::lock_guard lock(mutex_);
      free_.push_back(chunk);
    }
    changed_.notify_all();
  }
  // Events beyond the sensor's geometry among those decoded.
  std::uint64_t outside() const { return outside_; }

 private:
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  void work() {
    try {
      while (true) {
        Chunk* chunk = nullptr;
        {
          std::unique_lock lock(mutex_);
          changed_.wait(lock, [&] { return stopping_ || read_all_ || !free_.empty(); });
          if (stopping_ || read_all_) return;
          chunk = free_.back();
          free_.pop_back();
        }
        std::uint64_t number = 0;
        {
          std::lock_guard reading(reading_);  // the reader, one chunk at a time
          if (!read(*chunk)) {
            std::lock_guard lock(mutex_);
            free_.push_back(chunk);
            read_all_ = true;
            changed_.notify_all();
            return;
          }
          std::lock_guard lock(mutex_);
          number = numbered_++;
        }
        decode(*chunk);
        pack(*chunk);
        {
          std::lock_guard lock(mutex_);
          ready_.emplace(number, chunk);
        }
        changed_.notify_all();
      }
    } catch (const std::exception&) {
      std::lock_guard lock(mutex_);
      if (!error_) error_ = std::current_exception();
      changed_.notify_all();
    }
  }

  // The words of a chunk's worth of events, fewer only at the end of the
  // file, and the time they start from; false when no event is left.
  bool read(Chunk& c) {
    c.time_base = reader_.decoder().time_base();
    c.time_known = reader_.decoder().time_known();
    c.word_count = 0;
    c.decoded = 0;
    c.events = 0;
    while (c.events < kChunk) {
      if (c.word_count >= kMostWordsHeld) {
        // A long stretch of words that are not events: those read so far
        // are decoded now, so that a chunk never holds more than this.
        decode(c);
        c.time_base = reader_.decoder().time_base();
        c.time_known = reader_.decoder().time_known();
      }
      const std::size_t most = kChunk - c.events;  // each word is one event at most
      std::size_t words = 0, events = 0;
      if (!reader_.read_ahead(c.room_for(most), most, words, events)) break;
      c.word_count += words;
      c.events += events;
    }
    c.done = static_cast<double>(reader_.offset()) / static_cast<double>(reader_.file_bytes());
    return c.events > 0;
  }

  // The chunk's events from the words it holds, decoded from the time they
  // start from: the same as the reader's own decoder would give, whatever
  // the chunks before. They follow those decoded already.
  static void decode(Chunk& c) {
    evt2::Decoder decoder;
    decoder.set_time_base(c.time_base, c.time_known);
    const std::size_t at = c.decoded;
    c.decoded +=
        decoder.decode(c.words.get(), c.word_count,
                       {c.x.data() + at, c.y.data() + at, c.p.data() + at, c.t.data() + at});
    c.word_count = 0;
  }

  void pack(Chunk& c) {
    // The last chunk is packed whole: the rest is the fill value.
    std::fill(c.x.data() + c.events, c.x.data() + kChunk, 0);
    std::fill(c.y.data() + c.events, c.y.data() + kChunk, 0);
    std::fill(c.p.data() + c.events, c.p.data() + kChunk, 0);
    std::fill(c.t.data() + c.events, c.t.data() + kChunk, 0);
    // Over the whole chunk, whose tail of zeros is on the sensor, without a
    // branch and with the sizes in registers: the compiler makes it vector
    // instructions.
    const evt2::Header& header = reader_.header().header;  // read once, before the workers
    const int width = header.width, height = header.height;
    const std::uint16_t* x = c.x.data();
    const std::uint16_t* y = c.y.data();
    std::uint32_t outside = 0;
    for (std::size_t i = 0; i < kChunk; ++i) outside += (x[i] >= width) | (y[i] >= height);
    outside_ += outside;
    scale_offset::pack(c.x.data(), kChunk, c.packed_x);
    scale_offset::pack(c.y.data(), kChunk, c.packed_y);
    scale_offset::pack(c.p.data(), kChunk, c.packed_p);
    scale_offset::pack(c.t.data(), kChunk, c.packed_t);
  }

  RecordingReader& reader_;
  std::mutex reading_;  // held while a worker reads
  std::mutex mutex_;    // guards what follows
  std::condition_variable changed_;
  std::deque<Chunk> chunks_;
  std::vector<Chunk*> free_;
  std::map<std::uint64_t, Chunk*> ready_;  // packed, by their place in the file
  std::uint64_t numbered_ = 0;             // chunks taken from the reader
  std::uint64_t written_ = 0;              // chunks handed to the writer
  bool read_all_ = false, stopping_ = false;
  std::exception_ptr error_;
  std::atomic<std::uint64_t> outside_{0};
  std::vector<std::thread> workers_;
};

ExportExists exists_refusal(const std::string& out) {
  return ExportExists(out + " exists; choose another name for the export or overwrite it");
}

// What the output may not be: the recording itself (by any name, links
// included), something other than a file, or, unless overwriting, a file
// that is there.
void refuse_output(const std::string& recording, const std::string& out, bool overwrite) {
  struct stat output {};
  if (::stat(out.c_str(), &output) != 0) return;  // not there: the writing says if it cannot be
  struct stat input {};
  if (::stat(recording.c_str(), &input) == 0 && input.st_dev == output.st_dev &&
      input.st_ino == output.st_ino)
    throw std::runtime_error("Cannot export " + recording + " to " + out +
                             ": they are the same file");
  if (S_ISDIR(output.st_mode))
    throw std::runtime_error("Cannot write the export " + out + ": it is a folder");
  if (!S_ISREG(output.st_mode))
    throw std::runtime_error("Cannot write the export " + out + ": it is not a regular file");
  if (!overwrite) throw exists_refusal(out);
}

// The export while it is written: a new file in the output's folder,
// renamed onto the output once whole, removed otherwise.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& out) : out_(out) {
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path target(out);
    const std::string name = target.filename().string().substr(0, 200);
    for (int attempt = 0;; ++attempt) {
      path_ = (target.parent_path() / ("." + name + "." + std::to_string(::getpid()) + "-" +
                                       std::to_string(serial++) + ".part"))
                  .string();
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0 && ::close(fd) == 0) return;
      const int error = errno;
      if (fd >= 0) ::unlink(path_.c_str());
      if (error != EEXIST || attempt == 99)
        throw std::runtime_error("Cannot write the export " + out + ": " + std::strerror(error));
    }
  }
  ~TemporaryFile() {
    if (!committed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }

  // Puts the file in place of the output; without `overwrite`, only if no
  // file has taken the output's name meanwhile.
  void commit(bool overwrite) {
    int result;
    if (overwrite) {
      result = std::rename(path_.c_str(), out_.c_str());
    } else {
      result = ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, out_.c_str(), RENAME_NOREPLACE);
      if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A filesystem that cannot rename without replacing: look, then rename.
        struct stat there {};
        if (::lstat(out_.c_str(), &there) == 0) {
          errno = EEXIST;
        } else {
          result = std::rename(path_.c_str(), out_.c_str());
        }
      }
    }
    if (result != 0) {
      if (errno == EEXIST) throw exists_refusal(out_);
      throw std::runtime_error("Cannot write the export " + out_ + ": " + std::strerror(errno));
    }
    committed_ = true;
  }

 private:
  std::string out_, path_;
  bool committed_ = false;
};

}  // namespace

ExportStats export_hdf5(const std::string& recording, const std::string& out, bool overwrite,
                        const std::function<bool(double)>& progress) {
  const auto started = std::chrono::steady_clock::now();
  RecordingReader reader(recording);  // says why when it cannot be read
  refuse_output(recording, out, overwrite);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // the library prints nothing of its own
  TemporaryFile temporary(out);
  ExportStats stats;
  std::uint64_t outside = 0;
  try {
    const std::uint64_t data_bytes =
        reader.file_bytes() -
        std::min<std::uint64_t>(reader.file_bytes(), reader.header().data_offset);
    Hdf5File file(temporary.path(), metadata_room(data_bytes / 4));
    Handle group(H5Gcreate2(file, "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    file.check(group.id());
    // The sensor's size as numbers, whatever the header's text holds.
    const evt2::Header& header = reader.header().header;
    number_attribute(file, group, "width", static_cast<std::uint32_t>(header.width));
    number_attribute(file, group, "height", static_cast<std::uint32_t>(header.height));
    std::set<std::string> named = {"width", "height"};  // a key seen twice keeps its first value
    for (const auto& [key, value] : reader.header().header.fields)
      if (!key.empty() && named.insert(key).second) text_attribute(file, group, key, value);
    if (named.insert("source").second) text_attribute(file, group, "source", recording);
    auto on_sensor = [](const std::string& what, int size) {
      return what + " (0.." + std::to_string(size - 1) +
             " on the sensor; beyond it, as the recording holds it)";
    };
    Column xs(file, group, "x", H5T_NATIVE_UINT16,
              {"pixels", on_sensor("pixel column", header.width)}),
        ys(file, group, "y", H5T_NATIVE_UINT16, {"pixels", on_sensor("pixel row", header.height)});
    Column ps(file, group, "p", H5T_NATIVE_UINT8,
              {"none", "polarity: 1 = ON (the pixel got brighter), 0 = OFF"});
    Column ts(
        file, group, "t", H5T_NATIVE_INT64,
        {"\u00b5s",
         "time of the event on the board's clock, zero at its first start after a device reset"});
    {
      ChunkPipeline chunks(reader);
      while (Chunk* c = chunks.next()) {
        xs.append_chunk(c->packed_x, c->events);
        ys.append_chunk(c->packed_y, c->events);
        ps.append_chunk(c->packed_p, c->events);
        ts.append_chunk(c->packed_t, c->events);
        stats.events += c->events;
        const double done = c->done;
        chunks.done(c);
        if (progress && !progress(done)) throw Cancelled("Export cancelled");
      }
      outside = chunks.outside();
    }
    xs.close();
    ys.close();
    ps.close();
    ts.close();
    file.check(group.close());
    file.close();
  } catch (const WriteFailure& e) {
    throw std::runtime_error("Cannot write the export " + out + ": " + e.what());
  }
  temporary.commit(overwrite);
  RecordingInfo read = reader.summary();
  read.outside = outside;
  stats.notes = read.warnings(RecordingInfo::Purpose::Export);
  stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return stats;
}

}  // namespace Zelvar_Core::bench
