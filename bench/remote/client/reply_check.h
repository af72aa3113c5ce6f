// Every reply a board server gives the bench, checked in one place before
// any of it is used: texts printable UTF-8 and bounded, counts and sizes
// within reason, counters that only go up, a programming that says it is
// done and does not stall. A reply that breaks a check is rejected with
// BadReply, whose sentence says what was wrong; nothing of it is used.
// What the board says it is (its description and registers) is checked in
// board_description.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "zelvar/board/v1/board.grpc.pb.h"

namespace Zelvar_Core::bench::remote {

namespace v1 = ::zelvar::board::v1;

// A reply the bench does not take, and why, in one sentence.
class BadReply : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ReplyLimits {
  static constexpr std::size_t kLongestText = 256;  // an identity's field, a design, a holder
  static constexpr std::size_t kLongestSerialAnswer = 64 * 1024;
  static constexpr std::size_t kMostAdcChannels = 32;
  // A programming whose progress does not move for this long has stalled.
  static constexpr std::chrono::seconds kProgrammingPatience{30};
};

// The identity's texts: printable UTF-8, each at most kLongestText bytes.
void check_identity(const v1::Identity& identity);
// A state of the board from its watch: the design and holder as texts.
void check_state(const v1::BoardState& state);
// The serial port's answer: UTF-8, at most kLongestSerialAnswer bytes; line
// ends and tabs are part of an answer, other control characters are not.
const std::string& checked_serial_answer(const v1::SerialReply& reply);
// The ADC's reading: no more channels than any board has, each named.
void check_adc(const v1::AdcReadingReply& reply);

// The batches of one StreamEvents call, in order. Each batch: its bytes a
// multiple of 4 and at most the declared largest batch, starting with a
// time-high word, `events` the number of events its words hold; the board's
// clock, its count of lost events, the server's count of dropped ones and
// the batch's number never going back.
class StreamCheck {
 public:
  explicit StreamCheck(std::uint32_t largest_batch_bytes) : largest_(largest_batch_bytes) {}
  // Checks `batch`; returns how many batches went missing just before it
  // (a gap in its numbers), lost on the way. Throws BadReply.
  std::uint64_t check(const v1::EventBatch& batch);
  // The board's clock starts again once (a device reset this side asked for).
  void clock_restarts() { clock_restarts_ = true; }

 private:
  std::uint32_t largest_;
  std::uint64_t sequence_ = 0;
  std::int64_t clock_ = 0;
  std::uint64_t dropped_ = 0;  // the board's own count of lost events is told where losses are
  bool first_ = true, clock_restarts_ = false;
};

// One programming run's replies: the design named once and the same in each,
// the total as sent, bytes done never going back nor past the total, the
// last reply with `done`, and some progress at least every `patience`.
class ProgressCheck {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  ProgressCheck(std::uint64_t total_bytes, Clock clock = std::chrono::steady_clock::now,
                std::chrono::seconds patience = ReplyLimits::kProgrammingPatience);
  // Checks one reply; throws BadReply.
  void reply(const v1::ProgramProgress& progress);
  // The sentence of a run with no progress for `patience`; "" otherwise.
  std::string stalled() const;
  // The call ended without an error: throws BadReply unless the last reply said done.
  void ended() const;
  std::uint64_t bytes_done() const { return done_; }

 private:
  std::uint64_t total_, done_ = 0;
  Clock clock_;
  std::chrono::seconds patience_;
  std::chrono::steady_clock::time_point moved_;
  std::string design_;
  bool named_ = false, finished_ = false;
};

}  // namespace Zelvar_Core::bench::remote
