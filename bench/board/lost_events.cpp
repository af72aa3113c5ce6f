#include "bench/board/lost_events.h"

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

std::string events_text(std::uint64_t count) {
  return count_text(count) + (count == 1 ? " event" : " events");
}

std::string went_back_text(std::uint64_t before, std::uint64_t after) {
  return "the board's count of lost events went back from " + count_text(before) + " to " +
         count_text(after) + ", so how many it lost meanwhile is not known";
}

}  // namespace

std::string LossWatch::look(std::uint64_t total) {
  const std::uint64_t before = seen_;
  seen_ = total;
  if (total == before) return "";
  if (total < before) {
    std::string text = went_back_text(before, total);
    text[0] = 'T';
    return text;
  }
  return "The board lost " + events_text(total - before) + " (" + count_text(total) +
         " since its stream started)";
}

LostBetween lost_between(std::uint64_t before, std::uint64_t after) {
  if (after < before) return {0, went_back_text(before, after)};
  return {after - before, ""};
}

}  // namespace Zelvar_Core::bench
