// The header of a .bit bitstream file: design name, part, date and time
// fields before the configuration data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Zelvar_Core::bench {

struct BitstreamHeader {
  std::string design;  // up to the first ';' of the design field
  std::string part;
  std::string date;
  std::string time;
  std::size_t data_length = 0;
};

// nullopt when the file has no header (raw configuration data); throws
// std::invalid_argument when a header starts but is cut short or damaged.
// `bytes` may be the start of a file of `file_size` bytes.
std::optional<BitstreamHeader> parse_bitstream_header(const std::string& bytes,
                                                      std::uint64_t file_size);
inline std::optional<BitstreamHeader> parse_bitstream_header(const std::string& bytes) {
  return parse_bitstream_header(bytes, bytes.size());
}

// A file with such a header around `data`, for tests and the demo.
std::string make_bitstream(const std::string& design, const std::string& data);

}  // namespace Zelvar_Core::bench
