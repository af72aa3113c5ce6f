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

void LinkLosses::restart(std::uint64_t dropped, std::uint64_t transit) {
  dropped_seen_ = dropped;
  transit_seen_ = transit;
  dropped_total_ = transit_total_ = 0;
}

std::vector<std::string> LinkLosses::look(std::uint64_t dropped, std::uint64_t transit) {
  std::vector<std::string> news;
  // A count below the last one is a new stream call's, counted from 0.
  const std::uint64_t dropped_now = dropped >= dropped_seen_ ? dropped - dropped_seen_ : dropped;
  dropped_seen_ = dropped;
  if (dropped_now > 0) {
    dropped_total_ += dropped_now;
    news.push_back("The board server dropped " + events_text(dropped_now) + " (" +
                   count_text(dropped) + " since its stream's call began)");
  }
  if (transit > transit_seen_) {
    transit_total_ += transit - transit_seen_;
    news.push_back(lost_in_transit_text(transit - transit_seen_));
  }
  transit_seen_ = transit;
  return news;
}

std::string dropped_by_server_text(std::uint64_t events) {
  return events_text(events) + " dropped by the board server";
}

std::string lost_in_transit_text(std::uint64_t batches) {
  return count_text(batches) + (batches == 1 ? " batch" : " batches") +
         " of events lost in transit from the board server";
}

LostBetween lost_between(std::uint64_t before, std::uint64_t after) {
  if (after < before) return {0, went_back_text(before, after)};
  return {after - before, ""};
}

}  // namespace Zelvar_Core::bench
