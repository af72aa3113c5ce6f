// What a board server says its board is, read into the host's declaration
// and checked in one place before the bench trusts any of it: a server that
// describes a board it cannot be (a sensor of no pixels, a channel twice, a
// range upside down, a mode no one knows) is refused in one sentence.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "bench/board/board_declaration.h"
#include "zelvar/board/v1/board.grpc.pb.h"

namespace Zelvar_Core::bench::remote {

namespace v1 = ::zelvar::board::v1;

// The limits past which a description is taken for a lie rather than a board.
struct DescriptionLimits {
  static constexpr std::uint32_t kLargestSide = 65535;  // pixels
  static constexpr std::size_t kLongestName = 64;       // a sensor, channel, register, format
  static constexpr std::size_t kLongestUnit = 16;       // "°C", "counts"
  static constexpr std::size_t kLongestDescription = 256;
  static constexpr std::size_t kMostAdcChannels = 32;
  static constexpr std::size_t kMostEventFormats = 8;
  static constexpr std::size_t kMostRegisters = 100000;  // in one bank
  static constexpr std::uint64_t kLargestDesign = 16ull << 30;
  static constexpr std::uint32_t kLargestBatch = 64u << 20;
};

// One register as ListRegisters gives it, with its unit, description,
// whether it is read-only and its default.
Register register_of(const v1::Register& r);

// Throws std::invalid_argument with the sentence of what is wrong with a
// bank's registers: too many, a name empty, too long, with a control
// character or given twice (`seen` holds the other banks' names), a range
// upside down, a unit or description too long.
void check_registers(const std::vector<Register>& bank, std::vector<std::string>& seen);

// The board's declaration from its identity and its description
// (std::nullopt for a server that does not describe itself: the AER-640's,
// with the identity's sensor size when it gives one). What a describing
// server leaves out (a list left empty, a limit left 0) is the AER-640's.
// The banks are left empty: they come from ListRegisters. Throws
// std::invalid_argument with the sentence of the first lie: a side of the
// sensor outside 1..65535, an identity whose size differs from the
// description's, a protocol version other than 1, a mode or reset no one
// knows or given twice, a channel unnamed or given twice or whose normal
// range is upside down, a name or unit too long, a list too long, no event
// format the bench reads (EVT 2.0), a batch or design limit past reason.
BoardDeclaration declaration_from(const v1::Identity& identity,
                                  const std::optional<v1::BoardDescription>& description);

}  // namespace Zelvar_Core::bench::remote
