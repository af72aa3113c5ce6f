// The export's file driver: what the library reads back while the file is
// open and what the file holds once closed are the last bytes written, the
// writes gathered into runs or not.
#include "bench/events/hdf5_file_driver.h"

#include <gtest/gtest.h>
#include <hdf5.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <vector>

#include "tests/support/eventually.h"

namespace Zelvar_Core::bench {
namespace {

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * seed % 251 + 1);
  return bytes;
}

// A one-dimensional dataset of bytes, stored in one piece.
hid_t bytes_dataset(hid_t file, const char* name, hsize_t size) {
  const hid_t space = H5Screate_simple(1, &size, nullptr);
  const hid_t dataset =
      H5Dcreate2(file, name, H5T_NATIVE_UINT8, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  H5Sclose(space);
  return dataset;
}

// Writes `bytes` at `offset` in the dataset.
void write_at(hid_t dataset, hsize_t offset, const std::vector<std::uint8_t>& bytes) {
  const hsize_t count = bytes.size();
  const hid_t space = H5Dget_space(dataset);
  ASSERT_GE(H5Sselect_hyperslab(space, H5S_SELECT_SET, &offset, nullptr, &count, nullptr), 0);
  const hid_t memory = H5Screate_simple(1, &count, nullptr);
  EXPECT_GE(H5Dwrite(dataset, H5T_NATIVE_UINT8, memory, space, H5P_DEFAULT, bytes.data()), 0);
  H5Sclose(memory);
  H5Sclose(space);
}

std::vector<std::uint8_t> read_whole(hid_t dataset, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  EXPECT_GE(H5Dread(dataset, H5T_NATIVE_UINT8, H5S_ALL, H5S_ALL, H5P_DEFAULT, bytes.data()), 0);
  return bytes;
}

TEST(Hdf5FileDriver, ReadsAndKeepsTheLastBytesWrittenWhereverTheyAre) {
  // A dataset smaller than a run (still being gathered when it is read), one
  // larger than any run (written as it comes), and a part of the first
  // written again after the second.
  constexpr std::size_t kSmall = 256u << 10, kLarge = 9u << 20;
  auto small = pattern(kSmall, 7);
  const auto large = pattern(kLarge, 13);
  const auto again = pattern(5000, 3);
  std::ofstream("driver.h5").close();  // there before the library makes it, as the export's is
  hdf5_driver::Failure failure;
  const hid_t access = hdf5_driver::file_access(failure);
  ASSERT_GE(access, 0);
  const hid_t file = H5Fcreate("driver.h5", H5F_ACC_TRUNC, H5P_DEFAULT, access);
  ASSERT_GE(file, 0);
  const hid_t first = bytes_dataset(file, "small", kSmall);
  write_at(first, 0, small);
  EXPECT_EQ(read_whole(first, kSmall), small);
  const hid_t second = bytes_dataset(file, "large", kLarge);
  write_at(second, 0, large);
  write_at(first, 1000, again);
  std::copy(again.begin(), again.end(), small.begin() + 1000);
  EXPECT_EQ(read_whole(first, kSmall), small);
  EXPECT_EQ(read_whole(second, kLarge), large);
  EXPECT_GE(H5Dclose(first), 0);
  EXPECT_GE(H5Dclose(second), 0);
  EXPECT_GE(H5Fclose(file), 0);
  EXPECT_GE(H5Pclose(access), 0);
  EXPECT_EQ(failure.error, 0);

  // Read again through the library's own driver.
  const hid_t back = H5Fopen("driver.h5", H5F_ACC_RDONLY, H5P_DEFAULT);
  ASSERT_GE(back, 0);
  const hid_t small_back = H5Dopen2(back, "small", H5P_DEFAULT);
  const hid_t large_back = H5Dopen2(back, "large", H5P_DEFAULT);
  EXPECT_EQ(read_whole(small_back, kSmall), small);
  EXPECT_EQ(read_whole(large_back, kLarge), large);
  H5Dclose(small_back);
  H5Dclose(large_back);
  H5Fclose(back);
}

// The syncs a file asked for while it was written: each counted, and either
// made or failed as a disk that lost the writes fails.
std::atomic<int> syncs{0};
int counted_sync(int fd) {
  ++syncs;
  return ::fdatasync(fd);
}
int failed_sync(int) {
  ++syncs;
  errno = EIO;
  return -1;
}

TEST(Hdf5FileDriver, SyncsAsItWritesAndASyncThatFailsIsTheFilesFailure) {
  // Pieces larger than the library's own buffer, gathered into runs by the
  // driver: every MiB written asks for a sync.
  constexpr std::size_t kPiece = 256u << 10, kPieces = 16;
  const auto bytes = pattern(kPiece * kPieces, 11);
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "a sync that fails" : "a sync that succeeds");
    syncs = 0;
    std::ofstream("synced.h5").close();
    hdf5_driver::Failure failure;
    const hid_t access = hdf5_driver::file_access(
        failure, {std::size_t{1} << 20, fails ? failed_sync : counted_sync});
    ASSERT_GE(access, 0);
    const hid_t file = H5Fcreate("synced.h5", H5F_ACC_TRUNC, H5P_DEFAULT, access);
    ASSERT_GE(file, 0);
    const hid_t dataset = bytes_dataset(file, "bytes", bytes.size());
    auto piece = [&](std::size_t i) {
      write_at(
          dataset, i * kPiece,
          std::vector<std::uint8_t>(bytes.begin() + i * kPiece, bytes.begin() + (i + 1) * kPiece));
    };
    for (std::size_t i = 0; i < kPieces / 2; ++i) piece(i);
    // A sync while the file is open, not only the close's.
    EXPECT_TRUE(testing_support::eventually([] { return syncs > 0; }));
    for (std::size_t i = kPieces / 2; i < kPieces; ++i) piece(i);
    EXPECT_GE(H5Dclose(dataset), 0);
    EXPECT_GE(H5Fclose(file), 0);  // the driver tells the library of no failure
    EXPECT_GE(H5Pclose(access), 0);
    EXPECT_EQ(failure.error, fails ? EIO : 0);
    if (fails) continue;
    const hid_t back = H5Fopen("synced.h5", H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(back, 0);
    const hid_t read_back = H5Dopen2(back, "bytes", H5P_DEFAULT);
    EXPECT_EQ(read_whole(read_back, bytes.size()), bytes);
    H5Dclose(read_back);
    H5Fclose(back);
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench
