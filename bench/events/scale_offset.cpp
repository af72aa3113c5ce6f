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

#ifdef __SSE2__
// 64 codes of `Bits` bits each (2..14), eight vectors of eight 16-bit codes,
// into exactly `Bits` 64-bit words at `out`. The vector unit joins each
// two neighbouring codes into one of twice the width (a multiply-add by
// 2^Bits and 1), and each two of those into one of four times the width,
// so that the words are made from 16 pieces instead of 64 codes.
template <unsigned Bits>
unsigned char* put_codes_16(const __m128i* codes, unsigned char* out) {
  static_assert(Bits >= 2 && Bits <= 14);
  constexpr unsigned kWidth = 4 * Bits;
  const __m128i first_high = _mm_set1_epi32(1 << 16 | 1 << Bits);
  const __m128i low_half = _mm_set1_epi64x(0xFFFFFFFF);
  alignas(16) std::uint64_t pieces[16];
  for (unsigned i = 0; i < 8; ++i) {
    const __m128i pairs = _mm_madd_epi16(codes[i], first_high);
    const __m128i fours = _mm_or_si128(_mm_slli_epi64(_mm_and_si128(pairs, low_half), 2 * Bits),
                                       _mm_srli_epi64(pairs, 32));
    _mm_store_si128(reinterpret_cast<__m128i*>(pieces + 2 * i), fours);
  }
  std::uint64_t pending = 0;
  unsigned free = 64;
#pragma GCC unroll 16
  for (unsigned i = 0; i < 16; ++i) {
    const std::uint64_t piece = pieces[i];
    if (kWidth < free) {
      free -= kWidth;
      pending |= piece << free;
    } else {
      const unsigned spill = kWidth - free;
      pending |= piece >> spill;
      const std::uint64_t big_endian = __builtin_bswap64(pending);
      std::memcpy(out, &big_endian, 8);
      out += 8;
      free = 64 - spill;
      pending = spill ? piece << free : 0;
    }
  }
  return out;
}
#endif

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
#ifdef __SSE2__
  if constexpr (Bits >= 2 && Bits <= 14 && sizeof(T) == 2) {
    // Pixels: the codes made eight at a time.
    const __m128i lows = _mm_set1_epi16(static_cast<short>(low));
    const __m128i mask = _mm_set1_epi16(static_cast<short>(kFill));
    __m128i codes[8];
    for (unsigned i = 0; i < 8; ++i) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + 8 * i));
      const __m128i fill = _mm_cmpeq_epi16(v, _mm_setzero_si128());
      codes[i] = _mm_and_si128(_mm_or_si128(_mm_sub_epi16(v, lows), fill), mask);
    }
    return put_codes_16<Bits>(codes, out);
  } else if constexpr (Bits >= 2 && Bits <= 14 && sizeof(T) == 8) {
    // Times: nearly never the fill (0), and then their codes are their
    // differences, which fit 16 bits; then as the pixels. Runs holding the
    // fill take the plain way below.
    const __m128i lows = _mm_set1_epi64x(static_cast<long long>(low));
    __m128i fill = _mm_setzero_si128(), codes[8];
    for (unsigned i = 0; i < 8; ++i) {
      __m128i quarters[2];
      for (unsigned half = 0; half < 2; ++half) {
        const auto* at = reinterpret_cast<const __m128i*>(values + 8 * i + 4 * half);
        const __m128i v0 = _mm_loadu_si128(at), v1 = _mm_loadu_si128(at + 1);
        // A value is the fill when both its halves are zero.
        const __m128i z0 = _mm_cmpeq_epi32(v0, _mm_setzero_si128());
        const __m128i z1 = _mm_cmpeq_epi32(v1, _mm_setzero_si128());
        fill = _mm_or_si128(fill, _mm_and_si128(z0, _mm_shuffle_epi32(z0, 0xB1)));
        fill = _mm_or_si128(fill, _mm_and_si128(z1, _mm_shuffle_epi32(z1, 0xB1)));
        // The differences' low halves side by side.
        const __m128i d0 = _mm_shuffle_epi32(_mm_sub_epi64(v0, lows), 0xD8);
        const __m128i d1 = _mm_shuffle_epi32(_mm_sub_epi64(v1, lows), 0xD8);
        quarters[half] = _mm_unpacklo_epi64(d0, d1);
      }
      // Below 2^14 without the fill: narrowed to 16 bits as they are.
      codes[i] = _mm_packs_epi32(quarters[0], quarters[1]);
    }
    if (_mm_movemask_epi8(fill) == 0) {
      return put_codes_16<Bits>(codes, out);
    }
  }
#endif
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

// The plain range of signed 64-bit values, in two independent halves.
// Where the processor compares 64-bit values in vectors (AVX2), the
// compiler uses them: this pass was most of a chunk of times' cost. Not
// under ThreadSanitizer, whose instrumented chooser of the variant runs
// before the sanitizer is set up, and crashes the program as it starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void plain_range(const std::int64_t* values, std::size_t count, std::int64_t& min,
                 std::int64_t& max) {
  std::int64_t low[2] = {min, min}, high[2] = {max, max};
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
    // Times are nearly always all above zero: their plain range is the
    // range without the fill unless it holds 0.
    plain_range(values, count, min, max);
    if (min <= 0 && max >= 0) {
      min = std::numeric_limits<T>::max();
      max = std::numeric_limits<T>::lowest();
      for (std::size_t i = 0; i < count; ++i) {
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
