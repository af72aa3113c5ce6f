// The EVT 2.0 format: words decoded as the bit layout says, events written
// and read back identically, and odd files told and read as far as they go.
#include "bench/events/evt2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "bench/events/recording_file.h"
#include "tests/bench/events/event_keeper.h"

namespace Zelvar_Core::bench {
namespace {

using namespace evt2;

using testing_support::read_all;
constexpr auto same = testing_support::same_event;

std::string as_bytes(const std::vector<std::uint32_t>& words) {
  std::string bytes(words.size() * 4, '\0');
  std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(Evt2Decoder, ReadsWordsWrittenByHandFromTheBitLayout) {
  const std::vector<std::uint32_t> words = {
      0x80000001,                                   // time high 1: t = 64..127
      0x1u << 28 | 5u << 22 | 2047u << 11 | 2047u,  // CD_ON at t 69, x 2047, y 2047
      0x0u << 28 | 63u << 22 | 10u << 11 | 20u,     // CD_OFF at t 127, x 10, y 20
      0xA0000000,                                   // an external trigger
      0xE0000123,
      0xF0000456,
      0x30000000,  // OTHERS, CONTINUED and a reserved type
      0x8fffffff,  // time high at the top of 34 bits
      0x1u << 28 | 1u << 22 | 1u << 11 | 2u,
      0x80000000,  // the time went round: past 2^34 us
      0x0u << 28 | 3u << 22 | 639u << 11 | 479u,
  };
  Decoder decoder;
  std::vector<Event> events;
  decoder.decode(words.data(), words.size(), events);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_TRUE(same(events[0], {69, 2047, 2047, 1}));
  EXPECT_TRUE(same(events[1], {127, 10, 20, 0}));
  EXPECT_TRUE(same(events[2], {(std::int64_t{0x0fffffff} << 6) | 1, 1, 2, 1}));
  EXPECT_TRUE(same(events[3], {kTimeWrap + 3, 639, 479, 0}));
  EXPECT_EQ(decoder.counts().time_highs, 3u);
  EXPECT_EQ(decoder.counts().triggers, 1u);
  EXPECT_EQ(decoder.counts().skipped, 3u);
  EXPECT_EQ(decoder.counts().before_time, 0u);
}

TEST(Evt2, EventsRoundTripThroughAFileIncludingATimeWrap) {
  const std::vector<Event> events = {
      {0, 0, 0, 1},
      {63, 639, 479, 0},
      {64, 1, 1, 1},  // a time-high change
      {64, 2, 2, 0},
      {1000000, 320, 240, 1},
      {kTimeWrap - 1, 5, 6, 0},
      {kTimeWrap + 7, 7, 8, 1},  // past 2^34 us
      {2 * kTimeWrap - 5, 2047, 2047, 1},
  };
  Encoder encoder;
  std::vector<std::uint32_t> words;
  encoder.encode(events.data(), 3, words);
  encoder.encode(events.data() + 3, events.size() - 3, words);  // in two batches
  EXPECT_EQ(words.front(), time_high_word(0));
  const std::string header =
      header_text("2026-12-08 12:00:00",
                  {{"design", "aer640_stream"}, {"mode", "Event stream"}, {"VTH_ON", "2400"}});
  write_file("round.raw", header + as_bytes(words));
  const auto back = read_all("round.raw");
  ASSERT_EQ(back.size(), events.size());
  for (std::size_t i = 0; i < events.size(); ++i) EXPECT_TRUE(same(back[i], events[i])) << i;
  const auto info = RecordingReader::scan("round.raw");
  EXPECT_EQ(info.header.value("design"), "aer640_stream");
  EXPECT_EQ(info.header.value("VTH_ON"), "2400");
  EXPECT_EQ(info.header.date, "2026-12-08 12:00:00");
  EXPECT_EQ(info.header.width, 640);
  EXPECT_EQ(info.events, events.size());
  EXPECT_EQ(info.last_t, 2 * kTimeWrap - 5);
  EXPECT_EQ(info.outside, 1u);  // x 2047 is beyond the sensor
}

TEST(Evt2, HeaderLinesAreExactlyTheFormatsOwn) {
  EXPECT_EQ(header_text("2026-12-08 09:30:00", {{"design", "top"}}),
            "% evt 2.0\n% format EVT2;height=480;width=640\n% geometry 640x480\n"
            "% date 2026-12-08 09:30:00\n% design top\n% end\n");
}

TEST(RecordingFile, OddFilesAreToldInASentenceAndTheReadablePartIsRead) {
  const std::string header = header_text("2026-12-08 12:00:00", {});
  std::vector<Event> events;
  for (int i = 0; i < 100; ++i) events.push_back({i * 10, static_cast<std::uint16_t>(i), 3, 1});
  Encoder encoder;
  std::vector<std::uint32_t> words;
  encoder.encode(events.data(), events.size(), words);
  const std::string body = as_bytes(words);

  auto refusal = [](const std::string& path) {
    try {
      RecordingReader::scan(path);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("read");
  };
  write_file("empty.raw", "");
  EXPECT_EQ(refusal("empty.raw"), "The recording empty.raw is empty");
  write_file("evt3.raw", "% evt 3.0\n% format EVT3;height=720;width=1280\n% end\n" + body);
  EXPECT_EQ(refusal("evt3.raw"),
            "Cannot play evt3.raw: it is in the EVT3 format; this bench "
            "reads EVT 2.0");
  EXPECT_EQ(refusal("missing.raw"), "Cannot open the recording missing.raw: no such file");

  write_file("cut.raw", header + body.substr(0, body.size() - 3));  // a partial last word
  auto info = RecordingReader::scan("cut.raw");
  EXPECT_EQ(info.events, 99u);
  EXPECT_EQ(info.partial_bytes, 1u);
  EXPECT_EQ(info.warnings(),
            std::vector<std::string>{"it ends in a word cut short (1 byte): it was truncated"});

  write_file("bare.raw", body);  // no header at all
  info = RecordingReader::scan("bare.raw");
  EXPECT_TRUE(info.headerless);
  EXPECT_EQ(info.events, 100u);

  std::string garbage = header;
  for (std::uint32_t i = 0; i < 5000; ++i) {
    const std::uint32_t w = (i * 2654435761u) | 0x20000000;  // types 2..7, A..F: none an event
    garbage.append(reinterpret_cast<const char*>(&w), 4);
  }
  write_file("garbage.raw", garbage + body);
  info = RecordingReader::scan("garbage.raw");
  EXPECT_EQ(info.events, 100u);
  EXPECT_GT(info.counts.skipped, 0u);
  ASSERT_FALSE(info.warnings().empty());

  write_file("wide.raw", header_text("2026-12-08 12:00:00", {}, 1280, 720) + body);
  info = RecordingReader::scan("wide.raw");
  EXPECT_EQ(info.header.width, 1280);
  std::vector<Event> far = {{5, 1000, 700, 1}, {6, 10, 10, 0}};
  words.clear();
  Encoder().encode(far.data(), far.size(), words);
  write_file("far.raw", header + as_bytes(words));
  info = RecordingReader::scan("far.raw");
  EXPECT_EQ(info.outside, 1u);
  EXPECT_EQ(info.warnings().back(),
            "1 event outside the sensor's 640 x 480, left out of the image");
}

}  // namespace
}  // namespace Zelvar_Core::bench
