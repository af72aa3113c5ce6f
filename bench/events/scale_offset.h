// HDF5's scale-offset filter for integers (minimum bits chosen by the
// filter), done by the export itself. The library packs each value a byte
// at a time through several calls, which made it the export's limit by far;
// this packs a chunk in two plain passes and gives the same bytes, so the
// export hands the library finished chunks and every HDF5 reader unpacks
// them with the filter it already has.
//
// A packed chunk is 21 bytes of header (the bits per value as 4 bytes
// little-endian, the byte 8, the minimum as 8 bytes little-endian, 8 zero
// bytes), then each value less the minimum in that many bits, most
// significant first, in bytes filled from their top bit, and one more byte.
// The dataset's fill value, 0, is left out of the minimum and the span and
// written as all ones. A chunk whose span needs every bit of the type is
// kept as it is after a header with the full width (and a minimum of 0 when
// the span leaves no room for the fill's code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Zelvar_Core::bench::scale_offset {

inline constexpr std::size_t kHeaderBytes = 21;

// Packs `count` values (a whole chunk, the part beyond the data filled with
// zeros) into `out`, replacing what it held.
template <typename T>
void pack(const T* values, std::size_t count, std::vector<unsigned char>& out);

extern template void pack(const std::uint8_t*, std::size_t, std::vector<unsigned char>&);
extern template void pack(const std::uint16_t*, std::size_t, std::vector<unsigned char>&);
extern template void pack(const std::int64_t*, std::size_t, std::vector<unsigned char>&);

}  // namespace Zelvar_Core::bench::scale_offset
