// The board's count of the events it lost, followed while its stream runs:
// each rise told once, as it is seen, with how many; a count that goes back
// is a fault of the board's count, told in one sentence, never taken for a
// loss of nearly 2^64 events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// What a served board's stream lost on its way to the bench, apart from what
// the board itself lost: the events the server's queue dropped (its count is
// of one stream call, and a new call counts from 0 again) and the batches
// that never arrived (lost in transit). Each kind is told apart.
class LinkLosses {
 public:
  // Counting starts here: the server's count and the batches lost so far.
  void restart(std::uint64_t dropped, std::uint64_t transit);
  // What each kind lost since the last look, one sentence each, none when
  // nothing was; the totals since the restart grow by as much.
  std::vector<std::string> look(std::uint64_t dropped, std::uint64_t transit);
  std::uint64_t dropped() const { return dropped_total_; }
  std::uint64_t transit() const { return transit_total_; }

 private:
  std::uint64_t dropped_seen_ = 0, transit_seen_ = 0;
  std::uint64_t dropped_total_ = 0, transit_total_ = 0;
};

// "1,234 events dropped by the board server"
std::string dropped_by_server_text(std::uint64_t events);
// "3 batches of events lost in transit from the board server"
std::string lost_in_transit_text(std::uint64_t batches);

// The events the board lost between two readings of its count, or, when the
// count went back, the sentence that says so (`went_back` set).
struct LostBetween {
  std::uint64_t lost = 0;
  std::string went_back;  // "" when the count did not go back
};
LostBetween lost_between(std::uint64_t before, std::uint64_t after);

}  // namespace Zelvar_Core::bench
