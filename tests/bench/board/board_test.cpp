// The simulated board without windows: bitstreams, programming, the sensor,
// the acquisition and ADC threads, the model's checks, and the AER-320.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "bench/board/bench_model.h"
#include "bench/board/bitstream.h"
#include "bench/board/folders.h"
#include "bench/board/self_test.h"
#include "tests/bench/events/event_keeper.h"
#include "tests/support/eventually.h"
#include "tests/support/large_allocations.h"
#include "tests/support/stream_stall.h"

namespace Zelvar_Core::bench {
namespace {

using namespace std::chrono_literals;

using testing_support::eventually;

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(Bitstream, HeaderGivesDesignPartAndLength) {
  const std::string data(1000, '\x5a');
  const auto header = parse_bitstream_header(make_bitstream("aer640_top", data));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->design, "aer640_top");  // the text after ';' is not the name
  EXPECT_EQ(header->part, "sim640");
  EXPECT_EQ(header->date, "2026/12/08");
  EXPECT_EQ(header->data_length, 1000u);
  EXPECT_FALSE(parse_bitstream_header(data));  // raw configuration data
  EXPECT_FALSE(parse_bitstream_header(""));
}

TEST(Bitstream, CutOrDamagedHeaderIsRefused) {
  const std::string whole = make_bitstream("top", std::string(100, 'x'));
  for (std::size_t cut : {14u, 20u, 40u, 60u, 70u}) {
    EXPECT_THROW(parse_bitstream_header(whole.substr(0, cut)), std::invalid_argument) << cut;
  }
  std::string wrong_key = whole;
  wrong_key[13] = 'z';  // where the design field's key belongs
  EXPECT_THROW(parse_bitstream_header(wrong_key), std::invalid_argument);
}

class ProgrammingLog : public ProgrammingObserver {
 public:
  void begin(const std::string& design, std::size_t bytes) override {
    events.push_back("begin " + design + " " + std::to_string(bytes));
  }
  bool advance(std::size_t done) override {
    progress.push_back(done);
    return cancel_at == 0 || done < cancel_at;
  }
  void end() override { events.push_back("end"); }
  std::vector<std::string> events;
  std::vector<std::size_t> progress;
  std::size_t cancel_at = 0;
};

class Programming : public ::testing::Test {
 protected:
  Programming() {
    device.bytes_per_second = 1e9;  // the tests need not wait like a real board
    device.programming_observer = &programming;
  }
  SimulatedDevice device;
  ProgrammingLog programming;
};

TEST_F(Programming, ReportsProgressAndLoadsTheHeadersDesign) {
  write_file("design.bit", make_bitstream("aer640_top", std::string(300000, '\1')));
  device.program("design.bit");
  EXPECT_EQ(device.design(), "aer640_top");
  ASSERT_EQ(programming.events.size(), 2u);
  EXPECT_EQ(programming.events[0].rfind("begin aer640_top ", 0), 0u);
  EXPECT_EQ(programming.events[1], "end");
  ASSERT_GE(programming.progress.size(), 4u);  // 64 KiB at a time
  EXPECT_TRUE(std::is_sorted(programming.progress.begin(), programming.progress.end()));
  EXPECT_EQ(programming.progress.back(), std::filesystem::file_size("design.bit"));
}

TEST_F(Programming, FileWithoutHeaderIsNamedByItsFileName) {
  write_file("raw_image.bit", "bits");
  device.program("raw_image.bit");
  EXPECT_EQ(device.design(), "raw_image.bit");
}

TEST_F(Programming, BadFilesAreRefusedWithTheirPathAndKeepTheDesign) {
  write_file("empty.bit", "");
  write_file("damaged.bit", make_bitstream("x", "data").substr(0, 30));
  // A design name that would break the lines it is written into.
  write_file("newline.bit", make_bitstream("aer\n% end", "data"));
  const std::pair<std::string, std::string> cases[] = {
      {"newline.bit",
       "The bitstream newline.bit is damaged: its design name holds a control character (0x0A)"},
      {"/no/such/file.bit", "Cannot open the bitstream /no/such/file.bit: no such file"},
      {"empty.bit", "The bitstream empty.bit is empty"},
      {"damaged.bit", "The bitstream damaged.bit is damaged"},
      {".", "Cannot read the bitstream .: it is a folder"},
      {"/dev/zero", "Cannot read the bitstream /dev/zero: it is not a regular file"},
  };
  for (const auto& [path, message] : cases) {
    try {
      device.program(path);
      ADD_FAILURE() << "accepted " << path;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
    }
    EXPECT_EQ(device.design(), SimulatedDevice::kFlashDesign) << path;
  }
  EXPECT_TRUE(programming.events.empty());  // nothing was written to the board
}

TEST_F(Programming, FailureMidwayEndsTheRunClearsTheDesignAndIsOneShot) {
  write_file("design.bit", make_bitstream("top", std::string(640 * 1024, '\1')));
  device.fail_next_program = true;
  try {
    device.program("design.bit");
    ADD_FAILURE() << "programming did not fail";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("the board stopped answering"), std::string::npos);
  }
  EXPECT_EQ(programming.events.back(), "end");  // the progress dialog goes
  EXPECT_EQ(device.design(), "");
  EXPECT_FALSE(device.fail_next_program);
  device.program("design.bit");
  EXPECT_EQ(device.design(), "top");
}

TEST_F(Programming, CancelAndDisconnectedBoardAreRefused) {
  write_file("design.bit", std::string(640 * 1024, '\1'));
  programming.cancel_at = 200000;
  EXPECT_THROW(device.program("design.bit"), Cancelled);
  EXPECT_EQ(programming.events.back(), "end");
  EXPECT_EQ(device.design(), "");
  int heard = 0;
  device.connection_listener = [&] { ++heard; };
  device.set_connected(false);
  EXPECT_EQ(heard, 1);
  EXPECT_THROW(device.program("design.bit"), NoBoard);
  device.set_connected(true);
  EXPECT_EQ(heard, 2);
  EXPECT_EQ(device.design(), SimulatedDevice::kFlashDesign);
}

TEST_F(Programming, HostileFilesAreRefusedAtOnceBeforeAnythingIsRead) {
  // A named pipe would block an ordinary open (and this test until its
  // time limit); it is refused without waiting for a writer.
  ::unlink("pipe.bit");
  ASSERT_EQ(::mkfifo("pipe.bit", 0600), 0);
  try {
    device.program("pipe.bit");
    ADD_FAILURE() << "a named pipe was read";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot read the bitstream pipe.bit: it is not a regular file");
  }
  // Larger than the board holds: refused by size, not read (a sparse file).
  std::filesystem::resize_file((std::ofstream("huge.bit"), "huge.bit"), 1ull << 30);
  try {
    device.program("huge.bit");
    ADD_FAILURE() << "a 1 GiB file was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "The bitstream huge.bit is 1.0 GiB, larger than any design the board can hold "
                 "(32.0 MiB)");
  }
  EXPECT_TRUE(programming.events.empty());
  EXPECT_EQ(device.design(), SimulatedDevice::kFlashDesign);
}

TEST(Text, SizesAreBinaryMultiplesLabelledAsSuch) {
  EXPECT_EQ(size_text(39230034), "37.4 MiB");  // 39.2 million bytes: 37.4 MiB, not 37.4 MB
  EXPECT_EQ(size_text(3u << 20), "3.0 MiB");
  EXPECT_EQ(size_text(614400), "600 KiB");
  EXPECT_EQ(size_text(1024), "1 KiB");
  EXPECT_EQ(size_text(1023), "1023 bytes");
  EXPECT_EQ(size_text(5ull << 30), "5.0 GiB");
}

TEST(SensorSettings, BiasesSetTheRatesOfEachPolarity) {
  const BiasPoint nominal;
  const auto nominal_settings = sensor_settings(nominal, SensorMode::EventStream);
  const double rate = nominal_settings.total_rate();
  EXPECT_GT(rate, 1e6);
  BiasPoint narrow = nominal;  // thresholds closer to the reference: more events
  narrow.vth_on -= 400;
  narrow.vth_off += 400;
  EXPECT_GT(sensor_settings(narrow, SensorMode::EventStream).total_rate(), 1.5 * rate);
  // Each threshold moves its own polarity: a lower ON threshold, more ON and the same OFF.
  BiasPoint on_only = nominal;
  on_only.vth_on -= 400;
  const auto before = expected_rates(nominal_settings);
  const auto after = expected_rates(sensor_settings(on_only, SensorMode::EventStream));
  EXPECT_GT(after.on, 1.3 * before.on);
  EXPECT_NEAR(after.off - before.off, 0, 0.01 * before.off + (after.on + after.off) * 0.05);
  EXPECT_NEAR(before.on + before.off, rate, 1.0);
  BiasPoint weak = nominal;
  weak.vbias_pr = 600;
  EXPECT_LT(sensor_settings(weak, SensorMode::EventStream).total_rate(), rate);
  BiasPoint gain = nominal;
  gain.bias_gain = 7;
  EXPECT_GT(sensor_settings(gain, SensorMode::EventStream).signal_rate,
            nominal_settings.signal_rate);
  for (auto silent : {&BiasPoint::aer_enabled, &BiasPoint::out_of_reset}) {
    BiasPoint off = nominal;
    off.*silent = false;
    EXPECT_EQ(sensor_settings(off, SensorMode::EventStream).total_rate(), 0);
  }
  EXPECT_EQ(sensor_settings(nominal, SensorMode::Standby).total_rate(), 0);
  // Crossed thresholds do not make the rate negative or infinite.
  BiasPoint crossed = nominal;
  crossed.vth_on = 0;
  crossed.vth_off = 4095;
  const double extreme = sensor_settings(crossed, SensorMode::EventStream).total_rate();
  EXPECT_GT(extreme, 0);
  EXPECT_LE(extreme, 25e6);
}

TEST(EventSensor, EventsLieOnTheSensorInTimeOrderWithTheSetShareOfOn) {
  EventSensor sensor;
  BiasPoint bias;
  bias.vth_on = 2000;  // ON fires more easily than OFF
  for (auto mode : {SensorMode::EventStream, SensorMode::TestPattern}) {
    const auto settings = sensor_settings(bias, mode);
    std::vector<Event> events;
    sensor.generate(1.25, 100000, settings, 5000, 7000, events);
    EXPECT_GT(events.size(), 90000u);
    std::size_t on = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
      ASSERT_TRUE(on_sensor(events[i]));
      ASSERT_GE(events[i].t, 5000);
      ASSERT_LT(events[i].t, 7000);
      if (i > 0) {
        ASSERT_GE(events[i].t, events[i - 1].t);
      }
      on += events[i].p;
    }
    const double share = static_cast<double>(on) / events.size();
    const auto rates = expected_rates(settings);
    EXPECT_NEAR(share, rates.on / (rates.on + rates.off), 0.02);
  }
  std::vector<Event> none;
  sensor.generate(0, 1000, sensor_settings(bias, SensorMode::Standby), 0, 2000, none);
  EXPECT_TRUE(none.empty());
}

TEST(EventSensor, TheSceneMoves) {
  EventSensor sensor;
  const auto settings = sensor_settings(BiasPoint{}, SensorMode::EventStream);
  auto centre_x = [&](double t) {
    std::vector<Event> events;
    sensor.generate(t, 20000, settings, 0, 2000, events);
    EventFrame frame;
    frame.accumulate(events.data(), events.size());
    double sum = 0, weight = 0;
    for (int y = 0; y < kSensorHeight; ++y)
      for (int x = 0; x < kSensorWidth; ++x) {
        const double w = std::abs(frame.counts[y * kSensorWidth + x]);
        sum += w * x;
        weight += w;
      }
    return sum / weight;
  };
  EXPECT_GT(std::abs(centre_x(0.0) - centre_x(1.5)), 20);
}

// The thresholds of pravel --measure --busy: about 20 M events/s.
BiasPoint busy_bias() {
  BiasPoint bias;
  bias.vth_on = 1750;
  bias.vth_off = 1450;
  bias.bias_gain = 7;
  return bias;
}

TEST(EventSensor, TimesAreSpreadEvenlyOverTheSliceWhateverTheCount) {
  const auto settings = sensor_settings(BiasPoint{}, SensorMode::EventStream);
  EventSensor sensor;
  std::vector<Event> seven;
  sensor.generate(0.5, 7, settings, 100, 110, seven);
  std::vector<std::int64_t> times;
  for (const Event& e : seven) times.push_back(e.t);
  EXPECT_EQ(times, (std::vector<std::int64_t>{100, 101, 102, 104, 105, 107, 108}));
  // Event i of n at t_begin + floor(span * i / n): more events than
  // microseconds and fewer, across the blocks the events are made in, an
  // empty span and one that ends before it begins.
  struct Slice {
    std::size_t count;
    std::int64_t begin, end;
  };
  for (const Slice slice : {Slice{2500, 0, 2000}, Slice{40000, 5000, 7000}, Slice{3, 0, 1000000},
                            Slice{3000, 123456789, 123458789}, Slice{5, 50, 50}, Slice{5, 10, 3}}) {
    const std::int64_t span = std::max<std::int64_t>(0, slice.end - slice.begin);
    std::vector<Event> appended = {Event{-1, 0, 0, 0}};  // generating appends
    sensor.generate(1.0, slice.count, settings, slice.begin, slice.end, appended);
    std::vector<Event> written(slice.count + 1, Event{-2, 0, 0, 0});
    ASSERT_EQ(sensor.generate(1.0, slice.count, settings, slice.begin, slice.end, written.data()),
              slice.count);
    ASSERT_EQ(appended.size(), slice.count + 1);
    EXPECT_EQ(appended.front().t, -1);
    EXPECT_EQ(written.back().t, -2) << "written past the room asked for";
    for (std::size_t i = 0; i < slice.count; ++i) {
      const std::int64_t expected = slice.begin + span * static_cast<std::int64_t>(i) /
                                                      static_cast<std::int64_t>(slice.count);
      ASSERT_EQ(appended[i + 1].t, expected) << slice.count << " events, event " << i;
      ASSERT_EQ(written[i].t, expected) << slice.count << " events, event " << i;
    }
  }
}

TEST(EventSensor, AppendedOrWrittenInPlaceTheEventsAreTheSame) {
  for (auto mode : {SensorMode::EventStream, SensorMode::TestPattern}) {
    const auto settings = sensor_settings(busy_bias(), mode);
    EventSensor appending(42), writing(42);
    std::int64_t t = 0;
    // Counts either side of the blocks the appending form works in.
    for (const std::size_t count : {1u, 1023u, 1024u, 1025u, 40000u, 7u}) {
      std::vector<Event> appended, written(count);
      appending.generate(t * 1e-6, count, settings, t, t + 2000, appended);
      writing.generate(t * 1e-6, count, settings, t, t + 2000, written.data());
      ASSERT_EQ(appended.size(), count);
      for (std::size_t i = 0; i < count; ++i) {
        const Event &a = appended[i], &w = written[i];
        ASSERT_TRUE(a.t == w.t && a.x == w.x && a.y == w.y && a.p == w.p)
            << count << " events, event " << i;
      }
      t += 2000;
    }
  }
  EventSensor sensor;
  Event untouched{-3, 0, 0, 0};
  EXPECT_EQ(
      sensor.generate(0, 1, sensor_settings(busy_bias(), SensorMode::Standby), 0, 2000, &untouched),
      0u);
  EXPECT_EQ(untouched.t, -3);
}

TEST(EventSensor, NoiseAloneCoversTheWholeSensorEvenlyWithAsManyOnAsOff) {
  SensorSettings noise;
  noise.noise_rate = 1e6;
  noise.on_fraction = 0.9;  // the scene's share: noise is ON or OFF alike
  EventSensor sensor;
  std::vector<Event> events;
  sensor.generate(2.0, 1u << 20, noise, 0, 1000000, events);
  ASSERT_EQ(events.size(), 1u << 20);
  // Tiles of 160 x 120 pixels: each holds a sixteenth.
  std::vector<std::size_t> tiles(16);
  std::size_t on = 0;
  int min_x = kSensorWidth, max_x = -1, min_y = kSensorHeight, max_y = -1;
  for (const Event& e : events) {
    ASSERT_TRUE(on_sensor(e));
    ++tiles[e.y / 120 * 4 + e.x / 160];
    on += e.p;
    min_x = std::min<int>(min_x, e.x), max_x = std::max<int>(max_x, e.x);
    min_y = std::min<int>(min_y, e.y), max_y = std::max<int>(max_y, e.y);
  }
  for (std::size_t i = 0; i < tiles.size(); ++i)
    EXPECT_NEAR(tiles[i], events.size() / 16.0, events.size() / 16.0 * 0.02) << "tile " << i;
  EXPECT_NEAR(static_cast<double>(on) / events.size(), 0.5, 0.005);
  EXPECT_EQ(min_x, 0);
  EXPECT_EQ(max_x, kSensorWidth - 1);
  EXPECT_EQ(min_y, 0);
  EXPECT_EQ(max_y, kSensorHeight - 1);
}

TEST(EventFrame, AccumulatesNetCountsSaturatesAndKeepsItsTimeSpan) {
  EventFrame frame;
  EXPECT_EQ(frame.t_first, -1);
  std::vector<Event> events(40000, Event{10, 639, 479, 1});
  events.push_back({20, 0, 0, 0});
  events.push_back({21, 0, 0, 0});
  events.push_back({22, 2047, 2047, 1});  // off the sensor: not counted
  events.push_back({30, 0, 0, 1});
  frame.accumulate(events.data(), events.size());
  EXPECT_EQ(frame.counts.back(), 32767);
  EXPECT_EQ(frame.counts.front(), -1);
  EXPECT_EQ(frame.t_first, 10);
  EXPECT_EQ(frame.t_last, 30);
  frame.clear();
  EXPECT_EQ(frame.counts.back(), 0);
  EXPECT_EQ(frame.t_first, -1);
}

// Events over the sensor, and a few beyond it.
std::vector<Event> spread_events(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Event> events;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t r = random();
    events.push_back({static_cast<std::int64_t>(i), static_cast<std::uint16_t>(r % 700),
                      static_cast<std::uint16_t>((r >> 10) % 480),
                      static_cast<std::uint8_t>(r >> 31)});
  }
  return events;
}

TEST(DisplayFeed, GathersTheFrameOnlyWhileItIsWatched) {
  EventHub hub;
  PolarityCounter heard;
  Subscription hear(hub, heard);
  DisplayFeed display(hub);
  const auto events = spread_events(5000, 4);
  const std::vector<Event> first(events.begin(), events.begin() + 2000),
      second(events.begin() + 2000, events.end());
  EventFrame taken;
  hub.publish(first.data(), first.size());  // no one watches: nothing gathered
  display.settle();
  display.take_frame(taken);
  EXPECT_EQ(taken.t_first, -1);
  EXPECT_EQ(std::count(taken.counts.begin(), taken.counts.end(), 0), kSensorWidth * kSensorHeight);
  {
    FrameWatch image(display);
    {
      FrameWatch capture(display);
      hub.publish(first.data(), first.size());
      display.settle();
    }
    hub.publish(second.data(), second.size());  // one watcher is left: still gathered
    display.settle();
    display.take_frame(taken);
    EventFrame expected;
    expected.accumulate(events.data(), events.size());
    EXPECT_EQ(taken.counts, expected.counts);
    EXPECT_EQ(taken.t_first, expected.t_first);
    EXPECT_EQ(taken.t_last, expected.t_last);
    hub.publish(first.data(), first.size());
    display.settle();
  }
  // The last watcher gone, what it left untaken is dropped: a new watcher
  // starts from an empty frame.
  FrameWatch again(display);
  display.take_frame(taken);
  EXPECT_EQ(taken.t_first, -1);
  EXPECT_EQ(std::count(taken.counts.begin(), taken.counts.end(), 0), kSensorWidth * kSensorHeight);
  // A clear leaves out what was published before it, even if still queued.
  hub.publish(first.data(), first.size());
  display.clear_frame();
  hub.publish(second.data(), second.size());
  display.settle();
  display.take_frame(taken);
  EventFrame expected;
  expected.accumulate(second.data(), second.size());
  EXPECT_EQ(taken.counts, expected.counts);
  EXPECT_EQ(heard.total(), 4 * first.size() + 2 * second.size());  // listeners hear everything
}

// Keeps the display's events and the spans it was told it skipped.
struct ShownEvents : testing_support::StreamStall {
  void on_events(const Event* events, std::size_t count) override {
    StreamStall::on_events(events, count);  // held here while the test says so
    std::lock_guard lock(kept_mutex);
    shown.insert(shown.end(), events, events + count);
  }
  void on_skipped(std::int64_t t_first, std::int64_t t_last, std::uint64_t count) override {
    std::lock_guard lock(kept_mutex);
    skipped.push_back({t_first, t_last, static_cast<std::int64_t>(count)});
  }
  std::mutex kept_mutex;
  std::vector<Event> shown;
  std::vector<std::array<std::int64_t, 3>> skipped;
};

TEST(DisplayFeed, AStalledDisplaySkipsWhatItsQueueCannotHoldAndHoldsUpNoPublisher) {
  EventHub hub;
  testing_support::EventKeeper recorded;  // as a recorder hears the stream
  Subscription hear(hub, recorded);
  DisplayFeed display(hub, 10000);
  ShownEvents shown;
  display.add(&shown);
  FrameWatch image(display);
  const auto events = spread_events(17000, 5);
  // Batches of 4,000 events, the fifth of 1,000: while the display holds the
  // first, the next two fit in its queue, the fourth does not, the fifth does.
  std::vector<std::vector<Event>> batches;
  for (std::size_t from = 0; from < events.size(); from += 4000)
    batches.emplace_back(events.begin() + static_cast<long>(from),
                         events.begin() + static_cast<long>(std::min(from + 4000, events.size())));
  std::atomic<std::size_t> published{0};
  std::thread board([&] {  // publishes the next batches once the display holds the first
    hub.publish(batches[0].data(), batches[0].size());
    ++published;
    if (!eventually([&] { return shown.holding(); })) return;
    for (std::size_t i = 1; i < batches.size(); ++i, ++published)
      hub.publish(batches[i].data(), batches[i].size());
  });
  const bool went_on = eventually([&] { return published == batches.size(); });
  shown.let_go();
  board.join();
  ASSERT_TRUE(went_on) << "the board's thread waited for the display";
  EXPECT_TRUE(testing_support::same_events(recorded.events, events));
  EXPECT_EQ(display.skipped(), 4000u);
  display.settle();
  std::vector<Event> expected;
  for (std::size_t i : {0, 1, 2, 4})
    expected.insert(expected.end(), batches[i].begin(), batches[i].end());
  EXPECT_TRUE(testing_support::same_events(shown.shown, expected));
  ASSERT_EQ(shown.skipped.size(), 1u);
  EXPECT_EQ(shown.skipped[0],
            (std::array<std::int64_t, 3>{batches[3].front().t, batches[3].back().t, 4000}));
  EventFrame taken, direct;
  display.take_frame(taken);
  direct.accumulate(expected.data(), expected.size());
  EXPECT_EQ(taken.counts, direct.counts);
  EXPECT_EQ(hub.published(), events.size());
}

// While the display is held, the board goes on publishing into its queue.
// Once the queue has been this full, doing it again takes the publishing
// thread no fresh memory: the room the display handed back is used again
// (fresh batches fault their pages in on the board's thread, at the busy
// rate a larger cost than making the events).
TEST(DisplayFeed, AQueueFilledAgainTakesThePublisherNoFreshMemory) {
  EventHub hub;
  constexpr std::size_t kBatch = 1000, kQueued = 100;
  DisplayFeed display(hub, kBatch * kQueued);
  ShownEvents shown;
  display.add(&shown);
  FrameWatch image(display);
  const auto events = spread_events(2 * (kQueued + 1) * kBatch, 7);
  std::vector<std::size_t> fresh;
  for (int pass = 0; pass < 2; ++pass) {
    const Event* from = events.data() + static_cast<std::size_t>(pass) * (kQueued + 1) * kBatch;
    if (pass > 0) shown.hold_next();
    hub.publish(from, kBatch);  // held by the display
    ASSERT_TRUE(eventually([&] { return shown.holding(); }));
    {
      testing_support::LargeAllocations batches(kBatch * sizeof(Event));
      for (std::size_t i = 1; i <= kQueued; ++i) hub.publish(from + i * kBatch, kBatch);
      fresh.push_back(batches.count());
    }
    shown.let_go();
    display.settle();
  }
  EXPECT_EQ(fresh[1], 0u) << "fresh batches the second time: " << fresh[1];
  EXPECT_EQ(display.skipped(), 0u);
  EXPECT_TRUE(testing_support::same_events(shown.shown, events));
}

// The board's event stream, its clock and its refusals.
class Board : public ::testing::Test {
 protected:
  Board() { device.events().subscribe(&counter); }
  ~Board() override {
    device.stop_acquisition();
    device.events().unsubscribe(&counter);
  }
  SimulatedDevice device;
  PolarityCounter counter;
};

TEST_F(Board, StreamsTimedEventsAtTheRateAndTheClockRunsOnUntilReset) {
  struct Times : EventListener {
    void on_events(const Event* e, std::size_t n) override {
      std::lock_guard lock(mutex);
      for (std::size_t i = 0; i < n; ++i) {
        ordered = ordered && e[i].t >= last;
        last = e[i].t;
      }
    }
    std::mutex mutex;
    std::int64_t last = -1;
    bool ordered = true;
  } times;
  Subscription subscription(device.events(), times);
  device.start_acquisition();
  ASSERT_TRUE(eventually([&] { return counter.total() > 50000; }));
  device.stop_acquisition();
  EXPECT_FALSE(device.acquiring());
  const auto stopped_at = counter.total();
  const std::int64_t first_run_end = times.last;
  EXPECT_GT(first_run_end, 20000);  // microseconds: the run lasted more than 20 ms
  // 30 ms of the board's clock pass while stopped, and bring no event.
  ASSERT_TRUE(eventually([&] { return device.clock().now_us() > first_run_end + 30000; }));
  EXPECT_EQ(counter.total(), stopped_at);
  device.start_acquisition();  // the clock goes on across a stop
  ASSERT_TRUE(eventually([&] { return counter.total() > stopped_at + 1000; }));
  device.stop_acquisition();
  std::lock_guard lock(times.mutex);
  EXPECT_TRUE(times.ordered);
  EXPECT_GT(times.last, first_run_end + 30000);
  device.actions->reset_device();  // a device reset starts it again at zero
  EXPECT_LT(device.clock().now_us(), first_run_end);
}

TEST_F(Board, BrokenStreamIsReportedAndCanStartAgain) {
  std::mutex mutex;
  std::vector<std::string> failures;
  device.stream_failure = [&](const std::string& e) {
    std::lock_guard lock(mutex);
    failures.push_back(e);
  };
  device.start_acquisition();
  device.acquisition().fail_next_read();
  ASSERT_TRUE(eventually([&] { return !device.acquiring(); }));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(failures,
              std::vector<std::string>{"Acquisition stopped: The event stream broke off"});
  }
  device.start_acquisition();
  EXPECT_TRUE(device.acquiring());
}

// The stream driven by times the test chooses: what the board produces and
// loses depends on board time only, never on how fast a thread runs.
struct Pumped : ::testing::Test {
  struct Batches : EventListener {
    void on_events(const Event* e, std::size_t n) override {
      largest = std::max(largest, n);
      for (std::size_t i = 0; i < n; ++i) times.push_back(e[i].t);
    }
    std::size_t largest = 0;
    std::vector<std::int64_t> times;
  };
  Pumped() { settings.signal_rate = 1e6; }
  EventHub hub;
  Batches batches;
  Subscription subscription{hub, batches};
  SensorSettings settings;
  StreamPump pump{hub, 0};
};

// What a whole stream holds, checked as it is heard: each event on the
// sensor, in time order, counted by polarity and by tenth of a second.
struct StreamCheck : EventListener {
  void on_events(const Event* e, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) {
      if (!on_sensor(e[i])) ++outside;
      if (e[i].t < last) ++out_of_order;
      last = e[i].t;
      on += e[i].p;
      ++tenths[static_cast<std::size_t>(std::clamp<std::int64_t>(e[i].t / 100000, 0, 10))];
    }
    heard += n;
  }
  std::uint64_t heard = 0, on = 0, outside = 0, out_of_order = 0;
  std::int64_t last = -1;
  std::vector<std::uint64_t> tenths = std::vector<std::uint64_t>(11);  // the last: 1 s and after
};

TEST(StreamPump, ASecondOfBoardTimeHoldsTheRateAndThePolaritiesOnTheSensorInTimeOrder) {
  BiasPoint noisy;  // thresholds close to the reference: a fifth of the events are noise
  noisy.vth_on = 1700;
  noisy.vth_off = 1500;
  for (const auto& settings : {sensor_settings(busy_bias(), SensorMode::EventStream),
                               sensor_settings(BiasPoint{}, SensorMode::EventStream),
                               sensor_settings(noisy, SensorMode::EventStream),
                               sensor_settings(busy_bias(), SensorMode::TestPattern)}) {
    EventHub hub;
    StreamCheck check;
    Subscription subscription(hub, check);
    StreamPump pump(hub, 0);
    // The board's clock read at uneven times, as a thread that is late now
    // and then would: slices of every length, each smaller than the last
    // at times, so that the batch is written over with fewer events.
    const std::int64_t steps[] = {2000, 333, 2000, 5171, 1, 2000, 12007, 700};
    std::int64_t now = 0;
    for (std::size_t i = 0; now < 1000000; ++i) {
      now = std::min<std::int64_t>(1000000, now + steps[i % std::size(steps)]);
      pump.pump(now, settings);
    }
    const double rate = settings.total_rate();
    const std::string what = "at " + std::to_string(rate) + " events/s";
    EXPECT_NEAR(static_cast<double>(pump.events()), rate, 1.0) << what;
    EXPECT_EQ(check.heard, pump.events()) << what;
    EXPECT_EQ(pump.estimated_lost(), 0u);
    EXPECT_EQ(check.outside, 0u) << what;
    EXPECT_EQ(check.out_of_order, 0u) << what;
    EXPECT_LT(check.last, 1000000) << what;
    // Spread evenly over the second: each tenth holds a tenth, to a few events.
    for (std::size_t tenth = 0; tenth < 10; ++tenth)
      EXPECT_NEAR(static_cast<double>(check.tenths[tenth]), rate / 10, 3.0)
          << what << ", tenth " << tenth;
    const auto expected = expected_rates(settings);
    EXPECT_NEAR(static_cast<double>(check.on) / static_cast<double>(check.heard),
                expected.on / (expected.on + expected.off), 0.002)
        << what;
  }
}

TEST_F(Pumped, AHostThatFallsBehindLosesWhatTheFifoCannotHoldAndCountsIt) {
  pump.pump(10000, settings);
  EXPECT_EQ(pump.events(), 10000u);  // 10 ms at 1 M events/s
  EXPECT_EQ(pump.estimated_lost(), 0u);
  // The host is held up for 650 ms: 400 ms more than the FIFO holds.
  pump.pump(660000, settings);
  static_assert(StreamPump::kMaxLagMicroseconds == 250000);
  static_assert(StreamPump::kSliceMicroseconds == 2000);
  EXPECT_EQ(pump.estimated_lost(), 400000u);  // counted, not dropped silently
  EXPECT_EQ(pump.events(), 260000u);          // the FIFO's 250 ms still come...
  EXPECT_EQ(batches.largest, 2000u);          // ...in batches of one slice
  // The newest events are kept: the first after the stall is 250 ms old.
  EXPECT_EQ(batches.times.at(10000), 410000);
  EXPECT_TRUE(std::is_sorted(batches.times.begin(), batches.times.end()));
}

TEST_F(Pumped, AClockThatRestartsStartsTheStreamAgainAtItsNewTime) {
  pump.pump(60000000, settings);  // a minute of board time
  const auto before = pump.events();
  batches.times.clear();
  // A device reset: the board's clock starts again from zero.
  pump.pump(3000, settings);
  EXPECT_EQ(pump.events() - before, 3000u);  // events at once, not after a minute
  ASSERT_FALSE(batches.times.empty());
  EXPECT_GE(batches.times.front(), 0);
  EXPECT_LT(batches.times.back(), 3000);
  EXPECT_EQ(pump.estimated_lost(), 59750000u);  // the minute's first part was lost before the reset
}

TEST_F(Board, ResetDuringAcquisitionKeepsEventsArrivingFromTheRestartedClock) {
  struct Last : EventListener {
    void on_events(const Event* e, std::size_t n) override {
      if (n) last = e[n - 1].t;
    }
    std::atomic<std::int64_t> last{-1};
  } last;
  Subscription subscription(device.events(), last);
  device.start_acquisition();
  ASSERT_TRUE(eventually([&] { return last.last > 100000; }));  // 100 ms of board time
  device.actions->reset_device();
  // Events come again, stamped from the restarted clock, while still acquiring.
  ASSERT_TRUE(eventually([&] { return last.last >= 0 && last.last < 100000; }));
  EXPECT_TRUE(device.acquiring());
  const auto count = counter.total();
  EXPECT_TRUE(eventually([&] { return counter.total() > count + 1000; }));
}

TEST_F(Board, RefusesWhatNeedsAnAbsentBoardOrADesign) {
  device.set_connected(false);
  EXPECT_EQ(device.info.serial_number, "");  // no identity without a board
  auto refusal = [](auto action) {
    try {
      action();
    } catch (const NoBoard& e) {
      return std::string(e.what());
    }
    return std::string("done");
  };
  EXPECT_EQ(refusal([&] { device.actions->reset_chip(); }),
            "No board is connected: reset not sent");
  EXPECT_EQ(refusal([&] { device.set_mode(SensorMode::Standby); }),
            "No board is connected: mode not changed");
  EXPECT_EQ(refusal([&] { device.start_acquisition(); }),
            "No board is connected: acquisition not started");
  EXPECT_EQ(refusal([&] { device.read_identity(); }), "No board is connected: identity not read");
  EXPECT_EQ(refusal([&] { device.write_register("CTRL", 2); }),
            "No board is connected: CTRL not written");
  EXPECT_TRUE(device.resets.issued.empty());
  EXPECT_EQ(device.mode(), SensorMode::EventStream);

  device.set_connected(true);
  EXPECT_EQ(device.info.serial_number, "SIM-0001");
  std::ofstream("raw.bit") << "x";
  device.fail_next_program = true;
  EXPECT_THROW(device.program("raw.bit"), std::runtime_error);
  try {
    device.start_acquisition();
    ADD_FAILURE() << "streamed without a design";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "No design on the board: program a bitstream before starting the acquisition");
  }
  EXPECT_FALSE(device.acquiring());
}

TEST(Registers, TheBoardRefusesOutOfRangeAndEditorTextIsReadKindly) {
  RegisterFile file;
  try {
    file.write("VTH_ON", 5000);
    ADD_FAILURE() << "out of range taken";
  } catch (const RangeError& e) {
    EXPECT_STREQ(e.what(), "VTH_ON: 5000 is out of range 0..4095");
  }
  EXPECT_EQ(file.read("VTH_ON"), 2400);
  const Register ctrl = file.find("CTRL");
  EXPECT_EQ(parse_register_value(ctrl, " 200\t"), 200);
  EXPECT_EQ(parse_register_value(ctrl, "+7"), 7);
  auto refusal = [&](const std::string& text) {
    try {
      parse_register_value(ctrl, text);
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("taken");
  };
  EXPECT_EQ(refusal("99999999999999999999"), "CTRL: 99999999999999999999 is out of range 0..255");
  EXPECT_EQ(refusal("-1"), "CTRL: -1 is out of range 0..255");
  EXPECT_EQ(refusal("12ab"), "CTRL: \"12ab\" is not an integer");
  EXPECT_EQ(refusal(" "), "CTRL: \" \" is not an integer");
  EXPECT_EQ(refusal("1 2"), "CTRL: \"1 2\" is not an integer");
  EXPECT_THROW(file.find("NOPE"), std::out_of_range);
}

TEST(AdcSampler, DeliversReadingsUntilStopped) {
  RegisterFile registers;
  AnalogFrontEnd front_end(registers);
  std::mutex mutex;
  std::vector<AdcReading> readings;
  AdcSampler sampler(
      front_end,
      [&](AdcReading r) {
        std::lock_guard lock(mutex);
        readings.push_back(r);
      },
      nullptr);
  sampler.start(0.01);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return readings.size() >= 5;
  }));
  sampler.stop();
  EXPECT_FALSE(sampler.running());
  std::lock_guard lock(mutex);
  const auto count = readings.size();
  for (std::size_t i = 1; i < count; ++i) EXPECT_GT(readings[i].time, readings[i - 1].time);
  for (const auto& r : readings) {
    EXPECT_EQ(r.run, sampler.run());
    ASSERT_EQ(r.values.size(), 4u);
    EXPECT_NEAR(r.values[0], 1.8, 0.05);
    EXPECT_NEAR(r.values[3], 12.0, 0.5);  // IBIAS 1200 on the board
  }
}

TEST(AdcSampler, AnUnpoweredBoardEndsSamplingWithAnErrorOfItsRun) {
  RegisterFile registers;
  AnalogFrontEnd front_end(registers);
  front_end.powered = false;
  std::mutex mutex;
  std::string error;
  std::uint64_t error_run = 0;
  AdcSampler sampler(
      front_end, [](AdcReading) {},
      [&](const std::string& e, std::uint64_t run) {
        std::lock_guard lock(mutex);
        error = e;
        error_run = run;
      });
  sampler.start(0.01);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return !error.empty();
  }));
  EXPECT_EQ(error, "ADC sampling stopped: the board does not answer");
  EXPECT_EQ(error_run, sampler.run());
  EXPECT_FALSE(sampler.running());
}

TEST(AdcHistory, StaysWithinItsCapacityAndKeepsTheNewest) {
  AdcHistory history(1000);
  history.add_channel("a", 0, "A");
  history.add_channel("b", 1, "B");
  const auto* first_storage = history.channels().at("a").data_t.data();
  for (int i = 0; i < 25000; ++i) history.append(i, {double(i), -double(i)});
  const auto& a = history.channels().at("a");
  EXPECT_LE(a.data_t.size(), 1000u);
  EXPECT_GE(a.data_t.size(), 900u);
  EXPECT_EQ(a.data_t.capacity(), 1000u);
  EXPECT_EQ(a.data_t.data(), first_storage) << "the history was reallocated";
  EXPECT_EQ(a.data_t.back(), 24999);
  EXPECT_EQ(history.channels().at("b").data_y.back(), -24999);
  EXPECT_EQ(a.value, 24999);
  EXPECT_TRUE(std::is_sorted(a.data_t.begin(), a.data_t.end()));
}

TEST(BenchModel, WritesAreCheckedByTheBoardAndTheCopyFollows) {
  BenchModel model;
  auto outcome = model.write_value("VTH_ON", " 2500 ");
  EXPECT_TRUE(outcome.written()) << outcome.refused;
  EXPECT_EQ(outcome.old_value, 2400);
  EXPECT_EQ(model.value_of("VTH_ON"), 2500);
  EXPECT_EQ(model.simulated_device.read_register("VTH_ON"), 2500);
  EXPECT_EQ(model.write_value("VTH_ON", "5000").refused, "VTH_ON: 5000 is out of range 0..4095");
  EXPECT_EQ(model.write_value("NOPE", "1").refused, "NOPE: the board has no such register");
  EXPECT_EQ(model.value_of("VTH_ON"), 2500);
  std::vector<std::string> reverted;
  model.on_signal_refused = [&](const std::string& label) { reverted.push_back(label); };
  EXPECT_THROW(model.write_signal("BIAS_GAIN", 9), RangeError);
  EXPECT_EQ(reverted, std::vector<std::string>{"BIAS_GAIN"});
  model.write_signal("EN_AER", 0);
  EXPECT_FALSE(model.simulated_device.bias_point().aer_enabled);
}

TEST(BenchModel, ReadFailuresAreOneShotAndADisconnectedBoardRefuses) {
  BenchModel model;
  int reads = 0;
  model.on_registers_read = [&] { ++reads; };
  model.simulated_device.fail_next_register_read = true;
  EXPECT_THROW(model.read_dev_registers(), std::runtime_error);
  model.read_dev_registers();
  EXPECT_EQ(reads, 1);
  model.simulated_device.set_connected(false);
  EXPECT_THROW(model.read_dev_registers(), NoBoard);
  EXPECT_THROW(model.read_signals(), NoBoard);
  EXPECT_THROW(model.write_signal("EN_AER", 1), NoBoard);
  EXPECT_EQ(model.write_value("CTRL", "3").refused, "No board is connected: CTRL not written");
  EXPECT_EQ(model.value_of("CTRL"), 1);
}

TEST(SelfTest, EveryStepAsksTheBoardAndAnAbsentOneIsNotRun) {
  SimulatedDevice board;
  auto steps = run_self_test(board);
  ASSERT_EQ(steps.size(), 6u);
  for (const auto& s : steps) EXPECT_EQ(s.result, StepResult::Passed) << s.name << ": " << s.detail;
  EXPECT_EQ(self_test_summary(steps), "Self-test: 6 passed, 0 failed, 0 not run");
  EXPECT_FALSE(board.acquiring()) << "the stream step left the stream running";
  EXPECT_EQ(board.read_register("FIFO_THRESHOLD"), 512);

  board.write_register("EN_AER", 0);  // the chip sends nothing
  steps = run_self_test(board);
  EXPECT_EQ(steps[4].result, StepResult::Failed);
  EXPECT_EQ(self_test_summary(steps),
            "Self-test: 5 passed, 1 failed, 0 not run; event stream failed: no events in 0.25 s "
            "(check EN_AER, RST_N and the mode)");

  board.set_connected(false);
  steps = run_self_test(board);
  EXPECT_EQ(steps[0].result, StepResult::Failed);
  for (std::size_t i = 1; i < steps.size(); ++i) EXPECT_EQ(steps[i].result, StepResult::NotRun);
  EXPECT_EQ(self_test_summary(steps),
            "Self-test: 0 passed, 1 failed, 5 not run; connection failed: no board is connected; "
            "not run: no board is connected");
}

// ---- the AER-320: another sensor on the same simulated board --------------------

// Every event of a stream, checked against one sensor's size.
struct WithinCheck : EventListener {
  explicit WithinCheck(SensorGeometry g) : geometry(g) {}
  void on_events(const Event* e, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i) {
      outside += !geometry.contains(e[i].x, e[i].y);
      max_x = std::max<int>(max_x, e[i].x);
      max_y = std::max<int>(max_y, e[i].y);
    }
    heard += n;
  }
  SensorGeometry geometry;
  std::atomic<std::uint64_t> heard{0}, outside{0};
  std::atomic<int> max_x{-1}, max_y{-1};
};

TEST(Aer320, ItsRegistersIdentityAndAdcChannelsAreItsOwn) {
  SimulatedDevice board(SimulatedSensor::Aer320);
  const BoardDeclaration& declared = board.declaration();
  EXPECT_EQ(declared.sensor_name, "AER-320");
  EXPECT_EQ(declared.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(board.read_identity().product_name, "AER-320 sensor board (simulated)");
  EXPECT_EQ(board.design(), "aer320_stream (flash)");
  // Its banks, in its order, at their defaults, with their units.
  auto names = [](const std::vector<Register>& bank) {
    std::vector<std::string> out;
    for (const auto& r : bank) out.push_back(r.name + "=" + std::to_string(r.value) + r.unit);
    return out;
  };
  EXPECT_EQ(names(board.read_bank(Bank::Device)),
            (std::vector<std::string>{"CTRL=1", "FIFO_THRESHOLD=256events", "ROI_X0=0px",
                                      "ROI_Y0=0px", "CHIP_ID=12810"}));
  EXPECT_EQ(names(board.read_bank(Bank::Dac)),
            (std::vector<std::string>{"PR_BIAS=600mV", "THR_ON=700mV", "THR_OFF=300mV",
                                      "REFRACTORY=100\u00b5s"}));
  EXPECT_EQ(names(board.read_bank(Bank::Chip)), (std::vector<std::string>{"EN_AER=1", "RST_N=1"}));
  EXPECT_THROW(board.read_register("VTH_ON"), std::out_of_range);
  // The chip id cannot be written; the other registers can, within their ranges.
  try {
    board.write_register("CHIP_ID", 1);
    ADD_FAILURE() << "a read-only register was written";
  } catch (const Refused& e) {
    EXPECT_STREQ(e.what(), "CHIP_ID is read-only: nothing was written");
  }
  EXPECT_EQ(board.read_register("CHIP_ID"), 0x320A);
  EXPECT_THROW(board.write_register("THR_ON", 1024), RangeError);
  // Its biases come from its own DACs: the defaults make the AER-640's
  // scene, and a threshold nearer the reference makes more events.
  EXPECT_DOUBLE_EQ(board.settings().total_rate(),
                   sensor_settings(BiasPoint{}, SensorMode::EventStream).total_rate());
  board.write_register("THR_ON", 600);
  EXPECT_GT(board.settings().total_rate(),
            sensor_settings(BiasPoint{}, SensorMode::EventStream).total_rate() * 1.5);
  board.write_register("EN_AER", 0);
  EXPECT_EQ(board.settings().total_rate(), 0);
  // Two ADC channels, in its order: VDD at its 1.2 V and the die's temperature.
  const std::vector<double> reading = board.read_adc(1.0);
  ASSERT_EQ(reading.size(), 2u);
  EXPECT_NEAR(reading[0], 1.2, 0.02);
  EXPECT_NEAR(reading[1], 31.1, 0.5);
  EXPECT_EQ(declared.adc_labels(), (std::vector<std::string>{"VDD (V)", "Temperature (\u00b0C)"}));
  // The model the windows show reads its banks.
  BenchModel model(nullptr, SimulatedSensor::Aer320);
  EXPECT_EQ(model.dacs.at(0).name, "PR_BIAS");
  EXPECT_EQ(model.write_value("CHIP_ID", "5").refused, "CHIP_ID is read-only: nothing was written");
  // The AER-640 keeps its four channels.
  EXPECT_EQ(SimulatedDevice().read_adc(1.0).size(), 4u);
}

TEST(Aer320, ItsEventsLieWithinItsArrayAndCoverIt) {
  const SensorGeometry small{320, 240};
  // The sensor alone, in every mode it can be put in: the scene and noise
  // alike stay on its 320 x 240 pixels, and the noise reaches every edge.
  for (auto mode : {SensorMode::EventStream, SensorMode::TestPattern}) {
    EventSensor sensor(small);
    WithinCheck check(small);
    std::vector<Event> events;
    for (int slice = 0; slice < 500; ++slice) {
      events.clear();
      sensor.generate(slice * 0.02, 4000, sensor_settings(busy_bias(), mode), slice * 2000,
                      slice * 2000 + 2000, events);
      check.on_events(events.data(), events.size());
    }
    EXPECT_EQ(check.heard, 2000000u);
    EXPECT_EQ(check.outside, 0u) << "mode " << static_cast<int>(mode);
    if (mode == SensorMode::EventStream) {
      EXPECT_EQ(check.max_x, 319);
      EXPECT_EQ(check.max_y, 239);
    }
  }
  EXPECT_THROW(EventSensor(SensorGeometry{16, 240}), std::invalid_argument);
  // The board's own stream, and the frame its hub gathers, are of its size.
  SimulatedDevice board(SimulatedSensor::Aer320);
  WithinCheck streamed(small);
  Subscription subscription(board.events(), streamed);
  DisplayFeed display(board.events());
  FrameWatch watch(display);
  board.start_acquisition();
  ASSERT_TRUE(eventually([&] { return streamed.heard > 20000; }));
  board.stop_acquisition();
  display.settle();
  EXPECT_EQ(streamed.outside, 0u);
  EventFrame frame;  // the AER-640's size until it takes the board's
  display.take_frame(frame);
  EXPECT_EQ(frame.geometry, small);
  ASSERT_EQ(frame.counts.size(), 320u * 240u);
  EXPECT_GT(frame.t_first, -1);
  frame.clear();
  const Event beyond[] = {{1, 320, 0, 1}, {2, 0, 240, 1}, {3, 319, 239, 1}};
  frame.accumulate(beyond, 3);  // only the last is on the array
  EXPECT_EQ(frame.counts.back(), 1);
  EXPECT_EQ(std::count(frame.counts.begin(), frame.counts.end(), 0), 320 * 240 - 1);
  EXPECT_EQ(frame.t_first, 3);
  display.take_frame(frame);
  EXPECT_EQ(frame.geometry, small) << "the display's next frame lost the board's size";
}

TEST(Aer320, AModeResetOrSerialPortItLacksIsRefusedAndNothingIsSent) {
  SimulatedDevice board(SimulatedSensor::Aer320);
  std::vector<std::string> before;
  board.resets.before_reset = [&](const std::string& name) { before.push_back(name); };
  auto refusal = [](auto action) {
    try {
      action();
    } catch (const Refused& e) {
      return std::string(e.what());
    }
    return std::string("done");
  };
  EXPECT_EQ(refusal([&] { board.set_mode(SensorMode::TestPattern); }),
            "The board has no test pattern mode: nothing was sent");
  EXPECT_EQ(board.mode(), SensorMode::EventStream);
  EXPECT_EQ(refusal([&] { board.actions->reset_ram(); }),
            "The board has no RAM reset: nothing was sent");
  EXPECT_TRUE(board.resets.issued.empty());
  EXPECT_TRUE(before.empty()) << "the host was told of a reset that was not sent";
  EXPECT_EQ(refusal([&] { board.serial_transact("ID?", [](auto&&...) {}); }),
            "The board has no serial port: nothing was sent");
  // What it has is done.
  EXPECT_EQ(refusal([&] { board.set_mode(SensorMode::Standby); }), "done");
  EXPECT_EQ(board.mode(), SensorMode::Standby);
  EXPECT_EQ(refusal([&] { board.actions->reset_fifo(); }), "done");
  EXPECT_EQ(board.resets.issued, std::vector<std::string>{"reset_fifo"});
  // The AER-640 has all three.
  SimulatedDevice aer640;
  EXPECT_EQ(refusal([&] { aer640.set_mode(SensorMode::TestPattern); }), "done");
  EXPECT_EQ(refusal([&] { aer640.actions->reset_ram(); }), "done");
  EXPECT_EQ(aer640.serial_transact("VER?"), "1.4.2");
}

TEST(Folders, ResolvedOnceAndAFileInTheWayIsToldInOneSentence) {
  namespace fs = std::filesystem;
  fs::remove_all("start");
  fs::create_directories("start");
  const auto folders = BenchFolders::under("start");
  EXPECT_TRUE(folders.captures.is_absolute());
  EXPECT_EQ(folders.captures, fs::absolute("start/captures"));
  EXPECT_EQ(folders.results, fs::absolute("start/results.db"));
  prepare_folders(folders);
  EXPECT_TRUE(fs::is_directory(folders.tmp));
  EXPECT_TRUE(fs::is_directory(folders.logs));
  for (const char* name : {"tmp", "logs"}) {
    fs::remove_all("start/" + std::string(name));
    std::ofstream("start/" + std::string(name)) << "in the way";
    try {
      prepare_folders(folders);
      ADD_FAILURE() << name << " as a file was taken";
    } catch (const StartupError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("Cannot start: " + (fs::absolute("start") / name).string() +
                               " is a file, but the bench keeps ",
                           0),
                0u)
          << what;
      EXPECT_NE(what.find("move the file away or start the bench in another folder."),
                std::string::npos);
    }
    fs::remove("start/" + std::string(name));
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench
