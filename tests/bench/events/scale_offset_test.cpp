// The export's own scale-offset packing gives, chunk for chunk, the bytes
// the HDF5 library's filter gives for the same values, so that every HDF5
// reader unpacks it.
#include "bench/events/scale_offset.h"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace Zelvar_Core::bench {
namespace {

template <typename T>
hid_t native_type();
template <>
hid_t native_type<std::uint8_t>() {
  return H5T_NATIVE_UINT8;
}
template <>
hid_t native_type<std::uint16_t>() {
  return H5T_NATIVE_UINT16;
}
template <>
hid_t native_type<std::int64_t>() {
  return H5T_NATIVE_INT64;
}

// The chunks the library's own filter makes of `values`, `chunk` values a
// chunk (the last one short when the values end before it), as stored.
template <typename T>
std::vector<std::vector<unsigned char>> library_chunks(const std::vector<T>& values,
                                                       hsize_t chunk) {
  const hid_t file = H5Fcreate("scale_offset.h5", H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  const hsize_t size = values.size(), unlimited = H5S_UNLIMITED;
  const hid_t space = H5Screate_simple(1, &size, &unlimited);
  const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
  EXPECT_GE(H5Pset_chunk(properties, 1, &chunk), 0);
  EXPECT_GE(H5Pset_scaleoffset(properties, H5Z_SO_INT, H5Z_SO_INT_MINBITS_DEFAULT), 0);
  const hid_t dataset =
      H5Dcreate2(file, "v", native_type<T>(), space, H5P_DEFAULT, properties, H5P_DEFAULT);
  EXPECT_GE(H5Dwrite(dataset, native_type<T>(), H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
  EXPECT_GE(H5Dflush(dataset), 0);
  std::vector<std::vector<unsigned char>> chunks;
  for (hsize_t at = 0; at < size; at += chunk) {
    hsize_t bytes = 0;
    std::uint32_t filters = 0;
    EXPECT_GE(H5Dget_chunk_storage_size(dataset, &at, &bytes), 0);
    chunks.emplace_back(bytes);
    EXPECT_GE(H5Dread_chunk(dataset, H5P_DEFAULT, &at, &filters, chunks.back().data()), 0);
    EXPECT_EQ(filters, 0u);  // the filter was applied, not skipped
  }
  H5Dclose(dataset);
  H5Pclose(properties);
  H5Sclose(space);
  H5Fclose(file);
  return chunks;
}

// The same chunks packed here, the last padded with zeros as the export does.
template <typename T>
std::vector<std::vector<unsigned char>> packed_chunks(const std::vector<T>& values,
                                                      std::size_t chunk) {
  std::vector<std::vector<unsigned char>> chunks;
  for (std::size_t at = 0; at < values.size(); at += chunk) {
    std::vector<T> whole(chunk, 0);
    std::copy(values.begin() + at, values.begin() + std::min(values.size(), at + chunk),
              whole.begin());
    chunks.emplace_back();
    scale_offset::pack(whole.data(), chunk, chunks.back());
  }
  return chunks;
}

template <typename T>
void expect_library_bytes(const std::vector<T>& values, std::size_t chunk,
                          const std::string& what) {
  const auto expected = library_chunks(values, chunk);
  const auto packed = packed_chunks(values, chunk);
  ASSERT_EQ(packed.size(), expected.size()) << what;
  for (std::size_t i = 0; i < packed.size(); ++i)
    EXPECT_EQ(packed[i], expected[i]) << what << ", chunk " << i;
}

TEST(ScaleOffset, PacksEachChunkAsTheLibrarysFilterDoes) {
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  std::mt19937_64 random(7);
  // Columns as the export makes them: pixels with zeros among them, 0/1
  // polarities, rising times from zero; chunks full and one cut short.
  std::vector<std::uint16_t> x(100000);
  for (auto& v : x) v = static_cast<std::uint16_t>(random() % 700);
  std::vector<std::uint8_t> p(100000);
  for (auto& v : p) v = static_cast<std::uint8_t>(random() & 1);
  std::vector<std::int64_t> t(100000);
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::int64_t>(i / 3);
  expect_library_bytes(x, 32768, "pixels");
  expect_library_bytes(p, 32768, "polarities");
  expect_library_bytes(t, 32768, "times from zero");
  // Every value the fill, every value one other, a single value in a chunk.
  expect_library_bytes(std::vector<std::uint8_t>(64, 0), 64, "all zero");
  expect_library_bytes(std::vector<std::uint8_t>(64, 1), 64, "all one");
  expect_library_bytes(std::vector<std::uint16_t>{9}, 64, "one value");
  // Spans that need every bit of the type (kept as they are), and just fewer.
  expect_library_bytes(std::vector<std::uint16_t>{0, 65535, 1, 2}, 4, "the whole range");
  expect_library_bytes(std::vector<std::uint16_t>{3, 65535, 1, 2}, 4, "all but the fill");
  expect_library_bytes(std::vector<std::uint8_t>{1, 254, 0, 7}, 4, "one short of the range");
  // Negative times, spans of 7, 33 and 62 bits (codes split across words).
  expect_library_bytes(std::vector<std::int64_t>{-3, 100, 0, 7, 1000, 5}, 4, "negative");
  std::vector<std::int64_t> wide(1000);
  for (auto& v : wide) v = static_cast<std::int64_t>(random() % (std::uint64_t{1} << 33));
  expect_library_bytes(wide, 256, "33 bits");
  for (auto& v : wide)
    v = static_cast<std::int64_t>(random() >> 3) - (std::int64_t{1} << 60);  // 62 bits
  expect_library_bytes(wide, 256, "62 bits");
}

// Values whose span needs `bits` bits of code (the fill's code included),
// with zeros among them unless `with_fill` is false, the smallest and
// largest both there.
template <typename T>
std::vector<T> values_of_width(unsigned bits, std::size_t count, std::mt19937_64& random,
                               bool with_fill = true) {
  using Unsigned = std::make_unsigned_t<T>;
  const std::uint64_t spread = (std::uint64_t{1} << bits) - 2;  // codes 0..spread, then the fill
  const std::uint64_t low = std::is_signed_v<T> ? std::uint64_t(-std::int64_t(spread / 3)) : 1;
  std::vector<T> values(count);
  for (auto& v : values) {
    const std::uint64_t offset = random() % (spread + 1);
    v = static_cast<T>(static_cast<Unsigned>(low + offset));
    if (v == 0 || (with_fill && random() % 17 == 0)) v = 0;
  }
  values[1] = static_cast<T>(static_cast<Unsigned>(low));
  values[count - 2] = static_cast<T>(static_cast<Unsigned>(low + spread));
  return values;
}

TEST(ScaleOffset, PacksEveryWidthOfEachColumnAsTheLibrarysFilterDoes) {
  // Each width a column's chunk can take, in chunks of whole runs of 64
  // values and in chunks with a few values beyond them.
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  std::mt19937_64 random(11);
  for (const std::size_t chunk : {std::size_t{192}, std::size_t{200}}) {
    for (unsigned bits = 1; bits < 8; ++bits)
      expect_library_bytes(values_of_width<std::uint8_t>(bits, 400, random), chunk,
                           "p of " + std::to_string(bits) + " bits");
    for (unsigned bits = 1; bits < 16; ++bits)
      expect_library_bytes(values_of_width<std::uint16_t>(bits, 400, random), chunk,
                           "x of " + std::to_string(bits) + " bits");
    for (unsigned bits = 1; bits < 40; ++bits) {
      expect_library_bytes(values_of_width<std::int64_t>(bits, 400, random), chunk,
                           "t of " + std::to_string(bits) + " bits");
      // Times are nearly never the fill: runs of 64 without it.
      std::vector<std::int64_t> times = values_of_width<std::int64_t>(bits, 400, random, false);
      for (auto& t : times) t = t == 0 ? 1 : t;
      expect_library_bytes(times, chunk, "t of " + std::to_string(bits) + " bits without the fill");
    }
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench
