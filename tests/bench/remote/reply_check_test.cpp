// The checks on every reply of a board server, each against the lie it stops.
#include "bench/remote/client/reply_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bench/board/text.h"
#include "bench/events/evt2.h"

namespace Zelvar_Core::bench::remote {
namespace {

using namespace std::chrono_literals;

// The sentence `check` rejects its reply with; "" when it takes it.
template <typename Check>
std::string rejection(Check&& check) {
  try {
    check();
  } catch (const BadReply& e) {
    return e.what();
  }
  return "";
}

TEST(ReplyCheck, TextsMustBePrintableUtf8NotOnlyFreeOfAsciiControls) {
  EXPECT_EQ(text_fault("VTH_ON \xc2\xb0"
                       "C \xe2\x82\xac \xf0\x9f\x94\xa5"),
            "");
  EXPECT_EQ(text_fault("caf\xe9"), "a byte that is not UTF-8 (0xE9)");   // Latin-1
  EXPECT_EQ(text_fault("\xc0\xaf"), "a byte that is not UTF-8 (0xC0)");  // an overlong '/'
  EXPECT_EQ(text_fault("\xe0\x80\xaf"), "a byte that is not UTF-8 (0xE0)");
  EXPECT_EQ(text_fault("\xed\xa0\x80"), "a byte that is not UTF-8 (0xED)");      // a surrogate
  EXPECT_EQ(text_fault("\xf4\x90\x80\x80"), "a byte that is not UTF-8 (0xF4)");  // past U+10FFFF
  EXPECT_EQ(text_fault("cut \xe2\x82"), "a byte that is not UTF-8 (0xE2)");
  EXPECT_EQ(text_fault("a\nb"), "a control character (0x0A)");
  EXPECT_EQ(text_fault("VTH\xc2\x85ON"), "a control character (0x85)");  // C1 NEXT LINE

  v1::Identity identity;
  identity.set_design("caf\xe9");
  EXPECT_EQ(rejection([&] { check_identity(identity); }),
            "The board sent a design name that holds a byte that is not UTF-8 (0xE9)");
  v1::BoardState state;
  state.set_held_by(std::string(300, 'x'));
  EXPECT_EQ(rejection([&] { check_state(state); }),
            "The board sent a holder's name of 300 bytes (at most 256)");
}

TEST(ReplyCheck, ASerialAnswerPast64KiBIsNotShownAndItsLineEndsAreKept) {
  v1::SerialReply reply;
  reply.set_answer("ID? AER-640\r\nSIM-0001\tok");
  EXPECT_EQ(checked_serial_answer(reply), reply.answer());
  reply.set_answer(std::string(3'500'000, 'A'));
  EXPECT_EQ(rejection([&] { checked_serial_answer(reply); }),
            "The board sent a serial answer of 3.3 MiB (at most 64 KiB): it is not shown");
  reply.set_answer("ok\x1b[2J");
  EXPECT_EQ(rejection([&] { checked_serial_answer(reply); }),
            "The board sent a serial answer that holds a control character (0x1B): it is not "
            "shown");
}

// A batch of `events` CD_ON events at `time_us`, numbered `sequence`.
v1::EventBatch batch_of(std::uint32_t events, std::int64_t time_us, std::uint64_t sequence) {
  std::vector<std::uint32_t> words{evt2::kTimeHigh << 28};
  for (std::uint32_t i = 0; i < events; ++i) words.push_back(evt2::kCdOn << 28 | i);
  v1::EventBatch batch;
  batch.set_evt2_words(words.data(), words.size() * sizeof(std::uint32_t));
  batch.set_events(events);
  batch.set_board_time_us(time_us);
  batch.set_sequence(sequence);
  return batch;
}

TEST(ReplyCheck, ABatchThatLiesIsRejectedAndAGapInItsNumbersIsCounted) {
  StreamCheck check(64);
  EXPECT_EQ(check.check(batch_of(3, 100, 1)), 0u);
  EXPECT_EQ(check.check(batch_of(3, 200, 4)), 2u);  // batches 2 and 3 never came

  v1::EventBatch ragged = batch_of(3, 300, 5);
  ragged.mutable_evt2_words()->append("\0\0", 2);
  EXPECT_EQ(rejection([&] { check.check(ragged); }),
            "The board sent a batch of events of 18 bytes, not whole 32-bit words");
  EXPECT_EQ(rejection([&] { check.check(batch_of(20, 300, 5)); }),
            "The board sent a batch of events of 84 bytes, past the largest it declared (64 "
            "bytes)");
  v1::EventBatch miscounted = batch_of(3, 300, 5);
  miscounted.set_events(10);
  EXPECT_EQ(rejection([&] { check.check(miscounted); }),
            "The board sent a batch of events saying it holds 10 events, and its words hold 3");
  v1::EventBatch headless = batch_of(3, 300, 5);
  headless.mutable_evt2_words()->erase(0, 4);
  headless.set_events(3);
  EXPECT_EQ(rejection([&] { check.check(headless); }),
            "The board sent a batch of events that does not start with a time-high word");
  EXPECT_EQ(rejection([&] { check.check(batch_of(3, 300, 4)); }),
            "The board sent batch number 4 after batch number 4");
  EXPECT_EQ(rejection([&] { check.check(batch_of(3, 150, 5)); }),
            "The board's clock went back from 200 µs to 150 µs between two batches");
  // Once after a device reset this side asked for, the clock starts again.
  check.clock_restarts();
  EXPECT_EQ(check.check(batch_of(3, 10, 5)), 0u);
  EXPECT_EQ(rejection([&] { check.check(batch_of(3, 5, 6)); }),
            "The board's clock went back from 10 µs to 5 µs between two batches");
}

TEST(ReplyCheck, AProgrammingMustSayItIsDoneAndStallsAfterThirtySecondsWithoutProgress) {
  auto now = std::chrono::steady_clock::time_point{};
  ProgressCheck check(1000, [&] { return now; });
  v1::ProgramProgress progress;
  progress.set_design("aer640_sample");
  progress.set_bytes_total(1000);
  check.reply(progress);
  progress.set_bytes_done(500);
  now += 20s;
  check.reply(progress);
  now += 29s;  // 29 s since the last progress
  EXPECT_EQ(check.stalled(), "");
  check.reply(progress);  // the same again is no progress
  now += 1s;
  EXPECT_EQ(check.stalled(),
            "The board's programming stalled at 500 of 1,000 bytes: no progress for 30 s, so it "
            "was cancelled");
  // Ended without error at 50 %, never saying done.
  EXPECT_EQ(rejection([&] { check.ended(); }),
            "The board ended the programming without saying it was done");

  ProgressCheck lying(1000, [&] { return now; });
  progress.set_bytes_done(2000);
  EXPECT_EQ(rejection([&] { lying.reply(progress); }),
            "The board says it wrote 2,000 bytes of a bitstream of 1,000");
  progress.set_bytes_done(1000);
  progress.set_done(true);
  lying.reply(progress);
  EXPECT_EQ(rejection([&] { lying.ended(); }), "");
  EXPECT_EQ(lying.stalled(), "");
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote
