#include "bench/events/hdf5_file_driver.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace Zelvar_Core::bench::hdf5_driver {

namespace {

// What the property list carries to the driver's open.
struct Settings {
  Failure* failure;
  Durability durability;
};

// The disk is asked to start writing every few MiB, so that it works while
// the export packs the next chunks instead of all at the close's sync.
constexpr size_t kSendEvery = size_t{4} << 20;

// The file's writes, handed to a thread of its own in long stretches. The
// library writes a chunk at a time (tens of KiB), nearly always just after
// the last: those writes are gathered into a run of up to kRunBytes, which
// the writer thread puts in the file in one call (asking the disk every few
// MiB to start on what it wrote) while the library's thread goes on packing
// the next chunks. A write
// that does not continue the run starts another; one that touches bytes
// still on their way waits for them first, as does a read, so that the file
// always reads back what was last written. Every few MiB written (the
// durability's flush_every), a third thread asks the disk to make them
// durable (its sync, fdatasync) while the writer goes on: a disk that
// caches its writes then stores them along the way, and the sync at the
// close is left with the last stretch instead of the whole file. The first
// failure of either thread is kept; from then on nothing more is written.
class WriteBehind {
 public:
  static constexpr size_t kRunBytes = size_t{1} << 20;
  static constexpr size_t kRuns = 8;  // at most this much on its way: 8 MiB
  // A write may leave a hole of at most this after the run, zeros in the
  // run, when nothing was ever written there: the library leaves room for
  // its index between chunks and fills it in at the close.
  static constexpr size_t kLongestHole = size_t{64} << 10;

  // `written` is where the file's bytes end so far: beyond it are only
  // zeros, which a hole may write again. Throws when the thread cannot start.
  WriteBehind(int fd, haddr_t written, const Durability& durability)
      : fd_(fd), durability_(durability), frontier_(written) {
    // One block for every run, in huge pages where the system has them: a
    // fresh page faulted in at each 4 KiB cost more than the copy into it.
    memory_ = ::mmap(nullptr, kRuns * kRunBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory_ == MAP_FAILED) throw std::bad_alloc();
    ::madvise(memory_, kRuns * kRunBytes, MADV_HUGEPAGE);  // a hint: fine where refused
    for (size_t i = 0; i < kRuns; ++i) {
      runs_[i].bytes = static_cast<char*>(memory_) + i * kRunBytes;
      free_.push_back(&runs_[i]);
    }
    try {
      thread_ = std::thread([this] { work(); });
      flusher_ = std::thread([this] { flush_behind(); });
    } catch (...) {
      stop();
      ::munmap(memory_, kRuns * kRunBytes);
      throw;
    }
  }
  ~WriteBehind() {
    stop();
    ::munmap(memory_, kRuns * kRunBytes);
  }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Takes the bytes to write at `address`; false when they are too many to
  // gather, to be written by the caller once settle(address, size) returned.
  bool take(haddr_t address, size_t size, const char* data) {
    const haddr_t end = address + size;
    if (Run* run = current_) {
      const haddr_t run_end = run->from + run->size;
      const haddr_t reach = run_end == frontier_ ? run_end + kLongestHole : run_end;
      if (address >= run->from && address <= reach && end <= run->from + kRunBytes) {
        if (address > run_end) std::memset(run->bytes + run->size, 0, address - run_end);
        std::memcpy(run->bytes + (address - run->from), data, size);
        run->size = std::max<size_t>(run->size, end - run->from);
        frontier_ = std::max(frontier_, end);
        return true;
      }
    }
    settle(address, size);
    frontier_ = std::max(frontier_, end);
    if (size > kRunBytes) return false;
    Run* run = free_run();
    run->from = address;
    run->size = size;
    std::memcpy(run->bytes, data, size);
    current_ = run;
    return true;
  }

  // Sends the run being gathered, then, when any byte from `address` for
  // `size` is still on its way, waits until everything is written.
  void settle(haddr_t address, size_t size) {
    send();
    std::unique_lock lock(mutex_);
    auto touches = [&](const Run* run) {
      return address < run->from + run->size && run->from < address + size;
    };
    if (std::any_of(queued_.begin(), queued_.end(), touches) || (writing_ && touches(writing_)))
      changed_.wait(lock, [&] { return queued_.empty() && writing_ == nullptr; });
  }
  // Waits until everything taken is in the file.
  void flush() {
    send();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_.empty() && writing_ == nullptr; });
  }
  // The writer's first failure: errno, or 0.
  int error() {
    std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  struct Run {
    char* bytes = nullptr;
    haddr_t from = 0;
    size_t size = 0;
  };

  // Ends the threads once everything queued is written; a flush asked for
  // and not begun is left to the sync at the close.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (flusher_.joinable()) flusher_.join();
  }

  void send() {
    Run* run = std::exchange(current_, nullptr);
    if (run == nullptr) return;
    {
      std::lock_guard lock(mutex_);
      queued_.push_back(run);
    }
    changed_.notify_all();
  }

  Run* free_run() {
    Run* run = nullptr;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return !free_.empty(); });
      run = free_.back();
      free_.pop_back();
    }
    return run;
  }

  void work() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
      if (queued_.empty()) return;
      writing_ = queued_.front();
      queued_.pop_front();
      const bool failed = error_ != 0;
      lock.unlock();
      const int error = failed ? 0 : write_out(*writing_);
      lock.lock();
      if (error_ == 0) error_ = error;
      unflushed_ += writing_->size;
      if (unflushed_ >= durability_.flush_every) {
        unflushed_ = 0;
        ++flushes_asked_;
      }
      writing_->size = 0;
      free_.push_back(std::exchange(writing_, nullptr));
      changed_.notify_all();
    }
  }

  // Makes the file durable so far each time the writer asks, while it
  // writes on; asks that came while it synced are answered by one more.
  void flush_behind() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return stopping_ || flushes_asked_ > flushes_made_; });
      if (stopping_) return;
      const std::uint64_t asked = flushes_asked_;
      const bool failed = error_ != 0;
      flushing_ = true;
      lock.unlock();
      const int error = failed || durability_.sync(fd_) == 0 ? 0 : errno;
      lock.lock();
      flushing_ = false;
      if (error_ == 0) error_ = error;
      flushes_made_ = asked;
    }
  }

  // Writes a run where it belongs and, every few MiB, asks the disk to
  // start on what was written since it last did, without waiting for it.
  // Only that stretch: the kernel need not look through the pages of the
  // whole file each time for the few that are new. errno, or 0.
  int write_out(const Run& run) {
    const char* from = run.bytes;
    auto address = static_cast<off_t>(run.from);
    size_t left = run.size;
    while (left > 0) {
      const ssize_t n = ::pwrite(fd_, from, left, address);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : EIO;
      from += n;
      address += n;
      left -= static_cast<size_t>(n);
    }
    unsent_ += run.size;
    unsent_from_ = std::min(unsent_from_, run.from);
    unsent_to_ = std::max(unsent_to_, run.from + run.size);
    // Not while a flush runs: it would wait for these too, and for every
    // stretch sent after them, until the writer stopped. They are sent
    // after it, or written by the next flush.
    if (unsent_ < kSendEvery || flushing_.load(std::memory_order_relaxed)) return 0;
    const auto start = static_cast<off_t>(unsent_from_);
    const auto length = static_cast<off_t>(unsent_to_ - unsent_from_);
    unsent_ = 0;
    unsent_from_ = std::numeric_limits<haddr_t>::max();
    unsent_to_ = 0;
    if (::sync_file_range(fd_, start, length, SYNC_FILE_RANGE_WRITE) != 0 && errno != EINVAL &&
        errno != ESPIPE && errno != ENOSYS)
      return errno;  // where it cannot be asked, the sync at the close still writes all
    return 0;
  }

  const int fd_;
  const Durability durability_;
  void* memory_ = nullptr;  // the runs' bytes
  // The library's thread only:
  Run* current_ = nullptr;  // the run being gathered
  haddr_t frontier_;        // where everything written or taken so far ends
  // The writer's thread only: what was written since the disk was last
  // asked to start on it.
  size_t unsent_ = 0;
  haddr_t unsent_from_ = std::numeric_limits<haddr_t>::max(), unsent_to_ = 0;

  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::array<Run, kRuns> runs_;
  std::vector<Run*> free_;
  std::deque<Run*> queued_;
  Run* writing_ = nullptr;
  int error_ = 0;
  bool stopping_ = false;
  size_t unflushed_ = 0;  // written since the last flush was asked for
  std::atomic<bool> flushing_{false};
  std::uint64_t flushes_asked_ = 0, flushes_made_ = 0;
  // Last: they start once the rest is ready.
  std::thread thread_;   // the writer
  std::thread flusher_;  // the flushes
};

struct File {
  H5FD_t base;  // the library's part, first: a File* and its H5FD_t* are one address
  int fd;
  haddr_t eoa;  // where the library has allocated up to
  haddr_t eof;  // where the file ends
  dev_t device;
  ino_t inode;
  Failure* failure;
  Durability durability;
  // Made at the first write; nullptr before, and when its thread could not
  // start: then each write is made at once.
  WriteBehind* behind;
  bool tried_behind;
  bool changed;  // created, truncated or written through this handle: synced at the close
};

void keep(File* file, int error) {
  if (file->failure->error == 0) file->failure->error = error != 0 ? error : EIO;
}

// Keeps the writer's failure, if it had one, as the file's.
void take_writer_failure(File* file) {
  if (file->behind && file->failure->error == 0)
    if (const int error = file->behind->error()) keep(file, error);
}

File* file_of(H5FD_t* file) { return reinterpret_cast<File*>(file); }
const File* file_of(const H5FD_t* file) { return reinterpret_cast<const File*>(file); }

H5FD_t* open_file(const char* name, unsigned flags, hid_t access, haddr_t) {
  const auto* settings = static_cast<const Settings*>(H5Pget_driver_info(access));
  if (name == nullptr || settings == nullptr) return nullptr;
  int mode = (flags & H5F_ACC_RDWR) ? O_RDWR : O_RDONLY;
  if (flags & H5F_ACC_TRUNC) mode |= O_TRUNC;
  if (flags & H5F_ACC_CREAT) mode |= O_CREAT;
  if (flags & H5F_ACC_EXCL) mode |= O_EXCL;
  const int fd = ::open(name, mode | O_CLOEXEC, 0666);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    if (settings->failure->error == 0) settings->failure->error = errno;
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  auto* file = new (std::nothrow) File{};
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  file->fd = fd;
  file->eof = static_cast<haddr_t>(info.st_size);
  file->device = info.st_dev;
  file->inode = info.st_ino;
  file->failure = settings->failure;
  file->durability = settings->durability;
  file->changed = (mode & (O_CREAT | O_TRUNC)) != 0;
  return &file->base;
}

// The data reaches the disk before the close reports success, so that a
// rename after it publishes a whole file.
herr_t close_file(H5FD_t* base) {
  File* file = file_of(base);
  if (file->behind) {
    file->behind->flush();
    take_writer_failure(file);
    delete file->behind;
  }
  // The library opens a file once to look at it before it creates it: that
  // handle changed nothing and has nothing to wait for.
  if (file->changed && file->failure->error == 0 && ::fsync(file->fd) != 0) keep(file, errno);
  if (::close(file->fd) != 0) keep(file, errno);
  delete file;
  return 0;
}

int compare(const H5FD_t* a, const H5FD_t* b) {
  const File* x = file_of(a);
  const File* y = file_of(b);
  if (x->device != y->device) return x->device < y->device ? -1 : 1;
  if (x->inode != y->inode) return x->inode < y->inode ? -1 : 1;
  return 0;
}

herr_t query(const H5FD_t*, unsigned long* flags) {
  if (flags)
    *flags = H5FD_FEAT_AGGREGATE_METADATA | H5FD_FEAT_ACCUMULATE_METADATA | H5FD_FEAT_DATA_SIEVE |
             H5FD_FEAT_AGGREGATE_SMALLDATA;
  return 0;
}

haddr_t get_eoa(const H5FD_t* file, H5FD_mem_t) { return file_of(file)->eoa; }

herr_t set_eoa(H5FD_t* file, H5FD_mem_t, haddr_t address) {
  file_of(file)->eoa = address;
  return 0;
}

haddr_t get_eof(const H5FD_t* file, H5FD_mem_t) { return file_of(file)->eof; }

// Whoever holds the descriptor reads the file as written so far.
herr_t get_handle(H5FD_t* base, hid_t, void** handle) {
  File* file = file_of(base);
  if (file->behind) {
    file->behind->flush();
    take_writer_failure(file);
  }
  *handle = &file->fd;
  return 0;
}

// Beyond the end of the file (or when the read fails) the bytes are zeros.
herr_t read(H5FD_t* base, H5FD_mem_t, hid_t, haddr_t address, size_t size, void* buffer) {
  File* file = file_of(base);
  if (file->behind) {
    file->behind->settle(address, size);
    take_writer_failure(file);
  }
  auto* into = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(file->fd, into, size, static_cast<off_t>(address));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) keep(file, errno);
      std::memset(into, 0, size);
      break;
    }
    into += n;
    address += static_cast<haddr_t>(n);
    size -= static_cast<size_t>(n);
  }
  return 0;
}

herr_t write(H5FD_t* base, H5FD_mem_t, hid_t, haddr_t address, size_t size, const void* buffer) {
  File* file = file_of(base);
  const auto* from = static_cast<const char*>(buffer);
  const haddr_t written = file->eof;  // beyond it, the file holds zeros at most
  file->eof = std::max(file->eof, address + size);
  file->changed = true;
  take_writer_failure(file);
  if (file->failure->error != 0) return 0;
  if (!file->tried_behind) {
    file->tried_behind = true;
    try {
      file->behind = new WriteBehind(file->fd, written, file->durability);
    } catch (const std::exception&) {
      file->behind = nullptr;  // no thread or no memory for it: written as it comes
    }
  }
  if (file->behind && file->behind->take(address, size, from)) return 0;
  while (size > 0) {
    const ssize_t n = ::pwrite(file->fd, from, size, static_cast<off_t>(address));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      keep(file, n < 0 ? errno : EIO);
      break;
    }
    from += n;
    address += static_cast<haddr_t>(n);
    size -= static_cast<size_t>(n);
  }
  return 0;
}

herr_t truncate(H5FD_t* base, hid_t, hbool_t) {
  File* file = file_of(base);
  if (file->eoa != file->eof && file->behind) {
    file->behind->flush();
    take_writer_failure(file);
  }
  if (file->eoa != file->eof) file->changed = true;
  if (file->eoa != file->eof && file->failure->error == 0 &&
      ::ftruncate(file->fd, static_cast<off_t>(file->eoa)) != 0)
    keep(file, errno);
  file->eof = file->eoa;
  return 0;
}

H5FD_class_t driver_class() {
  H5FD_class_t c{};
  c.name = "zelvar_export";
  c.maxaddr = static_cast<haddr_t>(std::numeric_limits<off_t>::max());
  c.fc_degree = H5F_CLOSE_WEAK;
  c.fapl_size = sizeof(Settings);
  c.open = open_file;
  c.close = close_file;
  c.cmp = compare;
  c.query = query;
  c.get_eoa = get_eoa;
  c.set_eoa = set_eoa;
  c.get_eof = get_eof;
  c.get_handle = get_handle;
  c.read = read;
  c.write = write;
  c.truncate = truncate;
  const H5FD_mem_t map[H5FD_MEM_NTYPES] = H5FD_FLMAP_DICHOTOMY;
  std::copy(std::begin(map), std::end(map), std::begin(c.fl_map));
  return c;
}

hid_t driver_id() {
  static const H5FD_class_t kClass = driver_class();
  static hid_t id = -1;
  if (id < 0 || H5Iis_valid(id) <= 0) id = H5FDregister(&kClass);
  return id;
}

}  // namespace

hid_t file_access(Failure& failure, const Durability& durability) {
  const hid_t driver = driver_id();
  if (driver < 0) return -1;
  const hid_t access = H5Pcreate(H5P_FILE_ACCESS);
  const Settings settings{&failure, durability};
  if (access >= 0 && H5Pset_driver(access, driver, &settings) < 0) {
    H5Pclose(access);
    return -1;
  }
  return access;
}

}  // namespace Zelvar_Core::bench::hdf5_driver
