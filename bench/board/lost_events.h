// The board's count of the events it lost, followed while its stream runs:
// each rise told once, as it is seen, with how many; a count that goes back
// is a fault of the board's count, told in one sentence, never taken for a
// loss of nearly 2^64 events.
#pragma once

#include <cstdint>
#include <string>

namespace Zelvar_Core::bench {

class LossWatch {
 public:
  // A stream starts (its count starts again): `total` is the count now.
  void restart(std::uint64_t total) { seen_ = total; }
  // What changed since the last look, in one sentence; "" when nothing did.
  // "The board lost 1,234 events (5,678 since its stream started)", or
  // "The board's count of lost events went back from 87 to 3: ...".
  std::string look(std::uint64_t total);

 private:
  std::uint64_t seen_ = 0;
};

// The events the board lost between two readings of its count, or, when the
// count went back, the sentence that says so (`went_back` set).
struct LostBetween {
  std::uint64_t lost = 0;
  std::string went_back;  // "" when the count did not go back
};
LostBetween lost_between(std::uint64_t before, std::uint64_t after);

}  // namespace Zelvar_Core::bench
