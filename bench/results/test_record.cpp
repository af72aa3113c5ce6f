#include "bench/results/test_record.h"

#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace Zelvar_Core::bench::results {

namespace {

constexpr const char* outcome_words[] = {"PASS", "FAIL", "ERROR", "ABORTED", "INCOMPLETE"};

void random_bytes(unsigned char* out, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = getrandom(out + done, length - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("The system gave no random bytes for a run id (") +
                               std::strerror(errno) + ").");
    }
    done += static_cast<std::size_t>(got);
  }
}

// SHA-256 as FIPS 180-4 describes it, over a stream of pieces.
class Sha256 {
 public:
  void add(const unsigned char* data, std::size_t length) {
    total_ += length;
    while (length > 0) {
      const std::size_t take = std::min(length, block_.size() - filled_);
      std::memcpy(block_.data() + filled_, data, take);
      filled_ += take;
      data += take;
      length -= take;
      if (filled_ == block_.size()) {
        compress(block_.data());
        filled_ = 0;
      }
    }
  }

  std::string hex() {
    const std::uint64_t bits = total_ * 8;
    const unsigned char one = 0x80, zero = 0;
    add(&one, 1);
    while (filled_ != 56) add(&zero, 1);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    add(length, 8);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint32_t word : state_)
      for (int shift = 28; shift >= 0; shift -= 4) text += digits[(word >> shift) & 0xf];
    return text;
  }

 private:
  static std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

  void compress(const unsigned char* p) {
    static constexpr std::uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = (std::uint32_t(p[4 * i]) << 24) | (std::uint32_t(p[4 * i + 1]) << 16) |
             (std::uint32_t(p[4 * i + 2]) << 8) | std::uint32_t(p[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4],
                  f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
      const std::uint32_t choose = (e & f) ^ (~e & g);
      const std::uint32_t t1 = h + s1 + choose + k[i] + w[i];
      const std::uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
      const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
      const std::uint32_t t2 = s0 + majority;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
  }

  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<unsigned char, 64> block_{};
  std::size_t filled_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace

const char* outcome_text(Outcome outcome) {
  const auto index = static_cast<std::size_t>(outcome);
  return index < std::size(outcome_words) ? outcome_words[index] : "INCOMPLETE";
}

std::optional<Outcome> outcome_named(const std::string& text) {
  for (std::size_t i = 0; i < std::size(outcome_words); ++i)
    if (text == outcome_words[i]) return static_cast<Outcome>(i);
  return std::nullopt;
}

std::string new_run_id() {
  unsigned char bytes[16];
  random_bytes(bytes, sizeof bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  static const char digits[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += digits[bytes[i] >> 4];
    id += digits[bytes[i] & 0xf];
  }
  return id;
}

UtcMicros utc_now_micros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string default_station_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

std::string sha256_hex(const std::string& bytes) {
  Sha256 sum;
  sum.add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return sum.hex();
}

std::string sha256_of_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file)
    throw std::runtime_error("The file " + path + " cannot be read for its checksum (" +
                             std::strerror(errno) + ").");
  Sha256 sum;
  std::array<unsigned char, 1 << 16> buffer;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    sum.add(buffer.data(), got);
    if (got < buffer.size()) break;
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed)
    throw std::runtime_error("The file " + path + " cannot be read whole for its checksum (" +
                             std::strerror(error) + ").");
  return sum.hex();
}

}  // namespace Zelvar_Core::bench::results
