#include "bench/events/hdf5_file_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>

namespace Zelvar_Core::bench::hdf5_driver {

namespace {

// What the property list carries to the driver's open.
struct Settings {
  Failure* failure;
};

struct File {
  H5FD_t base;  // the library's part, first: a File* and its H5FD_t* are one address
  int fd;
  haddr_t eoa;  // where the library has allocated up to
  haddr_t eof;  // where the file ends
  dev_t device;
  ino_t inode;
  Failure* failure;
  size_t unsent;                   // bytes written since the disk was last asked to start on them
  haddr_t unsent_from, unsent_to;  // where those bytes lie, at most
};

void keep(File* file, int error) {
  if (file->failure->error == 0) file->failure->error = error != 0 ? error : EIO;
}

// The disk is asked to start writing every few MiB, so that it works while
// the export packs the next chunks instead of all at the close's sync.
constexpr size_t kSendEvery = size_t{8} << 20;

// Starts writing back what was written since the last time, without
// waiting for it. Only that stretch: the kernel need not look through the
// pages of the whole file each time for the few that are new.
void send_to_disk(File* file) {
  const auto from = static_cast<off_t>(file->unsent_from);
  const auto length = static_cast<off_t>(file->unsent_to - file->unsent_from);
  file->unsent = 0;
  file->unsent_from = std::numeric_limits<haddr_t>::max();
  file->unsent_to = 0;
  if (::sync_file_range(file->fd, from, length, SYNC_FILE_RANGE_WRITE) != 0 && errno != EINVAL &&
      errno != ESPIPE && errno != ENOSYS)
    keep(file, errno);  // where it cannot be asked, the sync at the close still writes all
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
  file->unsent_from = std::numeric_limits<haddr_t>::max();
  return &file->base;
}

// Nothing is buffered here: the data reaches the disk before the close
// reports success, so that a rename after it publishes a whole file.
herr_t close_file(H5FD_t* base) {
  File* file = file_of(base);
  if (file->failure->error == 0 && ::fsync(file->fd) != 0) keep(file, errno);
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

herr_t get_handle(H5FD_t* file, hid_t, void** handle) {
  *handle = &file_of(file)->fd;
  return 0;
}

// Beyond the end of the file (or when the read fails) the bytes are zeros.
herr_t read(H5FD_t* base, H5FD_mem_t, hid_t, haddr_t address, size_t size, void* buffer) {
  File* file = file_of(base);
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
  const haddr_t end = address + size;
  const size_t length = size;
  const auto* from = static_cast<const char*>(buffer);
  while (size > 0 && file->failure->error == 0) {
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
  file->eof = std::max(file->eof, end);
  file->unsent += length;
  file->unsent_from = std::min(file->unsent_from, end - length);
  file->unsent_to = std::max(file->unsent_to, end);
  if (file->unsent >= kSendEvery && file->failure->error == 0) send_to_disk(file);
  return 0;
}

herr_t truncate(H5FD_t* base, hid_t, hbool_t) {
  File* file = file_of(base);
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

hid_t file_access(Failure& failure) {
  const hid_t driver = driver_id();
  if (driver < 0) return -1;
  const hid_t access = H5Pcreate(H5P_FILE_ACCESS);
  const Settings settings{&failure};
  if (access >= 0 && H5Pset_driver(access, driver, &settings) < 0) {
    H5Pclose(access);
    return -1;
  }
  return access;
}

}  // namespace Zelvar_Core::bench::hdf5_driver
