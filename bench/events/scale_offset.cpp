#include "bench/events/scale_offset.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace Zelvar_Core::bench::scale_offset {

namespace {

// The bits that hold `n` codes: the ceiling of log2(n).
unsigned bits_for(std::uint64_t n) {
  unsigned bits = 0;
  while (bits < 64 && (std::uint64_t{1} << bits) < n) ++bits;
  return bits;
}

void put_little_endian(unsigned char* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Codes of one width appended most significant bit first, eight bytes at a
// time while they fit, the last few a byte at a time.
class BitWriter {
 public:
  BitWriter(unsigned char* out, unsigned bits) : out_(out), bits_(bits) {}
  // `code` below 2^bits, bits 1..63.
  void put(std::uint64_t code) {
    if (bits_ < free_) {
      free_ -= bits_;
      pending_ |= code << free_;
      return;
    }
    const unsigned spill = bits_ - free_;  // what goes to the next word
    pending_ |= code >> spill;
    store_word();
    free_ = 64 - spill;
    pending_ = spill ? code << free_ : 0;
  }
  // Writes the last bits; returns the end of what was written.
  unsigned char* flush() {
    for (unsigned used = 64 - free_, shift = 56; used > 0;
         used = used > 8 ? used - 8 : 0, shift -= 8)
      *out_++ = static_cast<unsigned char>(pending_ >> shift);
    return out_;
  }

 private:
  void store_word() {
    const std::uint64_t big_endian = __builtin_bswap64(pending_);
    std::memcpy(out_, &big_endian, 8);
    out_ += 8;
  }
  unsigned char* out_;
  const unsigned bits_;
  std::uint64_t pending_ = 0;
  unsigned free_ = 64;
};

// 64 codes of `Bits` bits each, from `values` less `low` (the fill value
// 0 as all ones), into exactly `Bits` 64-bit words at `out`. With the width
// known when compiled and the loop unrolled, every shift and every word's
// boundary is a constant: no branch per value.
template <unsigned Bits, typename T>
unsigned char* put_64(const T* values, std::make_unsigned_t<T> low, unsigned char* out) {
  using Unsigned = std::make_unsigned_t<T>;
#ifdef __SSE2__
  if constexpr (Bits == 1 && sizeof(T) == 1) {
    // One bit per value (the polarities): every value other than the fill
    // is the minimum, so a value's code is whether it is the fill, which
    // the vector unit gives for 16 bytes at once, lowest byte in the lowest
    // bit. The stream wants the first value in each byte's top bit.
    std::uint64_t zero = 0;
    for (unsigned i = 0; i < 4; ++i) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 16 * i));
      const auto mask =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
      zero |= std::uint64_t{mask} << (16 * i);
    }
    zero = (zero & 0xF0F0F0F0F0F0F0F0u) >> 4 | (zero & 0x0F0F0F0F0F0F0F0Fu) << 4;
    zero = (zero & 0xCCCCCCCCCCCCCCCCu) >> 2 | (zero & 0x3333333333333333u) << 2;
    zero = (zero & 0xAAAAAAAAAAAAAAAAu) >> 1 | (zero & 0x5555555555555555u) << 1;
    std::memcpy(out, &zero, 8);
    return out + 8;
  }
#endif
  constexpr std::uint64_t kFill = (std::uint64_t{1} << Bits) - 1;
  std::uint64_t pending = 0;
  unsigned free = 64;
#pragma GCC unroll 64
  for (unsigned i = 0; i < 64; ++i) {
    // The fill's code without a branch: polarities and the like are random,
    // and a mispredicted branch per value cost more than the rest together.
    const Unsigned v = static_cast<Unsigned>(values[i]);
    const std::uint64_t fill = -static_cast<std::uint64_t>(v == 0);
    const std::uint64_t code = (static_cast<Unsigned>(v - low) | fill) & kFill;
    if (Bits < free) {
      free -= Bits;
      pending |= code << free;
    } else {
      const unsigned spill = Bits - free;
      pending |= code >> spill;
      const std::uint64_t big_endian = __builtin_bswap64(pending);
      std::memcpy(out, &big_endian, 8);
      out += 8;
      free = 64 - spill;
      pending = spill ? code << free : 0;
    }
  }
  return out;
}

// The packer of 64 values for each width a column of type T can have short
// of its full width (1..31 bits for times: wider spans take the plain way).
template <typename T, unsigned... Bits>
constexpr auto packers_of(std::integer_sequence<unsigned, Bits...>) {
  using Packer = unsigned char* (*)(const T*, std::make_unsigned_t<T>, unsigned char*);
  return std::array<Packer, sizeof...(Bits) + 1>{nullptr, &put_64<Bits + 1, T>...};
}
template <typename T>
constexpr unsigned kFastestWidths = std::min<unsigned>(sizeof(T) * 8 - 1, 31);
template <typename T>
constexpr auto kPackers = packers_of<T>(std::make_integer_sequence<unsigned, kFastestWidths<T>>{});

// The smallest and largest values other than the fill value (0), as
// unsigned values: 0 is the largest once one is taken off, and the
// smallest as it is. Both passes without a branch, which the compiler
// turns into vector instructions.
template <typename T>
void unsigned_range(const T* values, std::size_t count, T& min, T& max) {
  T below = std::numeric_limits<T>::max(), above = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const T less_one = static_cast<T>(values[i] - 1);
    below = less_one < below ? less_one : below;
    above = values[i] > above ? values[i] : above;
  }
  min = static_cast<T>(below + 1);
  max = above;
}

}  // namespace

template <typename T>
void pack(const T* values, std::size_t count, std::vector<unsigned char>& out) {
  static_assert(std::is_integral_v<T>);
  using Unsigned = std::make_unsigned_t<T>;
  constexpr unsigned kTypeBits = sizeof(T) * 8;
  // The smallest and largest values other than the fill value (0); both 0
  // when every value is the fill. Without a branch per value.
  T min = std::numeric_limits<T>::max(), max = std::numeric_limits<T>::lowest();
  if constexpr (std::is_unsigned_v<T>) {
    unsigned_range(values, count, min, max);  // min wraps to 0 when every value is the fill
  } else {
    // Times are nearly always all above zero: their plain range, in two
    // independent halves, is the range without the fill unless it holds 0.
    T low[2] = {min, min}, high[2] = {max, max};
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2)
      for (std::size_t half = 0; half < 2; ++half) {
        low[half] = std::min(low[half], values[i + half]);
        high[half] = std::max(high[half], values[i + half]);
      }
    for (; i < count; ++i) {
      low[0] = std::min(low[0], values[i]);
      high[0] = std::max(high[0], values[i]);
    }
    min = std::min(low[0], low[1]);
    max = std::max(high[0], high[1]);
    if (min <= 0 && max >= 0) {
      min = std::numeric_limits<T>::max();
      max = std::numeric_limits<T>::lowest();
      for (i = 0; i < count; ++i) {
        const T v = values[i];
        min = std::min(min, v == 0 ? std::numeric_limits<T>::max() : v);
        max = std::max(max, v == 0 ? std::numeric_limits<T>::lowest() : v);
      }
    }
  }
  if (min > max || max == 0) min = max = 0;  // nothing but the fill
  // Differences in the unsigned type: no overflow whatever the signed values.
  const std::uint64_t spread =
      static_cast<Unsigned>(static_cast<Unsigned>(max) - static_cast<Unsigned>(min));
  constexpr std::uint64_t kWidest = std::numeric_limits<Unsigned>::max();
  unsigned bits = kTypeBits;
  std::uint64_t minimum = 0;
  if (spread <= kWidest - 2) {
    bits = bits_for(spread + 2);  // the codes 0..spread and all ones for the fill
    minimum = static_cast<std::uint64_t>(static_cast<std::int64_t>(min));  // two's complement
  }
  if (bits >= kTypeBits) {
    // Every bit is needed: the values as they are (this machine is little-endian).
    out.assign(kHeaderBytes + count * sizeof(T), 0);
    put_little_endian(out.data(), kTypeBits, 4);
    out[4] = 8;
    put_little_endian(out.data() + 5, minimum, 8);
    std::memcpy(out.data() + kHeaderBytes, values, count * sizeof(T));
    return;
  }
  // Every byte is written below but the header's last eight and the one or
  // two after the codes, which are zeros.
  out.resize(kHeaderBytes + bits * count / 8 + 1);
  put_little_endian(out.data(), bits, 4);
  out[4] = 8;
  put_little_endian(out.data() + 5, minimum, 8);
  std::fill(out.data() + 13, out.data() + kHeaderBytes, 0);
  const std::uint64_t fill_code = (std::uint64_t{1} << bits) - 1;
  const Unsigned low = static_cast<Unsigned>(min);
  unsigned char* at = out.data() + kHeaderBytes;
  std::size_t i = 0;
  if (bits <= kFastestWidths<T>) {
    // 64 values fill whole words: the rest of the codes follow from a word's start.
    for (const auto put = kPackers<T>[bits]; i + 64 <= count; i += 64)
      at = put(values + i, low, at);
  }
  BitWriter writer(at, bits);
  for (; i < count; ++i) {
    const Unsigned v = static_cast<Unsigned>(values[i]);
    writer.put(v == 0 ? fill_code : static_cast<Unsigned>(v - low));
  }
  std::fill(writer.flush(), out.data() + out.size(), 0);
}

template void pack(const std::uint8_t*, std::size_t, std::vector<unsigned char>&);
template void pack(const std::uint16_t*, std::size_t, std::vector<unsigned char>&);
template void pack(const std::int64_t*, std::size_t, std::vector<unsigned char>&);

}  // namespace Zelvar_Core::bench::scale_offset
