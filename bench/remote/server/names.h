// Names that strangers choose (a client's, a design's, a peer's) as the
// server writes them in its log and tells them to other clients: one line
// that cannot pass for another, of a bounded length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Zelvar_Core::bench::remote {

// The longest name a client may give itself, in bytes.
inline constexpr std::size_t kLongestName = 256;

// `text` with every control character, backslash and byte that is not
// UTF-8 written as an escape (\n, \t, \\, \xNN), cut after `limit` bytes of
// the result with "..." where it was cut. Printable UTF-8 is kept as it is.
std::string log_safe(std::string_view text, std::size_t limit = kLongestName);

}  // namespace Zelvar_Core::bench::remote
