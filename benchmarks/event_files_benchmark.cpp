// What recordings cost: the live stream recorded at the busy rate, a file
// decoded and accumulated (as a playback at full speed does), the playback
// itself, and the HDF5 export. No display needed.
//   RECORD_SECONDS (default 60): how long the recording benchmark records.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench/board/simulated_board.h"
#include "bench/events/evt2.h"
#include "bench/events/hdf5_export.h"
#include "bench/events/playback.h"
#include "bench/events/recorder.h"
#include "bench/events/recording_file.h"

using namespace Zelvar_Core::bench;
namespace fs = std::filesystem;

namespace {

// The thresholds of pravel --measure --busy: about 20 M events/s.
void make_busy(SimulatedDevice& board) {
  board.write_register("VTH_ON", 1750);
  board.write_register("VTH_OFF", 1450);
  board.write_register("BIAS_GAIN", 7);
}

// A recording of `count` events of the busy scene, made once.
const std::string& sample_recording(std::size_t count) {
  static std::string path;
  if (!path.empty()) return path;
  path = (fs::temp_directory_path() / "pravel_bench_sample.raw").string();
  SimulatedDevice board;
  make_busy(board);
  EventSensor sensor;
  std::vector<Event> events;
  std::vector<std::uint32_t> words;
  evt2::Encoder encoder;
  std::ofstream out(path, std::ios::binary);
  out << evt2::header_text("2026-12-08 12:00:00", {{"design", "sample"}});
  std::int64_t t = 0;
  for (std::size_t made = 0; made < count; made += events.size()) {
    events.clear();
    words.clear();
    sensor.generate(t * 1e-6, 40000, board.settings(), t, t + 2000, events);
    encoder.encode(events.data(), events.size(), words);
    out.write(reinterpret_cast<const char*>(words.data()),
              static_cast<std::streamsize>(words.size() * 4));
    t += 2000;
  }
  return path;
}

constexpr std::size_t kSampleEvents = 60'000'000;

void BM_RecordTheBusyStream(benchmark::State& state) {
  const char* env = std::getenv("RECORD_SECONDS");
  const double seconds = env ? std::atof(env) : 60.0;
  const std::string path = (fs::temp_directory_path() / "pravel_bench_record.raw").string();
  for (auto _ : state) {
    SimulatedDevice board;
    make_busy(board);
    Recorder recorder;
    recorder.start(path, evt2::header_text("2026-12-08 12:00:00", {}));
    Subscription record(board.events(), recorder);
    board.start_acquisition();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    board.stop_acquisition();
    const RecordingStats stats = recorder.stop();
    state.counters["events_per_s"] = static_cast<double>(stats.events) / seconds;
    state.counters["dropped"] = static_cast<double>(stats.dropped);
    // Events the board's FIFO lost because the stream itself fell behind.
    state.counters["lost_by_board"] = static_cast<double>(board.acquisition().estimated_lost());
    state.counters["bytes_per_event"] = static_cast<double>(stats.bytes) / stats.events;
    state.counters["MB_per_s"] = stats.bytes / seconds / 1e6;
  }
  fs::remove(path);
}
BENCHMARK(BM_RecordTheBusyStream)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_DecodeAndAccumulate(benchmark::State& state) {
  const std::string& path = sample_recording(kSampleEvents);
  std::uint64_t events = 0;
  for (auto _ : state) {
    RecordingReader reader(path);
    EventFrame frame;
    std::vector<Event> batch;
    while (true) {
      batch.clear();
      if (!reader.next(batch, 1u << 16)) break;
      frame.accumulate(batch.data(), batch.size());
      events += batch.size();
    }
    benchmark::DoNotOptimize(frame.counts.data());
  }
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["bytes_per_event"] =
      static_cast<double>(fs::file_size(path)) / (events / state.iterations());
}
BENCHMARK(BM_DecodeAndAccumulate)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlaybackAsFastAsPossible(benchmark::State& state) {
  const std::string& path = sample_recording(kSampleEvents);
  std::uint64_t events = 0;
  for (auto _ : state) {
    EventHub hub;
    Playback playback(hub);
    playback.open(path);
    std::atomic<bool> ended{false};
    playback.on_end = [&] { ended = true; };
    playback.set_speed(Playback::kAsFastAsPossible);
    const auto start = std::chrono::steady_clock::now();
    playback.play();
    while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    events += playback.published();
  }
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlaybackAsFastAsPossible)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_ExportToHdf5(benchmark::State& state) {
  const std::string& path = sample_recording(kSampleEvents);
  const std::string out = (fs::temp_directory_path() / "pravel_bench_export.h5").string();
  std::uint64_t events = 0;
  for (auto _ : state) events += export_hdf5(path, out, true).events;
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["h5_bytes_per_event"] =
      static_cast<double>(fs::file_size(out)) / (events / state.iterations());
  fs::remove(out);
}
BENCHMARK(BM_ExportToHdf5)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
