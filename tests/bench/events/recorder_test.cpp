// Recording the board's stream, playing a recording back through the hub,
// and the export read back by Python.
#include "bench/events/recorder.h"

#include <gtest/gtest.h>
#include <hdf5.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "bench/board/errors.h"
#include "bench/board/simulated_board.h"
#include "bench/events/evt2.h"
#include "bench/events/hdf5_export.h"
#include "bench/events/playback.h"
#include "bench/events/recording_file.h"
#include "tests/bench/events/event_keeper.h"
#include "tests/support/eventually.h"
#include "tests/support/large_allocations.h"

namespace Zelvar_Core::bench {
namespace {

using namespace std::chrono_literals;

using testing_support::eventually;

using Keeper = testing_support::EventKeeper;
using testing_support::read_all;
using testing_support::same_events;

TEST(Recorder, WritesEveryEventOfTheLiveStreamInOrder) {
  SimulatedDevice board;
  Keeper heard;
  Recorder recorder;
  Subscription hear(board.events(), heard);
  recorder.start("live.raw",
                 evt2::header_text("2026-12-08 12:00:00", {{"design", board.design()}}));
  {
    Subscription record(board.events(), recorder);
    board.start_acquisition();
    ASSERT_TRUE(eventually([&] { return heard.size() > 200000; }));
    board.stop_acquisition();
  }
  const RecordingStats stats = recorder.stop();
  EXPECT_EQ(stats.error, "");
  EXPECT_EQ(stats.dropped, 0u);
  EXPECT_EQ(stats.events, heard.size());
  EXPECT_EQ(stats.bytes, std::filesystem::file_size("live.raw"));
  EXPECT_TRUE(same_events(read_all("live.raw"), heard.events));
}

TEST(Recorder, WhatTheQueueCannotHoldIsDroppedAndCounted) {
  Recorder recorder(1000);  // a queue of a thousand events
  recorder.start("small.raw", evt2::header_text("2026-12-08 12:00:00", {}));
  recorder.hold_writer(true);  // as a disk that is behind: nothing leaves the queue
  auto offer = [&](std::size_t count, std::int64_t t) {
    const std::vector<Event> burst(count, Event{t, 1, 1, 1});
    recorder.on_events(burst.data(), burst.size());
  };
  offer(600, 10);  // queued
  offer(600, 20);  // 1200 would not fit: dropped whole
  offer(400, 30);  // exactly fills the queue
  offer(1, 40);    // one too many
  EXPECT_EQ(recorder.progress().dropped, 601u);
  recorder.hold_writer(false);
  const RecordingStats stats = recorder.stop();
  EXPECT_EQ(stats.error, "");
  EXPECT_EQ(stats.events, 1000u);
  EXPECT_EQ(stats.dropped, 601u);
  const auto back = read_all("small.raw");
  ASSERT_EQ(back.size(), 1000u);
  EXPECT_EQ(back.front().t, 10);
  EXPECT_EQ(back.back().t, 30);
}

// A disk that falls behind twice: the second time the queue fills, the
// stream's thread copies into the room the writer handed back, taking no
// fresh memory (fresh batches fault their pages in on the board's thread,
// at the busy rate a larger cost than making the events), and the file
// holds every event of both.
TEST(Recorder, AQueueFilledAgainTakesTheStreamNoFreshMemory) {
  constexpr std::size_t kBatch = 1000, kQueued = 100;
  Recorder recorder(kBatch * kQueued);
  recorder.start("twice.raw", evt2::header_text("2026-12-08 12:00:00", {}));
  std::vector<Event> events;
  for (std::size_t i = 0; i < 2 * kBatch * kQueued; ++i)
    events.push_back({static_cast<std::int64_t>(i / 7), static_cast<std::uint16_t>(i % 640),
                      static_cast<std::uint16_t>(i % 480), static_cast<std::uint8_t>(i % 3 == 0)});
  std::vector<std::size_t> fresh;
  for (std::size_t pass = 0; pass < 2; ++pass) {
    recorder.hold_writer(true);
    {
      testing_support::LargeAllocations batches(kBatch * sizeof(Event));
      for (std::size_t i = 0; i < kQueued; ++i)
        recorder.on_events(events.data() + (pass * kQueued + i) * kBatch, kBatch);
      fresh.push_back(batches.count());
    }
    recorder.hold_writer(false);
    ASSERT_TRUE(
        eventually([&] { return recorder.progress().events == (pass + 1) * kBatch * kQueued; }));
  }
  EXPECT_EQ(fresh[1], 0u) << "fresh batches the second time: " << fresh[1];
  const RecordingStats stats = recorder.stop();
  EXPECT_EQ(stats.error, "");
  EXPECT_EQ(stats.dropped, 0u);
  EXPECT_TRUE(same_events(read_all("twice.raw"), events));
}

// Runs `work` in a child process whose files may not grow past `limit`
// bytes (a disk that fills up there); its exit status, or -1 on a signal.
template <typename Work>
int with_file_size_limit(rlim_t limit, Work work) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit small{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::_exit(work());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Recorder, ADiskThatFillsUpLeavesTheHeaderAndWholeWords) {
  // 21 bytes: the words start off the file's 4-byte grid.
  const std::string header = "% evt 2.0\n% ab\n% end\n";
  std::vector<Event> events;
  for (int i = 0; i < 1000; ++i)
    events.push_back({i * 100, static_cast<std::uint16_t>(i % 640), 5, 1});
  const int status = with_file_size_limit(1000, [&] {
    Recorder recorder;
    recorder.start("filled.raw", header);
    recorder.on_events(events.data(), events.size());
    const RecordingStats stats = recorder.stop();
    return stats.error == "File too large" && stats.bytes == 997 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "the recording did not stop with the reason and 997 bytes";
  ASSERT_EQ(std::filesystem::file_size("filled.raw"), header.size() + 4 * 244);
  const RecordingInfo info = RecordingReader::scan("filled.raw");
  EXPECT_EQ(info.partial_bytes, 0u);
  const auto back = read_all("filled.raw");
  ASSERT_FALSE(back.empty());
  EXPECT_TRUE(same_events(back, std::vector<Event>(events.begin(), events.begin() + back.size())));
}

TEST(Recorder, AFullDiskOrAnUnwritableFolderStopsItWithTheReason) {
  try {
    Recorder().start("no_such_folder/x.raw", "% end\n");
    ADD_FAILURE() << "recorded into a missing folder";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot record to no_such_folder/x.raw: No such file or directory");
  }
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  Recorder recorder;
  try {
    recorder.start("/dev/full", "% end\n");
    ADD_FAILURE() << "the header went to a full disk";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot record to /dev/full: the disk is full");
  }
}

// A recording of `events` written for the playback and export tests.
std::string write_recording(const std::string& path, const std::vector<Event>& events,
                            const Settings& settings = {{"design", "aer640_test"},
                                                        {"VTH_ON", "2400"}}) {
  std::vector<std::uint32_t> words;
  evt2::Encoder().encode(events.data(), events.size(), words);
  std::ofstream out(path, std::ios::binary);
  out << evt2::header_text("2026-12-08 12:00:00", settings);
  out.write(reinterpret_cast<const char*>(words.data()),
            static_cast<std::streamsize>(words.size() * 4));
  return path;
}

std::vector<Event> scene(std::size_t count, std::int64_t spacing_us) {
  std::vector<Event> events;
  for (std::size_t i = 0; i < count; ++i)
    events.push_back(
        {static_cast<std::int64_t>(i) * spacing_us + 1000, static_cast<std::uint16_t>(i * 7 % 700),
         static_cast<std::uint16_t>(i * 3 % 480), static_cast<std::uint8_t>(i % 3 == 0)});
  return events;
}

// A header of very long or very many settings is read to its end, however
// far: none of its lines is taken for events. One that goes on past the
// longest a recording may hold is refused in a sentence, and a recorder
// never writes one.
TEST(Playback, AHeaderOfAnyLengthIsReadToItsEnd) {
  const auto events = scene(5000, 2);
  Settings many;
  for (int i = 0; i < 60000; ++i) many.emplace_back("REG_" + std::to_string(i), "1");
  const std::string long_name(100000, 'n');
  for (const Settings& settings : {Settings{{long_name, "7"}}, many}) {
    write_recording("long_header.raw", events, settings);
    const RecordingInfo info = RecordingReader::scan("long_header.raw");
    EXPECT_EQ(info.events, events.size()) << settings.size();
    EXPECT_EQ(info.header.value(settings.back().first), settings.back().second);
    EXPECT_EQ(info.first_t, events.front().t);
    EXPECT_EQ(info.last_t, events.back().t);
  }
  {
    std::ofstream out("endless_header.raw", std::ios::binary);
    const std::string line = "% key " + std::string(1000, 'v') + "\n";
    out << "% evt 2.0\n";
    for (std::size_t written = 0; written <= kLongestHeader; written += line.size()) out << line;
  }
  try {
    RecordingReader::scan("endless_header.raw");
    ADD_FAILURE() << "a header past the longest was read";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("endless_header.raw: its header goes on past"),
              std::string::npos)
        << e.what();
  }
  std::filesystem::remove("endless_header.raw");
  Recorder recorder;
  std::filesystem::remove_all("huge_header");
  try {
    start_recording(recorder, "huge_header", Settings{{"note", std::string(kLongestHeader, 'x')}});
    ADD_FAILURE() << "a header past the longest was written";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(
        std::string(e.what()).rfind("Not recorded: the board's settings make a header of ", 0), 0u)
        << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_empty("huge_header"));
}

TEST(Playback, PublishesTheRecordingThroughTheHubLeavingOutWhatIsOffTheSensor) {
  const auto events = scene(300000, 2);
  write_recording("play.raw", events);
  EventHub hub;
  Keeper heard;
  Subscription hear(hub, heard);
  DisplayFeed display(hub);
  FrameWatch shown(display);  // as the live image does
  Playback playback(hub);
  const RecordingInfo& info = playback.open("play.raw");
  EXPECT_EQ(info.events, events.size());
  EXPECT_EQ(info.header.value("design"), "aer640_test");
  EXPECT_NEAR(info.duration_seconds(), 0.599998, 1e-6);
  std::vector<Event> expected;
  for (const auto& e : events)
    if (on_sensor(e)) expected.push_back(e);
  std::atomic<bool> ended{false};  // set on the playback thread
  playback.on_end = [&] { ended = true; };
  playback.set_speed(Playback::kAsFastAsPossible);
  playback.play();
  ASSERT_TRUE(eventually([&] { return ended.load(); }));
  EXPECT_FALSE(playback.playing());
  EXPECT_TRUE(same_events(heard.events, expected));
  EXPECT_EQ(playback.outside(), events.size() - expected.size());
  EventFrame frame;
  display.settle();
  display.take_frame(frame);
  EventFrame direct;
  direct.accumulate(expected.data(), expected.size());
  EXPECT_EQ(frame.counts, direct.counts);
}

// A wall clock that stands still until the test moves it. A playback
// waiting on it wakes when the time it waits for is reached, or when it is
// told something (play, pause, seek, speed), as with the steady clock.
class ManualClock : public PlaybackClock {
 public:
  TimePoint now() override { return TimePoint{} + std::chrono::microseconds(now_us_.load()); }
  void wait_until(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                  TimePoint until) override {
    {
      std::lock_guard guard(mutex_);
      playback_mutex_ = lock.mutex();
      wake_ = &wake;
    }
    if (now() >= until) return;
    ++waits_;  // only a real wait counts: nothing more was due at this time
    wake.wait(lock);
  }
  // Moves the time on; returns the count of waits before the move, so that
  // a count above it tells the playback has done what fell due.
  std::uint64_t advance(std::chrono::microseconds by) {
    std::mutex* playback_mutex;
    std::condition_variable* wake;
    {
      std::lock_guard guard(mutex_);
      playback_mutex = playback_mutex_;
      wake = wake_;
    }
    if (playback_mutex == nullptr) {
      now_us_ += by.count();
      return waits_;
    }
    std::uint64_t before;
    {
      std::lock_guard playback(*playback_mutex);  // never between its look at the time and its wait
      now_us_ += by.count();
      before = waits_;
    }
    wake->notify_all();
    return before;
  }
  std::uint64_t waits() const { return waits_; }

 private:
  std::atomic<std::int64_t> now_us_{1'000'000};
  std::atomic<std::uint64_t> waits_{0};
  std::mutex mutex_;
  std::mutex* playback_mutex_ = nullptr;
  std::condition_variable* wake_ = nullptr;
};

// Events of `events` at or after `from`, up to and including `to`, on the sensor.
std::size_t on_sensor_between(const std::vector<Event>& events, std::int64_t from,
                              std::int64_t to) {
  return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](const Event& e) {
    return e.t >= from && e.t <= to && on_sensor(e);
  }));
}

TEST(Playback, KeepsTheRecordedPaceAndSeeks) {
  const auto events = scene(20000, 100);  // 2 s of events, from t = 1000 us
  write_recording("paced.raw", events);
  EventHub hub;
  Keeper heard;
  Subscription hear(hub, heard);
  ManualClock clock;
  Playback playback(hub, clock);
  playback.open("paced.raw");
  playback.set_speed(1.0);
  playback.play();
  // Each step: the clock moves, and the playback publishes what is due and
  // waits again for the clock.
  auto step = [&](std::chrono::microseconds by) {
    const auto waits = clock.advance(by);
    return eventually([&] { return clock.waits() > waits; });
  };
  ASSERT_TRUE(eventually([&] { return clock.waits() > 0; }));
  EXPECT_EQ(heard.size(), 1u) << "only the first event is due at once";
  ASSERT_TRUE(step(std::chrono::milliseconds(300)));
  EXPECT_DOUBLE_EQ(playback.position(), 0.3);
  EXPECT_EQ(heard.size(), on_sensor_between(events, 1000, 301000));
  playback.pause();
  clock.advance(std::chrono::seconds(5));  // paused: nothing is due
  playback.seek(1.5);
  ASSERT_TRUE(eventually([&] { return std::abs(playback.position() - 1.5) < 1e-9; }))
      << playback.position();
  EXPECT_EQ(heard.size(), on_sensor_between(events, 1000, 301000));
  const std::size_t before = heard.size();
  playback.set_speed(4.0);
  playback.play();
  ASSERT_TRUE(step(std::chrono::milliseconds(100)));  // 0.4 s of the recording
  EXPECT_DOUBLE_EQ(playback.position(), 1.9);
  EXPECT_TRUE(playback.playing());
  clock.advance(std::chrono::milliseconds(25));  // the last 0.1 s
  ASSERT_TRUE(eventually([&] { return !playback.playing(); }));
  EXPECT_EQ(heard.size() - before, on_sensor_between(events, 1501000, 2001000));
  EXPECT_DOUBLE_EQ(playback.position(), 1.9999);

  // Play at the end starts again from the beginning.
  playback.set_speed(Playback::kAsFastAsPossible);
  playback.play();
  ASSERT_TRUE(eventually([&] { return !playback.playing(); }));
  EXPECT_EQ(heard.size() - before,
            on_sensor_between(events, 1501000, 2001000) + on_sensor_between(events, 0, 2001000));
}

TEST(Playback, AFileCutShortWhilePlayingStopsThePlaybackWithTheReason) {
  write_recording("cut_while_playing.raw", scene(100000, 2));
  EventHub hub;
  Playback playback(hub);
  std::atomic<bool> ended{false};
  playback.on_end = [&] { ended = true; };
  playback.open("cut_while_playing.raw");
  std::filesystem::resize_file("cut_while_playing.raw", 1000);
  playback.set_speed(Playback::kAsFastAsPossible);
  playback.play();
  ASSERT_TRUE(eventually([&] { return ended.load(); }));
  EXPECT_FALSE(playback.playing());
  EXPECT_EQ(playback.failure(),
            "Cannot read the recording cut_while_playing.raw: it became shorter while it was read");
  playback.play();  // nothing more to play from this file
  EXPECT_FALSE(playback.playing());
}

TEST(Playback, ALoopOfNoDurationReplaysOncePerShortestPassInsteadOfSpinning) {
  for (const std::size_t count : {0, 1})
    for (const double speed : {1.0, Playback::kAsFastAsPossible}) {
      SCOPED_TRACE(std::to_string(count) + " events at speed " + std::to_string(speed));
      write_recording("instant.raw", std::vector<Event>(count, Event{5000, 10, 20, 1}));
      EventHub hub;
      Keeper heard;
      Subscription hear(hub, heard);
      ManualClock clock;
      Playback playback(hub, clock);
      EXPECT_EQ(playback.open("instant.raw").duration_seconds(), 0.0);
      playback.set_loop(true);
      playback.set_speed(speed);
      playback.play();
      ASSERT_TRUE(eventually([&] { return clock.waits() > 0; })) << "no wait after a pass";
      for (std::size_t pass = 1; pass <= 5; ++pass) {
        EXPECT_EQ(heard.size(), pass * count);
        const auto waits = clock.advance(Playback::kShortestLoopPass);
        ASSERT_TRUE(eventually([&] { return clock.waits() > waits; }));
      }
      EXPECT_EQ(heard.size(), 6 * count);
      EXPECT_TRUE(playback.playing());
    }
}

TEST(Hdf5Export, PythonReadsBackEveryArray) {
  const auto events = scene(70000, 3);
  write_recording("export.raw", events);
  std::filesystem::remove("export.h5");
  const ExportStats stats = export_hdf5("export.raw", "export.h5", false);
  EXPECT_EQ(stats.events, events.size());
  // Events beyond the sensor (x up to 699) are exported too: Python sees them all.
  const auto outside =
      std::count_if(events.begin(), events.end(), [](const Event& e) { return !on_sensor(e); });
  EXPECT_EQ(stats.notes, std::vector<std::string>{count_text(outside) +
                                                  " events outside the sensor's 640 x 480, "
                                                  "kept in the export"});
  // What was recorded, for Python to compare with.
  {
    std::ofstream expected("expected.txt");
    for (const auto& e : events)
      expected << e.x << ' ' << e.y << ' ' << int(e.p) << ' ' << e.t << '\n';
  }
  if (std::system("/usr/bin/python3 -c 'import h5py, numpy' 2>/dev/null") != 0)
    GTEST_SKIP() << "Debian's python3-h5py is not installed (scripts/deps.sh installs it)";
  std::ofstream("check.py") << R"(import h5py, numpy, sys
expected = numpy.loadtxt("expected.txt", dtype=numpy.int64)
with h5py.File("export.h5", "r") as f:
    g = f["events"]
    assert g["x"].dtype == numpy.uint16 and g["y"].dtype == numpy.uint16
    assert g["p"].dtype == numpy.uint8 and g["t"].dtype == numpy.int64
    assert g["t"].scaleoffset == 0 and g["t"].chunks is not None  # lossless, packed
    for i, name in enumerate("xypt"):
        assert (g[name][:] == expected[:, i]).all(), name
    assert g.attrs["design"] == "aer640_test", g.attrs["design"]
    assert g.attrs["evt"] == "2.0"
    # Each array says what it holds, in a unit a reader can take as it is.
    units = {name: g[name].attrs["units"] for name in "xypt"}
    assert units == {"x": "pixels", "y": "pixels", "p": "none", "t": "\u00b5s"}, units
    assert "1 = ON" in g["p"].attrs["description"], g["p"].attrs["description"]
    for name in "xypt":
        assert len(g[name].attrs["description"]) > 10, name
print("ok", len(expected))
)";
  EXPECT_EQ(std::system("/usr/bin/python3 check.py > check.out 2>&1"), 0);
  std::ifstream out("check.out");
  const std::string said((std::istreambuf_iterator<char>(out)), {});
  EXPECT_EQ(said, "ok 70000\n");
}

// A number attribute of the export's "events" group, read through the library.
std::uint32_t events_attribute(const std::string& path, const char* name) {
  std::uint32_t value = 0;
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  const hid_t group = H5Gopen2(file, "events", H5P_DEFAULT);
  const hid_t attribute = H5Aopen(group, name, H5P_DEFAULT);
  EXPECT_GE(attribute, 0) << "no attribute " << name;
  if (attribute >= 0) {
    EXPECT_GE(H5Aread(attribute, H5T_NATIVE_UINT32, &value), 0);
    H5Aclose(attribute);
  }
  H5Gclose(group);
  H5Fclose(file);
  return value;
}

// A recording from a 320 x 240 board says so in its header; it plays back
// and exports as 320 x 240: events beyond that are counted and left out of
// the image (never beyond the AER-640's 640 x 480 only), the export keeps
// them and gives the geometry as numbers, which h5py reads. A recording
// whose header gives no geometry is the AER-640's.
TEST(Hdf5Export, ARecordingFromA320By240BoardPlaysAndExportsAsThatSensor) {
  const auto events = scene(20000, 3);  // x up to 699, y up to 479
  std::vector<Event> inside;
  for (const auto& e : events)
    if (e.x < 320 && e.y < 240) inside.push_back(e);
  const auto outside = events.size() - inside.size();
  ASSERT_GT(inside.size(), 0u);
  ASSERT_GT(outside, 0u);
  std::filesystem::remove_all("small");
  Recorder recorder;
  const std::string path =
      start_recording(recorder, "small", {{"design", "aer320_test"}}, SensorGeometry{320, 240});
  recorder.on_events(events.data(), events.size());
  ASSERT_EQ(recorder.stop().error, "");

  const RecordingInfo info = RecordingReader::scan(path);
  EXPECT_EQ(info.header.width, 320);
  EXPECT_EQ(info.header.height, 240);
  EXPECT_EQ(info.header.value("geometry"), "320x240");
  EXPECT_EQ(info.outside, outside);
  EXPECT_EQ(info.warnings(), std::vector<std::string>{count_text(outside) +
                                                      " events outside the sensor's 320 x 240, "
                                                      "left out of the image"});

  EventHub hub;
  hub.set_geometry({320, 240});  // as the bench does for the recording it plays
  Keeper heard;
  Subscription hear(hub, heard);
  DisplayFeed display(hub);
  FrameWatch shown(display);
  Playback playback(hub);
  playback.open(path);
  std::atomic<bool> ended{false};
  playback.on_end = [&] { ended = true; };
  playback.set_speed(Playback::kAsFastAsPossible);
  playback.play();
  ASSERT_TRUE(eventually([&] { return ended.load(); }));
  EXPECT_TRUE(same_events(heard.events, inside));
  EXPECT_EQ(playback.outside(), outside);
  display.settle();
  EventFrame frame;
  display.take_frame(frame);
  EXPECT_EQ(frame.geometry, (SensorGeometry{320, 240}));
  EventFrame direct(SensorGeometry{320, 240});
  direct.accumulate(inside.data(), inside.size());
  EXPECT_EQ(frame.counts, direct.counts);

  std::filesystem::remove("small.h5");
  const ExportStats stats = export_hdf5(path, "small.h5", false);
  EXPECT_EQ(stats.events, events.size());
  EXPECT_EQ(stats.notes, std::vector<std::string>{count_text(outside) +
                                                  " events outside the sensor's 320 x 240, "
                                                  "kept in the export"});
  EXPECT_EQ(events_attribute("small.h5", "width"), 320u);
  EXPECT_EQ(events_attribute("small.h5", "height"), 240u);

  // An old recording: no format or geometry line in its header.
  {
    std::vector<std::uint32_t> words;
    evt2::Encoder().encode(events.data(), events.size(), words);
    std::ofstream out("old.raw", std::ios::binary);
    out << "% evt 2.0\n% date 2026-01-02 03:04:05\n% end\n";
    out.write(reinterpret_cast<const char*>(words.data()),
              static_cast<std::streamsize>(words.size() * 4));
  }
  std::filesystem::remove("old.h5");
  export_hdf5("old.raw", "old.h5", false);
  EXPECT_EQ(events_attribute("old.h5", "width"), 640u);
  EXPECT_EQ(events_attribute("old.h5", "height"), 480u);

  if (std::system("/usr/bin/python3 -c 'import h5py' 2>/dev/null") != 0)
    GTEST_SKIP() << "Debian's python3-h5py is not installed (scripts/deps.sh installs it)";
  std::ofstream("geometry.py") << R"(import h5py
for name in ("small.h5", "old.h5"):
    with h5py.File(name, "r") as f:
        a = f["events"].attrs
        print(name, int(a["width"]), int(a["height"]), a["width"].dtype)
)";
  EXPECT_EQ(std::system("/usr/bin/python3 geometry.py > geometry.out 2>&1"), 0);
  std::ifstream out("geometry.out");
  const std::string said((std::istreambuf_iterator<char>(out)), {});
  EXPECT_EQ(said, "small.h5 320 240 uint32\nold.h5 640 480 uint32\n");
}

// One array of an exported file, read through the library.
template <typename T>
std::vector<T> read_array(hid_t group, const char* name, hid_t type) {
  const hid_t dataset = H5Dopen2(group, name, H5P_DEFAULT);
  const hid_t space = H5Dget_space(dataset);
  std::vector<T> values(static_cast<std::size_t>(H5Sget_simple_extent_npoints(space)));
  EXPECT_GE(H5Dread(dataset, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
  H5Sclose(space);
  H5Dclose(dataset);
  return values;
}

TEST(Hdf5Export, OnePassGivesEveryEventAndEveryNoteAScanWould) {
  // Events before any time word, undefined and other words, a step back, a
  // time that wraps, events off the sensor, several chunks and a short last
  // one, and a word cut short at the end.
  auto events = scene(100000, 3);
  events[70000].t = events[69999].t - 640;  // a step back
  for (std::size_t i = 90000; i < events.size(); ++i) events[i].t += evt2::kTimeWrap - 100000;
  std::vector<std::uint32_t> words = {evt2::cd_word({5, 1, 2, 1}), evt2::cd_word({9, 3, 4, 0})};
  evt2::Encoder().encode(events.data(), events.size(), words);
  words.insert(words.begin() + 500, {0x30000000, 0xE0000001, 0xA0000002});
  {
    std::ofstream out("odd.raw", std::ios::binary);
    out << evt2::header_text("2026-12-08 12:00:00", {{"design", "aer640_test"}});
    out.write(reinterpret_cast<const char*>(words.data()),
              static_cast<std::streamsize>(words.size() * 4));
    out.write("\x01\x02", 2);
  }
  std::filesystem::remove("odd.h5");
  const ExportStats stats = export_hdf5("odd.raw", "odd.h5", false);
  const RecordingInfo scanned = RecordingReader::scan("odd.raw");
  EXPECT_EQ(stats.notes, scanned.warnings(RecordingInfo::Purpose::Export));
  EXPECT_EQ(stats.notes.size(), 5u);  // cut short, skipped, before time, back, outside
  const auto expected = read_all("odd.raw");
  ASSERT_EQ(stats.events, expected.size());
  const hid_t file = H5Fopen("odd.h5", H5F_ACC_RDONLY, H5P_DEFAULT);
  ASSERT_GE(file, 0);
  const hid_t group = H5Gopen2(file, "events", H5P_DEFAULT);
  const auto x = read_array<std::uint16_t>(group, "x", H5T_NATIVE_UINT16);
  const auto y = read_array<std::uint16_t>(group, "y", H5T_NATIVE_UINT16);
  const auto p = read_array<std::uint8_t>(group, "p", H5T_NATIVE_UINT8);
  const auto t = read_array<std::int64_t>(group, "t", H5T_NATIVE_INT64);
  H5Gclose(group);
  H5Fclose(file);
  ASSERT_EQ(t.size(), expected.size());
  ASSERT_EQ(x.size(), expected.size());
  ASSERT_EQ(y.size(), expected.size());
  ASSERT_EQ(p.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_TRUE(testing_support::same_event({t[i], x[i], y[i], p[i]}, expected[i])) << i;
}

// The export decodes its chunks apart, each from the time the words before
// it left: a chunk that starts with a time word, one that starts with
// events timed by the last word of the chunk before, a wrap and a step back
// across a boundary, other words at one, a chunk with a long stretch of
// words that are not events, and events before any time word at the start
// of the file (or a time word first) give the times one pass over the whole
// file gives.
TEST(Hdf5Export, ChunksDecodedApartKeepTheTimeAcrossEveryBoundary) {
  constexpr std::size_t kChunk = 32768;  // events in each chunk of the export's arrays
  for (const bool time_first : {false, true}) {
    SCOPED_TRACE(time_first ? "a time word first" : "events before any time word");
    std::vector<std::uint32_t> words;
    std::size_t events = 0;
    auto events_until = [&](std::size_t count) {
      for (; events < count; ++events)
        words.push_back(evt2::cd_word(
            {static_cast<std::int64_t>(events % 64), static_cast<std::uint16_t>(events % 640),
             static_cast<std::uint16_t>(events % 480), static_cast<std::uint8_t>(events % 2)}));
    };
    auto time_word = [&](std::uint32_t high) { words.push_back(evt2::kTimeHigh << 28 | high); };
    if (time_first) time_word(1);
    events_until(100);
    time_word(2);
    events_until(kChunk - 50);
    time_word(0x0c000010);  // in the top quarter of the 34-bit time...
    events_until(kChunk);
    time_word(5);  // ...and the next chunk's first word in the bottom one: a wrap
    events_until(2 * kChunk - 1);
    time_word(0x200);
    events_until(2 * kChunk + 10);  // the third chunk starts with events of that time
    time_word(0x100);               // a step back, kept
    // A long stretch without events: time words, then other words, then
    // events of the last time word.
    for (std::uint32_t high = 0x101; high <= 0x100 + 1000; ++high) time_word(high);
    words.insert(words.end(), 3 * kChunk, evt2::kOthers << 28);
    events_until(3 * kChunk);
    words.push_back(evt2::kExtTrigger << 28);
    words.push_back(evt2::kOthers << 28);
    time_word(0x300);
    events_until(3 * kChunk + 1000);  // a short last chunk
    {
      std::ofstream out("boundaries.raw", std::ios::binary);
      out << evt2::header_text("2026-12-08 12:00:00", {{"design", "aer640_test"}});
      out.write(reinterpret_cast<const char*>(words.data()),
                static_cast<std::streamsize>(words.size() * 4));
    }
    std::filesystem::remove("boundaries.h5");
    const ExportStats stats = export_hdf5("boundaries.raw", "boundaries.h5", false);
    EXPECT_EQ(stats.notes,
              RecordingReader::scan("boundaries.raw").warnings(RecordingInfo::Purpose::Export));
    const auto expected = read_all("boundaries.raw");
    ASSERT_EQ(expected.size(), 3 * kChunk + 1000);
    ASSERT_EQ(stats.events, expected.size());
    const hid_t file = H5Fopen("boundaries.h5", H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const hid_t group = H5Gopen2(file, "events", H5P_DEFAULT);
    {
      const hid_t dataset = H5Dopen2(group, "t", H5P_DEFAULT);
      const hid_t properties = H5Dget_create_plist(dataset);
      hsize_t chunk = 0;
      EXPECT_EQ(H5Pget_chunk(properties, 1, &chunk), 1);
      EXPECT_EQ(chunk, kChunk) << "the boundaries above are no longer the chunks'";
      H5Pclose(properties);
      H5Dclose(dataset);
    }
    const auto x = read_array<std::uint16_t>(group, "x", H5T_NATIVE_UINT16);
    const auto y = read_array<std::uint16_t>(group, "y", H5T_NATIVE_UINT16);
    const auto p = read_array<std::uint8_t>(group, "p", H5T_NATIVE_UINT8);
    const auto t = read_array<std::int64_t>(group, "t", H5T_NATIVE_INT64);
    H5Gclose(group);
    H5Fclose(file);
    ASSERT_EQ(t.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
      ASSERT_TRUE(testing_support::same_event({t[i], x[i], y[i], p[i]}, expected[i])) << i;
    EXPECT_EQ(t[0], time_first ? 1 << 6 : 0);
    EXPECT_EQ(t[kChunk], evt2::kTimeWrap | 5 << 6 | kChunk % 64);
    EXPECT_EQ(t[2 * kChunk], evt2::kTimeWrap | 0x200 << 6 | 0);
    EXPECT_EQ(t[2 * kChunk + 10], evt2::kTimeWrap | (0x100 + 1000) << 6 | 10);
    EXPECT_EQ(t[3 * kChunk], evt2::kTimeWrap | 0x300 << 6 | 0);
  }
}

// What a folder holds, by name.
std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(Hdf5Export, NeverWritesOverItsRecordingAndReplacesAnExportOnlyWhenAsked) {
  namespace fs = std::filesystem;
  fs::remove_all("exports");
  fs::create_directories("exports");
  const std::string recording = write_recording("exports/rec.raw", scene(1000, 10));
  const std::string original = contents(recording);
  fs::create_hard_link(recording, "exports/hard.raw");
  fs::create_symlink("rec.raw", "exports/soft.h5");
  auto refusal = [&](const std::string& out, bool overwrite) {
    try {
      export_hdf5(recording, out, overwrite);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("exported");
  };
  for (const std::string& out :
       {recording, std::string("exports/hard.raw"), std::string("exports/soft.h5"),
        std::string("exports/../exports/rec.raw")})
    for (const bool overwrite : {false, true})
      EXPECT_EQ(refusal(out, overwrite),
                "Cannot export " + recording + " to " + out + ": they are the same file");
  EXPECT_EQ(contents(recording), original);

  std::ofstream("exports/old.h5") << "an earlier export";
  EXPECT_EQ(refusal("exports/old.h5", false),
            "exports/old.h5 exists; choose another name for the export or overwrite it");
  EXPECT_EQ(contents("exports/old.h5"), "an earlier export");
  EXPECT_EQ(refusal("exports/old.h5", true), "exported");
  EXPECT_EQ(RecordingReader::scan(recording).events, 1000u);
  EXPECT_NE(contents("exports/old.h5").find("HDF"), std::string::npos);
  EXPECT_EQ(refusal("exports", true), "Cannot write the export exports: it is a folder");

  // Cancelled half way: nothing under the output's name, nor a temporary file.
  write_recording("exports/long.raw", scene(200000, 2));
  int calls = 0;
  EXPECT_THROW(export_hdf5("exports/long.raw", "exports/cancelled.h5", false,
                           [&](double) { return ++calls < 2; }),
               Cancelled);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(names_in("exports"),
            (std::vector<std::string>{"hard.raw", "long.raw", "old.h5", "rec.raw", "soft.h5"}));
}

TEST(Hdf5Export, ARecordingCutShortWhileItIsExportedStopsItWithTheReasonAndLeavesNoFile) {
  // Chunks are read and packed ahead of the writer: far more of them than
  // are ever in flight, so that the cut falls where the file is still read.
  namespace fs = std::filesystem;
  fs::remove_all("cut_export");
  fs::create_directories("cut_export");
  const std::string recording = write_recording("cut_export/rec.raw", scene(2000000, 1));
  int calls = 0;
  try {
    export_hdf5(recording, "cut_export/out.h5", false, [&](double) {
      if (++calls == 1) fs::resize_file(recording, 1000);
      return true;
    });
    ADD_FAILURE() << "exported a recording that was cut short";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(
        e.what(),
        "Cannot read the recording cut_export/rec.raw: it became shorter while it was read");
  }
  EXPECT_EQ(names_in("cut_export"), std::vector<std::string>{"rec.raw"});
}

// Where each chunk of the export's columns lies in the file: its address
// and its size, in the file's order.
std::vector<std::pair<haddr_t, hsize_t>> chunk_places(const std::string& path) {
  std::vector<std::pair<haddr_t, hsize_t>> places;
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  EXPECT_GE(file, 0);
  for (const char* name : {"events/x", "events/y", "events/p", "events/t"}) {
    const hid_t dataset = H5Dopen2(file, name, H5P_DEFAULT);
    const hid_t space = H5Dget_space(dataset);
    hsize_t chunks = 0;
    EXPECT_GE(H5Dget_num_chunks(dataset, space, &chunks), 0);
    for (hsize_t i = 0; i < chunks; ++i) {
      hsize_t offset = 0, size = 0;
      unsigned filters = 0;
      haddr_t address = 0;
      EXPECT_GE(H5Dget_chunk_info(dataset, space, i, &offset, &filters, &address, &size), 0);
      places.emplace_back(address, size);
    }
    H5Sclose(space);
    H5Dclose(dataset);
  }
  H5Fclose(file);
  std::sort(places.begin(), places.end());
  return places;
}

TEST(Hdf5Export, TheColumnsChunksLieBackToBackWithTheirIndexesApart) {
  // More chunks per column than one node of a column's index holds: the
  // index grows while the chunks are written. Its nodes, put between the
  // chunks, would each be one more write for the disk at the close.
  write_recording("many_chunks.raw", scene(2500000, 1));
  std::filesystem::remove("many_chunks.h5");
  ASSERT_EQ(export_hdf5("many_chunks.raw", "many_chunks.h5", false).events, 2500000u);
  const auto places = chunk_places("many_chunks.h5");
  ASSERT_EQ(places.size(), 4 * 77u);
  std::size_t gaps = 0;
  for (std::size_t i = 1; i < places.size(); ++i)
    gaps += places[i].first != places[i - 1].first + places[i - 1].second;
  EXPECT_EQ(gaps, 0u);
}

}  // namespace
}  // namespace Zelvar_Core::bench
