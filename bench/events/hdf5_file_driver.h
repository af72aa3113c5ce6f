// The file driver of the HDF5 export: positioned POSIX reads and writes, as
// HDF5's own sec2 driver does, with two differences. The library's many
// small writes of a file being created are gathered into runs of a few MiB
// that a thread of the driver's own writes while the library goes on,
// another making them durable every few MiB so that the close's sync has
// little left to wait for; a read waits for what it would read. And HDF5
// 1.10 cannot recover from a write that fails while a file is closed (a
// full disk at the final flush): the close fails and leaves an identifier
// that crashes the library's exit handler. So this driver never reports a
// failure to the library: it keeps the first failure's errno for the export
// to read, and from then on lets every write pass without touching the
// disk, so that every object still closes. The export checks the failure
// after each step and after the close, and removes the file when there was
// one.
#pragma once

#include <hdf5.h>
#include <unistd.h>

#include <cstddef>

namespace Zelvar_Core::bench::hdf5_driver {

// Where a file's first failure is kept: 0 while there is none, else errno.
struct Failure {
  int error = 0;
};

// How a file is made durable while it is written: `sync` (fdatasync) each
// time `flush_every` more bytes were written, on a thread of the driver's
// own; its failure is the file's (errno). Whatever it did, the close syncs
// the whole file before it returns.
struct Durability {
  std::size_t flush_every = std::size_t{16} << 20;
  int (*sync)(int fd) = ::fdatasync;
};

// A file access property list whose files use this driver and keep their
// first failure in `failure`, which must outlive the file. The caller
// closes the list; a negative id when the library refused.
hid_t file_access(Failure& failure, const Durability& durability = {});

}  // namespace Zelvar_Core::bench::hdf5_driver
