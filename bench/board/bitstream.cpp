#include "bench/board/bitstream.h"

#include <fmt/format.h>

#include <cstdint>
#include <stdexcept>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

const std::string kMagic("\x00\x09\x0f\xf0\x0f\xf0\x0f\xf0\x0f\xf0\x00\x00\x01", 13);

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes), at_(kMagic.size()) {}
  std::uint32_t number(int width) {
    need(width);
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes_[at_++]);
    return value;
  }
  std::string text() {
    const auto length = number(2);
    need(length);
    std::string value = bytes_.substr(at_, length);
    at_ += length;
    if (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
  }
  char key() {
    need(1);
    return bytes_[at_++];
  }
  std::size_t left() const { return bytes_.size() - at_; }

 private:
  void need(std::size_t n) const {
    if (bytes_.size() - at_ < n) throw std::invalid_argument("the bitstream header is cut short");
  }
  const std::string& bytes_;
  std::size_t at_;
};

// The design name goes into status lines, logs, recording headers and the
// board protocol's texts, one line each: a name that could break a line, or
// that is not UTF-8, is refused.
void refuse_unprintable(const std::string& name) {
  if (const std::string fault = text_fault(name); !fault.empty())
    throw std::invalid_argument("its design name holds " + fault);
}

void put16(std::string& out, std::size_t n) {
  out += static_cast<char>(n >> 8 & 0xff);
  out += static_cast<char>(n & 0xff);
}

}  // namespace

std::optional<BitstreamHeader> parse_bitstream_header(const std::string& bytes,
                                                      std::uint64_t file_size) {
  if (bytes.compare(0, kMagic.size(), kMagic) != 0) return std::nullopt;
  Reader reader(bytes);
  BitstreamHeader header;
  for (char expected : {'a', 'b', 'c', 'd'}) {
    if (reader.key() != expected)
      throw std::invalid_argument(std::string("the bitstream header lacks its '") + expected +
                                  "' field");
    std::string value = reader.text();
    switch (expected) {
      case 'a':
        header.design = value.substr(0, value.find(';'));
        refuse_unprintable(header.design);
        break;
      case 'b':
        header.part = value;
        break;
      case 'c':
        header.date = value;
        break;
      default:
        header.time = value;
    }
  }
  if (reader.key() != 'e') throw std::invalid_argument("the bitstream header lacks its data field");
  header.data_length = reader.number(4);
  const std::uint64_t header_size = bytes.size() - reader.left();
  if (header.data_length > file_size - header_size)
    throw std::invalid_argument("the bitstream is shorter than its header says");
  return header;
}

std::string make_bitstream(const std::string& design, const std::string& data) {
  std::string out = kMagic;
  const std::string fields[] = {design + ";UserID=0XFFFFFFFF", "sim640", "2026/12/08", "08:00:00"};
  const char keys[] = {'a', 'b', 'c', 'd'};
  for (int i = 0; i < 4; ++i) {
    out += keys[i];
    put16(out, fields[i].size() + 1);
    out += fields[i];
    out += '\0';
  }
  out += 'e';
  for (int shift = 24; shift >= 0; shift -= 8)
    out += static_cast<char>(data.size() >> shift & 0xff);
  return out + data;
}

}  // namespace Zelvar_Core::bench
