// The EVT 2.0 format: words decoded as the bit layout says, events written
// and read back identically, and odd files told and read as far as they go.
#include "bench/events/evt2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/events/hdf5_export.h"
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

// The time of each event the words give, decoded from the start.
std::vector<std::int64_t> times(const std::vector<std::uint32_t>& words, Decoder& decoder) {
  std::vector<Event> events;
  decoder.decode(words.data(), words.size(), events);
  std::vector<std::int64_t> t;
  for (const auto& e : events) t.push_back(e.t);
  return t;
}

constexpr std::uint32_t kEventAt5 = 0x1u << 28 | 5u << 22 | 10u << 11 | 20u;  // ON, 6 low bits 5

TEST(Evt2Decoder, OnlyAFallFromTheTopQuarterToTheBottomQuarterIsAWrap) {
  auto th = [](std::uint32_t high) { return kTimeHigh << 28 | high; };
  auto at = [](std::int64_t high) { return high << 6 | 5; };
  {
    Decoder one_step_back;  // 64 us back: the file's own time, kept
    EXPECT_EQ(times({th(100), kEventAt5, th(99), kEventAt5, th(101), kEventAt5}, one_step_back),
              (std::vector<std::int64_t>{at(100), at(99), at(101)}));
    EXPECT_EQ(one_step_back.counts().steps_back, 1u);
  }
  {
    Decoder wrap;  // from the first word of the top quarter to the last of the bottom one
    EXPECT_EQ(times({th(kWrapFrom), kEventAt5, th(kWrapTo - 1), kEventAt5}, wrap),
              (std::vector<std::int64_t>{at(kWrapFrom), kTimeWrap + at(kWrapTo - 1)}));
    EXPECT_EQ(wrap.counts().steps_back, 0u);
  }
  {
    Decoder not_quite;  // just below the top quarter, or landing just above the bottom one
    EXPECT_EQ(times({th(kWrapFrom - 1), kEventAt5, th(0), kEventAt5, th(0x0fffffff), th(kWrapTo),
                     kEventAt5},
                    not_quite),
              (std::vector<std::int64_t>{at(kWrapFrom - 1), at(0), at(kWrapTo)}));
    EXPECT_EQ(not_quite.counts().steps_back, 2u);
  }
  {
    // Decoding from the middle of a file: the stretch's time base stands for
    // the last time word, whatever was decoded before.
    Decoder seeking;
    times({th(0x0ffffff0), kEventAt5}, seeking);
    seeking.set_time_base(std::int64_t{7} << 6, true);
    EXPECT_EQ(times({th(8), kEventAt5}, seeking), (std::vector<std::int64_t>{at(8)}));
    EXPECT_EQ(seeking.counts().steps_back, 0u);
  }
}

// A decoder written plainly from the bit layout, a word at a time, to hold
// the real one to.
struct ReferenceDecoder {
  void word(std::uint32_t w) {
    const std::uint32_t type = w >> 28;
    if (type == 0x0 || type == 0x1) {
      if (!known) ++counts.before_time;
      ++counts.events;
      events.push_back({wraps * kTimeWrap + std::int64_t{high} * 64 + (w >> 22 & 63),
                        static_cast<std::uint16_t>(w >> 11 & 2047),
                        static_cast<std::uint16_t>(w & 2047), static_cast<std::uint8_t>(type)});
    } else if (type == 0x8) {
      const std::uint32_t next = w & 0x0fffffff;
      if (known && next < high) {
        if (high >= 0x0c000000 && next < 0x04000000)
          ++wraps;
        else
          ++counts.steps_back;
      }
      high = next;
      known = true;
      ++counts.time_highs;
    } else if (type == 0xA) {
      ++counts.triggers;
    } else {
      ++counts.skipped;
      if (type != 0xE && type != 0xF) ++counts.unknown;
    }
  }
  std::vector<Event> events;
  Decoder::Counts counts;
  bool known = false;
  std::uint32_t high = 0;
  std::int64_t wraps = 0;
};

// Words of every kind: events before any time word, time words that rise,
// step back and wrap (twice), triggers, other and undefined types.
std::vector<std::uint32_t> mixed_words(std::size_t count, std::uint64_t seed) {
  std::uint64_t state = seed;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 32);
  };
  std::uint32_t high = 0x0bfffff0;  // near the top quarter, so that the time wraps
  std::vector<std::uint32_t> words = {0x1u << 28 | 0x00ABCDEF, 0x0u << 28 | 0x0FFFFFFF,
                                      kTimeHigh << 28 | high};
  while (words.size() < count) {
    const std::uint32_t r = next(), pick = r % 100;
    if (pick < 80) {
      words.push_back((r & 1) << 28 | (next() & 0x0fffffff));  // an event, any fields
    } else if (pick < 90) {
      high = (high + 1 + (r >> 8) % 0x01000000) & 0x0fffffff;  // forward, wrapping past the top
      words.push_back(kTimeHigh << 28 | high);
    } else if (pick < 93) {
      high = high > 5 ? high - 5 : high;  // a step back
      words.push_back(kTimeHigh << 28 | high);
    } else {
      static constexpr std::uint32_t kOther[] = {0xA, 0xE, 0xF, 0x2, 0x5, 0x7, 0x9, 0xB, 0xC, 0xD};
      words.push_back(kOther[next() % 10] << 28 | (next() & 0x0fffffff));
    }
  }
  return words;
}

void expect_same_counts(const Decoder::Counts& a, const Decoder::Counts& b, const std::string& at) {
  EXPECT_EQ(a.events, b.events) << at;
  EXPECT_EQ(a.time_highs, b.time_highs) << at;
  EXPECT_EQ(a.triggers, b.triggers) << at;
  EXPECT_EQ(a.skipped, b.skipped) << at;
  EXPECT_EQ(a.unknown, b.unknown) << at;
  EXPECT_EQ(a.before_time, b.before_time) << at;
  EXPECT_EQ(a.steps_back, b.steps_back) << at;
}

// The words decoded a batch at a time, ending at each of `ends`, into events
// and into columns alike.
void expect_reference_decoding(const std::vector<std::uint32_t>& words,
                               const std::vector<std::size_t>& ends, const std::string& at) {
  ReferenceDecoder reference;
  for (const std::uint32_t w : words) reference.word(w);
  Decoder into_events, into_columns;
  std::vector<Event> events;
  std::vector<std::uint16_t> x(words.size()), y(words.size());
  std::vector<std::uint8_t> p(words.size());
  std::vector<std::int64_t> t(words.size());
  std::size_t from = 0, columns = 0;
  for (const std::size_t end : ends) {
    into_events.decode(words.data() + from, end - from, events);
    columns += into_columns.decode(
        words.data() + from, end - from,
        {x.data() + columns, y.data() + columns, p.data() + columns, t.data() + columns});
    from = end;
  }
  ASSERT_EQ(events.size(), reference.events.size()) << at;
  ASSERT_EQ(columns, reference.events.size()) << at;
  for (std::size_t i = 0; i < events.size(); ++i) {
    ASSERT_TRUE(same(events[i], reference.events[i])) << at << ", event " << i;
    ASSERT_TRUE(same({t[i], x[i], y[i], p[i]}, reference.events[i])) << at << ", column " << i;
  }
  expect_same_counts(into_events.counts(), reference.counts, at);
  expect_same_counts(into_columns.counts(), reference.counts, at);
}

TEST(Evt2Decoder, DecodesAsThePlainBitLayoutInBatchesOfEverySplit) {
  const auto words = mixed_words(400, 1);
  {
    // The mix really holds what the decoder must get right.
    ReferenceDecoder reference;
    for (const std::uint32_t w : words) reference.word(w);
    EXPECT_EQ(reference.counts.before_time, 2u);
    EXPECT_GT(reference.counts.steps_back, 0u);
    EXPECT_GT(reference.counts.unknown, 0u);
    EXPECT_GT(reference.counts.triggers, 0u);
    EXPECT_GE(reference.wraps, 1);
  }
  expect_reference_decoding(words, {words.size()}, "in one batch");
  expect_reference_decoding(words, {0, 0, words.size()}, "after empty batches");
  for (std::size_t split = 1; split < words.size(); ++split)
    expect_reference_decoding(words, {split, words.size()}, "split at " + std::to_string(split));
  std::vector<std::size_t> each_word;
  for (std::size_t end = 1; end <= words.size(); ++end) each_word.push_back(end);
  expect_reference_decoding(words, each_word, "a word at a time");
  // Long stretches, as a file is read.
  const auto many = mixed_words(300000, 2);
  expect_reference_decoding(many, {1u << 16, 100001, 250000, many.size()}, "long batches");
}

TEST(Evt2Decoder, LongRunsOfEventsDecodeAsThePlainBitLayoutWhereverTheOtherWordsFall) {
  // As a recording holds them: runs of events of every length, so that a
  // time word or another word falls at each place among four, and runs
  // longer than the blocks the events are decoded in.
  std::uint64_t state = 9;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 32);
  };
  std::vector<std::uint32_t> words;
  std::uint32_t high = 0x0bffff00;  // wraps along the way
  for (std::size_t run = 0; words.size() < 200000; ++run) {
    const std::size_t length = run < 40 ? run : next() % 3000;
    for (std::size_t i = 0; i < length; ++i)
      words.push_back((next() & 1) << 28 | (next() & 0x0fffffff));  // an event, any fields
    high = (high + 1 + next() % 64) & 0x0fffffff;
    const std::uint32_t other = next() % 8 == 0 ? 0xA0000000 | (next() & 0x0fffffff) : 0;
    words.push_back(other ? other : kTimeHigh << 28 | high);
  }
  expect_reference_decoding(words, {words.size()}, "in one batch");
  expect_reference_decoding(words, {1, 1023, 1024, 2049, 4099, 65536, 100003, words.size()},
                            "batches of every size");
}

TEST(Evt2Encoder, WritesATimeWordFirstAndAtEachChangeWhateverTheBatches) {
  std::mt19937_64 random(5);
  std::vector<Event> events;
  std::int64_t t = 3;
  for (int i = 0; i < 20000; ++i) {
    t += static_cast<std::int64_t>(random() % 90);
    if (i % 5000 == 4999) t -= 5000;  // the time may go back: a time word all the same
    events.push_back({t, static_cast<std::uint16_t>(random() % 2048),
                      static_cast<std::uint16_t>(random() % 2048),
                      static_cast<std::uint8_t>(random() & 1)});
  }
  events.push_back({kTimeWrap + 70, 1, 2, 1});  // past the wrap: the word keeps the low 34 bits
  std::vector<std::uint32_t> plain;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (i == 0 || time_high_word(events[i].t) != time_high_word(events[i - 1].t))
      plain.push_back(time_high_word(events[i].t));
    plain.push_back(cd_word(events[i]));
  }
  for (const std::size_t batch :
       {std::size_t{1}, std::size_t{7}, std::size_t{4096}, events.size()}) {
    Encoder encoder;
    std::vector<std::uint32_t> words = {0xdeadbeef};  // encoding appends
    for (std::size_t at = 0; at < events.size(); at += batch) {
      encoder.encode(events.data() + at, std::min(batch, events.size() - at), words);
      encoder.encode(events.data(), 0, words);
    }
    ASSERT_EQ(words.front(), 0xdeadbeef);
    EXPECT_EQ(std::vector<std::uint32_t>(words.begin() + 1, words.end()), plain) << batch;
  }
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

TEST(Evt2, ASensorSizeNoSensorHasIsReadAsTheDefaultSensor) {
  std::vector<std::uint32_t> words;
  const std::vector<Event> events = {{70, 1, 2, 1}};
  Encoder().encode(events.data(), events.size(), words);
  for (const char* format : {"EVT2;height=240;width=320", "EVT2;height=0;width=320",
                             "EVT2;height=-5;width=320", "EVT2;height=99999999999;width=320",
                             "EVT2;height=70000;width=320", "EVT2;height=24x;width=320"}) {
    SCOPED_TRACE(format);
    write_file("side.raw",
               std::string("% evt 2.0\n% format ") + format + "\n% end\n" + as_bytes(words));
    const auto info = RecordingReader::scan("side.raw");
    const bool valid = std::string(format) == "EVT2;height=240;width=320";
    EXPECT_EQ(info.header.width, valid ? 320 : 640);
    EXPECT_EQ(info.header.height, valid ? 240 : 480);
    EXPECT_EQ(info.events, 1u);
  }
}

TEST(Evt2, HeaderTextIsEscapedOneLineAFieldAndReadsBackAsWritten) {
  const std::vector<std::pair<std::string, std::string>> settings = {
      {"design", "top\n% end\nevil"},
      {"note", "C:\\new\r\x01\x7f tab\there \u00b5s"},
      {"two words", "key with a space"},
  };
  const std::string header = header_text("2026-12-08 09:30:00", settings);
  EXPECT_EQ(header.substr(header.find("% design")),
            "% design top\\n% end\\nevil\n"
            "% note C:\\\\new\\r\\x01\\x7F tab\\x09here \u00b5s\n"
            "% two\\x20words key with a space\n% end\n");
  std::vector<Event> events = {{70, 1, 2, 1}, {200, 3, 4, 0}};
  std::vector<std::uint32_t> words;
  Encoder().encode(events.data(), events.size(), words);
  write_file("escaped.raw", header + as_bytes(words));
  const auto info = RecordingReader::scan("escaped.raw");
  ASSERT_EQ(info.header.fields.size(), 4u + settings.size());
  for (std::size_t i = 0; i < settings.size(); ++i)
    EXPECT_EQ(info.header.fields[4 + i], settings[i]) << i;
  EXPECT_EQ(info.events, 2u);
  EXPECT_TRUE(testing_support::same_events(read_all("escaped.raw"), events));
  // A backslash that is none of the escapes, as another writer may leave one.
  EXPECT_EQ(unescape_header_text("C:\\data\\x4\\q\\"), "C:\\data\\x4\\q\\");
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

  write_file("bare.raw", body);  // no header at all, but EVT 2.0 words
  info = RecordingReader::scan("bare.raw");
  EXPECT_TRUE(info.headerless);
  EXPECT_EQ(info.events, 100u);
  EXPECT_EQ(info.warnings().front(),
            "it has no header: its words were read as EVT 2.0 for a 640 x 480 sensor");

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
  EXPECT_EQ(info.warnings(RecordingInfo::Purpose::Export).back(),
            "1 event outside the sensor's 640 x 480, kept in the export");
}

TEST(RecordingFile, AFileWithoutAHeaderIsReadOnlyWhenItsStartIsEvt2Words) {
  auto refusal = [](const std::string& path) {
    try {
      RecordingReader reader(path);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("read");
  };
  write_file("short.txt", "hello wo");
  EXPECT_EQ(refusal("short.txt"),
            "short.txt is not an EVT 2.0 recording: it has no header and no time word in its "
            "2 words");
  write_file("crumb.raw", "abc");
  EXPECT_EQ(refusal("crumb.raw"),
            "crumb.raw is not an EVT 2.0 recording: it has no header and is shorter than one word");

  // 116 words (16 time words, 100 events) and unknown ones: 1 in 117 passes, 2 in 118 do not.
  std::vector<Event> events;
  for (int i = 0; i < 100; ++i) events.push_back({i * 10, static_cast<std::uint16_t>(i), 3, 1});
  std::vector<std::uint32_t> words;
  Encoder().encode(events.data(), events.size(), words);
  words.push_back(0x30000000);
  write_file("one_odd.raw", as_bytes(words));
  EXPECT_EQ(RecordingReader::scan("one_odd.raw").events, 100u);
  words.push_back(0x50000000);
  write_file("two_odd.raw", as_bytes(words));
  EXPECT_EQ(refusal("two_odd.raw"),
            "two_odd.raw is not an EVT 2.0 recording: it has no header and 2 of its 118 words "
            "are of types EVT 2.0 does not define");

  // An export of a recording, given back as a recording.
  const std::vector<std::pair<std::string, std::string>> none;
  write_file("for_h5.raw", header_text("2026-12-08 12:00:00", none) + as_bytes(words));
  std::filesystem::remove("refused.h5");
  export_hdf5("for_h5.raw", "refused.h5", false);
  const std::string said = refusal("refused.h5");
  EXPECT_EQ(said.rfind("refused.h5 is not an EVT 2.0 recording: it has no header and ", 0), 0u)
      << said;
}

TEST(RecordingFile, AFileCutShortWhileItIsReadIsAnErrorNotAnEarlyEnd) {
  std::vector<Event> events;
  for (int i = 0; i < 100000; ++i)
    events.push_back({i * 10, static_cast<std::uint16_t>(i % 640), 3, 1});
  std::vector<std::uint32_t> words;
  Encoder().encode(events.data(), events.size(), words);
  write_file("shrinks.raw", header_text("2026-12-08 12:00:00", {}) + as_bytes(words));
  RecordingReader reader("shrinks.raw");
  std::vector<Event> read;
  ASSERT_TRUE(reader.next(read, 1000));
  std::filesystem::resize_file("shrinks.raw", reader.offset() + 4000);
  try {
    while (reader.next(read, 1000)) {
    }
    ADD_FAILURE() << "read " << read.size() << " events and ended quietly";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot read the recording shrinks.raw: it became shorter while it was read");
  }
}

TEST(RecordingFile, ATimeThatGoesBackIsReadWithTheFilesTimesAndANote) {
  const std::vector<Event> events = {{6400, 1, 1, 1}, {6336, 2, 2, 0}, {6500, 3, 3, 1}};
  std::vector<std::uint32_t> words;
  Encoder().encode(events.data(), events.size(), words);  // time high 100, 99, 101
  write_file("back.raw", header_text("2026-12-08 12:00:00", {}) + as_bytes(words));
  EXPECT_TRUE(testing_support::same_events(read_all("back.raw"), events));
  const auto info = RecordingReader::scan("back.raw");
  EXPECT_EQ(info.counts.steps_back, 1u);
  EXPECT_EQ(info.last_t, 6500);
  EXPECT_NEAR(info.duration_seconds(), 100e-6, 1e-12);
  EXPECT_EQ(info.warnings(), std::vector<std::string>{"1 time step back (the times are kept as "
                                                      "the file gives them)"});
}

}  // namespace
}  // namespace Zelvar_Core::bench
