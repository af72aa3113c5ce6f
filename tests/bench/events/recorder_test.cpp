// Recording the board's stream, playing a recording back through the hub,
// and the export read back by Python.
#include "bench/events/recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench/board/simulated_board.h"
#include "bench/events/evt2.h"
#include "bench/events/hdf5_export.h"
#include "bench/events/playback.h"
#include "bench/events/recording_file.h"
#include "tests/bench/events/event_keeper.h"

namespace Zelvar_Core::bench {
namespace {

using namespace std::chrono_literals;

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

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
  std::vector<Event> burst(600, Event{1, 1, 1, 1});
  for (int i = 0; i < 20; ++i) recorder.on_events(burst.data(), burst.size());
  const RecordingStats stats = recorder.stop();
  EXPECT_GT(stats.dropped, 0u);
  EXPECT_EQ(stats.events + stats.dropped, 20u * 600);
  EXPECT_EQ(read_all("small.raw").size(), stats.events);
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
std::string write_recording(const std::string& path, const std::vector<Event>& events) {
  std::vector<std::uint32_t> words;
  evt2::Encoder().encode(events.data(), events.size(), words);
  std::ofstream out(path, std::ios::binary);
  out << evt2::header_text("2026-12-08 12:00:00", {{"design", "aer640_test"}, {"VTH_ON", "2400"}});
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

TEST(Playback, PublishesTheRecordingThroughTheHubLeavingOutWhatIsOffTheSensor) {
  const auto events = scene(300000, 2);
  write_recording("play.raw", events);
  EventHub hub;
  Keeper heard;
  Subscription hear(hub, heard);
  Playback playback(hub);
  const RecordingInfo& info = playback.open("play.raw");
  EXPECT_EQ(info.events, events.size());
  EXPECT_EQ(info.header.value("design"), "aer640_test");
  EXPECT_NEAR(info.duration_seconds(), 0.599998, 1e-6);
  std::vector<Event> expected;
  for (const auto& e : events)
    if (on_sensor(e)) expected.push_back(e);
  bool ended = false;
  playback.on_end = [&] { ended = true; };
  playback.set_speed(Playback::kAsFastAsPossible);
  playback.play();
  ASSERT_TRUE(eventually([&] { return ended; }));
  EXPECT_FALSE(playback.playing());
  EXPECT_TRUE(same_events(heard.events, expected));
  EXPECT_EQ(playback.outside(), events.size() - expected.size());
  EventFrame frame;
  hub.take_frame(frame);
  EventFrame direct;
  direct.accumulate(expected.data(), expected.size());
  EXPECT_EQ(frame.counts, direct.counts);
}

TEST(Playback, KeepsTheRecordedPaceAndSeeks) {
  const auto events = scene(20000, 100);  // 2 s of events
  write_recording("paced.raw", events);
  EventHub hub;
  Keeper heard;
  Subscription hear(hub, heard);
  Playback playback(hub);
  playback.open("paced.raw");
  playback.set_speed(1.0);
  playback.play();
  std::this_thread::sleep_for(300ms);
  playback.pause();
  const double at = playback.position();
  EXPECT_GT(at, 0.15);
  EXPECT_LT(at, 0.6);
  playback.seek(1.5);
  ASSERT_TRUE(eventually([&] { return playback.position() >= 1.499; })) << playback.position();
  const std::size_t before = heard.size();
  playback.set_speed(4.0);
  playback.play();
  ASSERT_TRUE(eventually([&] { return !playback.playing(); }, 2000ms));
  const auto last_half_second = std::count_if(events.begin(), events.end(), [](const Event& e) {
    return e.t >= 1000 + 1500000 && on_sensor(e);
  });
  EXPECT_EQ(heard.size() - before, static_cast<std::size_t>(last_half_second));
}

TEST(Hdf5Export, PythonReadsBackEveryArray) {
  const auto events = scene(70000, 3);
  write_recording("export.raw", events);
  const ExportStats stats = export_hdf5("export.raw", "export.h5");
  EXPECT_EQ(stats.events, events.size());
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
print("ok", len(expected))
)";
  EXPECT_EQ(std::system("/usr/bin/python3 check.py > check.out 2>&1"), 0);
  std::ifstream out("check.out");
  const std::string said((std::istreambuf_iterator<char>(out)), {});
  EXPECT_EQ(said, "ok 70000\n");
}

}  // namespace
}  // namespace Zelvar_Core::bench
