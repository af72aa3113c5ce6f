#include "bench/remote/client/reply_check.h"

#include <fmt/format.h>

#include <cstring>

#include "bench/board/text.h"
#include "bench/events/evt2.h"

namespace Zelvar_Core::bench::remote {

namespace {

using Limits = ReplyLimits;

[[noreturn]] void reject(const std::string& sentence) { throw BadReply(sentence); }

void check_text(const std::string& what, const std::string& text) {
  if (text.size() > Limits::kLongestText)
    reject(fmt::format("The board sent {} of {} bytes (at most {})", what, count_text(text.size()),
                       Limits::kLongestText));
  if (const std::string fault = text_fault(text); !fault.empty())
    reject("The board sent " + what + " that holds " + fault);
}

}  // namespace

void check_identity(const v1::Identity& identity) {
  check_text("a vendor", identity.vendor());
  check_text("a product name", identity.product());
  check_text("a serial number", identity.serial_number());
  check_text("a version", identity.version());
  check_text("a design name", identity.design());
}

void check_state(const v1::BoardState& state) {
  check_text("a design name", state.design());
  check_text("a holder's name", state.held_by());
}

const std::string& checked_serial_answer(const v1::SerialReply& reply) {
  const std::string& answer = reply.answer();
  if (answer.size() > Limits::kLongestSerialAnswer)
    reject(fmt::format("The board sent a serial answer of {} (at most {}): it is not shown",
                       size_text(answer.size()), size_text(Limits::kLongestSerialAnswer)));
  // Line ends and tabs belong to an answer; each line is checked as a text.
  std::size_t start = 0;
  for (std::size_t at = 0; at <= answer.size(); ++at) {
    if (at < answer.size() && answer[at] != '\n' && answer[at] != '\r' && answer[at] != '\t')
      continue;
    if (const std::string fault = text_fault(answer.substr(start, at - start)); !fault.empty())
      reject("The board sent a serial answer that holds " + fault + ": it is not shown");
    start = at + 1;
  }
  return answer;
}

void check_adc(const v1::AdcReadingReply& reply) {
  if (static_cast<std::size_t>(reply.channels_size()) > Limits::kMostAdcChannels)
    reject(fmt::format("The board sent a reading of {} ADC channels (at most {})",
                       reply.channels_size(), Limits::kMostAdcChannels));
  for (const auto& channel : reply.channels()) {
    check_text("an ADC channel's name", channel.name());
    check_text("an ADC channel's unit", channel.unit());
  }
}

std::uint64_t StreamCheck::check(const v1::EventBatch& batch) {
  const std::string& bytes = batch.evt2_words();
  if (bytes.size() > largest_)
    reject(fmt::format(
        "The board sent a batch of events of {} bytes, past the largest it declared ({} bytes)",
        count_text(bytes.size()), count_text(largest_)));
  if (bytes.size() % sizeof(std::uint32_t) != 0)
    reject(fmt::format("The board sent a batch of events of {} bytes, not whole 32-bit words",
                       count_text(bytes.size())));
  // The events its words hold: CD_OFF and CD_ON words, after a time-high word first.
  std::uint64_t events = 0;
  for (std::size_t at = 0; at < bytes.size(); at += sizeof(std::uint32_t)) {
    std::uint32_t word;
    std::memcpy(&word, bytes.data() + at, sizeof word);
    const std::uint32_t type = word >> 28;
    if (at == 0 && type != evt2::kTimeHigh)
      reject("The board sent a batch of events that does not start with a time-high word");
    if (type == evt2::kCdOff || type == evt2::kCdOn) ++events;
  }
  if (events != batch.events())
    reject(
        fmt::format("The board sent a batch of events saying it holds {} events, and its words "
                    "hold {}",
                    count_text(batch.events()), count_text(events)));
  // Nothing of a batch that is rejected counts: the state changes only once every check held.
  std::uint64_t missing = 0;
  const bool numbered = batch.sequence() != 0 || sequence_ != 0;
  if (numbered) {
    if (batch.sequence() <= sequence_)
      reject(fmt::format("The board sent batch number {} after batch number {}",
                         count_text(batch.sequence()), count_text(sequence_)));
    missing = batch.sequence() - sequence_ - 1;
  }
  const bool went_back = !first_ && batch.board_time_us() < clock_;
  if (went_back && !clock_restarts_)
    reject(fmt::format(
        "The board's clock went back from {} µs to {} µs between two batches",
        count_text(static_cast<std::uint64_t>(clock_)),
        count_text(static_cast<std::uint64_t>(std::max<std::int64_t>(0, batch.board_time_us())))));
  if (!first_ && batch.dropped_by_server() < dropped_)
    reject(fmt::format("The board server's count of dropped events went back from {} to {}",
                       count_text(dropped_), count_text(batch.dropped_by_server())));
  if (numbered) sequence_ = batch.sequence();
  if (went_back) clock_restarts_ = false;
  clock_ = batch.board_time_us();
  dropped_ = batch.dropped_by_server();
  first_ = false;
  return missing;
}

ProgressCheck::ProgressCheck(std::uint64_t total_bytes, Clock clock, std::chrono::seconds patience)
    : total_(total_bytes), clock_(std::move(clock)), patience_(patience), moved_(clock_()) {}

void ProgressCheck::reply(const v1::ProgramProgress& progress) {
  if (finished_) reject("The board went on with the programming after saying it was done");
  check_text("a design name", progress.design());
  if (named_ && progress.design() != design_)
    reject("The board named the design " + design_ + " and then " + progress.design() +
           " during one programming");
  design_ = progress.design();
  named_ = true;
  if (progress.bytes_total() != total_)
    reject(fmt::format("The board counts the programming in {} bytes, and {} were sent",
                       count_text(progress.bytes_total()), count_text(total_)));
  if (progress.bytes_done() > total_)
    reject(fmt::format("The board says it wrote {} bytes of a bitstream of {}",
                       count_text(progress.bytes_done()), count_text(total_)));
  if (progress.bytes_done() < done_)
    reject(fmt::format("The board's programming went back from {} to {} bytes", count_text(done_),
                       count_text(progress.bytes_done())));
  if (progress.bytes_done() > done_ || progress.done()) moved_ = clock_();
  done_ = progress.bytes_done();
  finished_ = progress.done();
}

std::string ProgressCheck::stalled() const {
  if (finished_ || clock_() - moved_ < patience_) return "";
  return fmt::format(
      "The board's programming stalled at {} of {} bytes: no progress for {} s, so it was "
      "cancelled",
      count_text(done_), count_text(total_), patience_.count());
}

void ProgressCheck::ended() const {
  if (!finished_) reject("The board ended the programming without saying it was done");
}

}  // namespace Zelvar_Core::bench::remote
