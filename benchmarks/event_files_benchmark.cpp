// What recordings cost: the live stream recorded at the busy rate, a file
// decoded (beside one plain pass over the same words, the memory's own
// speed), decoded and accumulated (as a playback at full speed does), the
// playback itself, and the HDF5 export (beside dd writing as many bytes to
// the same disk, and beside the HDF5 library writing the same arrays from
// memory with the same filter and chunks). No display
// needed; about a minute with the defaults.
//   RECORD_SECONDS (default 10): how long the recording benchmark records.
//   SAMPLE_EVENTS (default 20000000): events in the sample recording (fewer
//   for a run under valgrind).
#include <benchmark/benchmark.h>
#include <hdf5.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/board/simulated_board.h"
#include "bench/events/evt2.h"
#include "bench/events/hdf5_export.h"
#include "bench/events/playback.h"
#include "bench/events/recorder.h"
#include "bench/events/recording_file.h"

using namespace Zelvar_Core::bench;
namespace fs = std::filesystem;

namespace {

double setting(const char* name, double otherwise) {
  const char* text = std::getenv(name);
  return text ? std::atof(text) : otherwise;
}

// The thresholds of pravel --measure --busy: about 20 M events/s.
void make_busy(SimulatedDevice& board) {
  board.write_register("VTH_ON", 1750);
  board.write_register("VTH_OFF", 1450);
  board.write_register("BIAS_GAIN", 7);
}

// A recording of the busy scene, made once per run.
const std::string& sample_recording() {
  static std::string path;
  if (!path.empty()) return path;
  const auto count = static_cast<std::size_t>(setting("SAMPLE_EVENTS", 20e6));
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

// The sample's words in memory, and how many events they hold.
struct Words {
  std::vector<std::uint32_t> words;
  std::uint64_t events = 0;
};
const Words& sample_words() {
  static Words sample;
  if (!sample.words.empty()) return sample;
  const std::string& path = sample_recording();
  const RecordingReader reader(path);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(reader.header().data_offset));
  sample.words.resize((fs::file_size(path) - reader.header().data_offset) / 4);
  in.read(reinterpret_cast<char*>(sample.words.data()),
          static_cast<std::streamsize>(sample.words.size() * 4));
  for (const std::uint32_t w : sample.words) sample.events += (w >> 28) <= evt2::kCdOn;
  return sample;
}

constexpr std::size_t kDecodeBatch = 1u << 16;  // words at a time, as a recording is read

void count_events(benchmark::State& state, std::uint64_t events) {
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["events"] = static_cast<double>(events);  // for per-event instruction counts
}

void BM_RecordTheBusyStream(benchmark::State& state) {
  const double seconds = setting("RECORD_SECONDS", 10);
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
    state.counters["MiB_per_s"] = stats.bytes / seconds / (1 << 20);
  }
  fs::remove(path);
}
BENCHMARK(BM_RecordTheBusyStream)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The memory's own speed over the same words: one plain pass adding them up (a
// function of its own, so that valgrind counts it apart).
[[gnu::noinline]] std::uint64_t sum_words(const std::uint32_t* words, std::size_t count) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += words[i];
  return sum;
}

void BM_SumTheWords(benchmark::State& state) {
  const Words& sample = sample_words();
  std::uint64_t events = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < sample.words.size(); at += kDecodeBatch)
      benchmark::DoNotOptimize(
          sum_words(sample.words.data() + at, std::min(kDecodeBatch, sample.words.size() - at)));
    events += sample.events;
  }
  count_events(state, events);
}
BENCHMARK(BM_SumTheWords)->Unit(benchmark::kMillisecond)->UseRealTime();

// The words decoded into events from memory, a batch at a time.
void BM_DecodeTheWords(benchmark::State& state) {
  const Words& sample = sample_words();
  std::vector<Event> events;
  std::uint64_t decoded = 0;
  for (auto _ : state) {
    evt2::Decoder decoder;
    for (std::size_t at = 0; at < sample.words.size(); at += kDecodeBatch) {
      events.clear();
      decoder.decode(sample.words.data() + at, std::min(kDecodeBatch, sample.words.size() - at),
                     events);
      decoded += events.size();
    }
    benchmark::DoNotOptimize(events.data());
  }
  count_events(state, decoded);
}
BENCHMARK(BM_DecodeTheWords)->Unit(benchmark::kMillisecond)->UseRealTime();

// The CPU time of the calling thread: on a shared machine, what the work
// itself took, whoever else runs.
double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Decoding beside the machine's memcpy, in one run so that both see the same
// load: each iteration copies the sample's words to another buffer once,
// then decodes them a batch at a time into events and into columns, each
// timed by the thread's CPU time. memcpy_events_per_s is the copy's
// bandwidth at 4 bytes an event; the ratios are each decode's pace over it.
void BM_DecodeBesideMemcpy(benchmark::State& state) {
  const Words& sample = sample_words();
  std::vector<std::uint32_t> copy(sample.words.size(), 1);  // touched: no page faults timed
  std::vector<Event> events;
  std::vector<std::uint16_t> x(kDecodeBatch, 1), y(kDecodeBatch, 1);
  std::vector<std::uint8_t> p(kDecodeBatch, 1);
  std::vector<std::int64_t> t(kDecodeBatch, 1);
  double copying = 0, decoding = 0, into_columns = 0;
  std::uint64_t decoded = 0;
  for (auto _ : state) {
    double start = thread_seconds();
    std::memcpy(copy.data(), sample.words.data(), sample.words.size() * 4);
    benchmark::ClobberMemory();
    copying += thread_seconds() - start;

    start = thread_seconds();
    evt2::Decoder decoder;
    for (std::size_t at = 0; at < sample.words.size(); at += kDecodeBatch) {
      events.clear();
      decoder.decode(sample.words.data() + at, std::min(kDecodeBatch, sample.words.size() - at),
                     events);
      benchmark::DoNotOptimize(events.data());
    }
    decoding += thread_seconds() - start;

    start = thread_seconds();
    evt2::Decoder to_columns;
    for (std::size_t at = 0; at < sample.words.size(); at += kDecodeBatch) {
      to_columns.decode(sample.words.data() + at, std::min(kDecodeBatch, sample.words.size() - at),
                        {x.data(), y.data(), p.data(), t.data()});
      benchmark::ClobberMemory();
    }
    into_columns += thread_seconds() - start;
    decoded += sample.events;
  }
  const double copied = static_cast<double>(sample.words.size()) * state.iterations();
  const double memcpy_rate = copied / copying;
  const double decode_rate = static_cast<double>(decoded) / decoding;
  const double columns_rate = static_cast<double>(decoded) / into_columns;
  state.counters["memcpy_events_per_s"] = memcpy_rate;
  state.counters["decode_events_per_s"] = decode_rate;
  state.counters["columns_events_per_s"] = columns_rate;
  state.counters["decode_over_memcpy"] = decode_rate / memcpy_rate;
  state.counters["columns_over_memcpy"] = columns_rate / memcpy_rate;
}
BENCHMARK(BM_DecodeBesideMemcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The recorder's writer: events encoded into words, a slice of the busy
// stream at a time.
void BM_EncodeTheEvents(benchmark::State& state) {
  static std::vector<Event> events;
  if (events.empty()) {
    const Words& sample = sample_words();
    evt2::Decoder().decode(sample.words.data(), sample.words.size(), events);
  }
  std::vector<std::uint32_t> words;
  std::uint64_t encoded = 0;
  for (auto _ : state) {
    evt2::Encoder encoder;
    for (std::size_t at = 0; at < events.size(); at += 40000) {
      words.clear();
      encoder.encode(events.data() + at, std::min<std::size_t>(40000, events.size() - at), words);
      benchmark::DoNotOptimize(words.data());
    }
    encoded += events.size();
  }
  count_events(state, encoded);
}
BENCHMARK(BM_EncodeTheEvents)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeAndAccumulate(benchmark::State& state) {
  const std::string& path = sample_recording();
  std::uint64_t events = 0;
  for (auto _ : state) {
    RecordingReader reader(path);
    EventFrame frame;
    std::vector<Event> batch;
    while (true) {
      batch.clear();
      if (!reader.next(batch, kDecodeBatch)) break;
      frame.accumulate(batch.data(), batch.size());
      events += batch.size();
    }
    benchmark::DoNotOptimize(frame.counts.data());
  }
  count_events(state, events);
  state.counters["bytes_per_event"] =
      static_cast<double>(fs::file_size(path)) / (events / state.iterations());
}
BENCHMARK(BM_DecodeAndAccumulate)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlaybackAsFastAsPossible(benchmark::State& state) {
  const std::string& path = sample_recording();
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
  count_events(state, events);
}
BENCHMARK(BM_PlaybackAsFastAsPossible)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_ExportToHdf5(benchmark::State& state) {
  const std::string& path = sample_recording();
  const std::string out = (fs::temp_directory_path() / "pravel_bench_export.h5").string();
  std::uint64_t events = 0;
  for (auto _ : state) events += export_hdf5(path, out, true).events;
  count_events(state, events);
  state.counters["h5_bytes_per_event"] =
      static_cast<double>(fs::file_size(out)) / (events / state.iterations());
  fs::remove(out);
}
BENCHMARK(BM_ExportToHdf5)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

// The export beside the disk's own pace, in one run so that both see the
// same disk and the same load: each iteration writes as many MiB as the
// export holds with dd (conv=fdatasync: the data on the disk when it ends,
// as the export's is), then exports the sample. export_over_dd is the
// export's bytes per second of wall time over dd's, over every iteration;
// its _min, _median and _max are those of each iteration's pair.
void BM_ExportBesideDd(benchmark::State& state) {
  const std::string& path = sample_recording();
  const fs::path folder = fs::temp_directory_path();
  const std::string out = (folder / "pravel_bench_export.h5").string();
  const std::string zeros = (folder / "pravel_bench_dd.bin").string();
  export_hdf5(path, out, true);  // the size dd writes, and the recording in the page cache
  const auto bytes = fs::file_size(out);
  const auto mib = (bytes + (1u << 20) - 1) >> 20;
  const std::string dd = "dd if=/dev/zero of=" + zeros + " bs=1M count=" + std::to_string(mib) +
                         " conv=fdatasync status=none";
  double exporting = 0, writing = 0;
  std::vector<double> ratios;
  std::uint64_t events = 0;
  for (auto _ : state) {
    ::sync();  // each starts on a quiet disk: no write-back or discard left from the other
    auto start = std::chrono::steady_clock::now();
    if (std::system(dd.c_str()) != 0) state.SkipWithError("dd failed");
    const double dd_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fs::remove(zeros);
    fs::remove(out);
    ::sync();
    start = std::chrono::steady_clock::now();
    events += export_hdf5(path, out, true).events;
    const double export_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    writing += dd_seconds;
    exporting += export_seconds;
    ratios.push_back(static_cast<double>(bytes) / export_seconds /
                     (static_cast<double>(mib << 20) / dd_seconds));
  }
  std::sort(ratios.begin(), ratios.end());
  const double iterations = static_cast<double>(state.iterations());
  const double export_rate = static_cast<double>(bytes) * iterations / exporting;
  const double dd_rate = static_cast<double>(mib << 20) * iterations / writing;
  state.counters["export_MB_per_s"] = export_rate * 1e-6;
  state.counters["dd_MB_per_s"] = dd_rate * 1e-6;
  state.counters["export_over_dd"] = export_rate / dd_rate;
  if (!ratios.empty()) {
    state.counters["export_over_dd_min"] = ratios.front();
    state.counters["export_over_dd_median"] = ratios[ratios.size() / 2];
    state.counters["export_over_dd_max"] = ratios.back();
  }
  state.counters["events_per_s"] = static_cast<double>(events) / exporting;
  fs::remove(out);
}
BENCHMARK(BM_ExportBesideDd)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(5);

// The four arrays of the sample, decoded once.
struct Arrays {
  std::vector<std::uint16_t> x, y;
  std::vector<std::uint8_t> p;
  std::vector<std::int64_t> t;
};
const Arrays& sample_arrays() {
  static Arrays arrays;
  if (!arrays.t.empty()) return arrays;
  const Words& sample = sample_words();
  std::vector<Event> events;
  evt2::Decoder().decode(sample.words.data(), sample.words.size(), events);
  for (const Event& e : events) {
    arrays.x.push_back(e.x);
    arrays.y.push_back(e.y);
    arrays.p.push_back(e.p);
    arrays.t.push_back(e.t);
  }
  return arrays;
}

void check(herr_t result) {
  if (result < 0) throw std::runtime_error("an HDF5 call failed");
}

// One array written whole, as a program holding it in memory would: a
// chunked dataset of the export's chunk size and filter, one H5Dwrite.
void write_array(hid_t group, const char* name, hid_t type, const void* data, hsize_t count) {
  const hsize_t chunk = 1u << 15, unlimited = H5S_UNLIMITED;
  const hid_t space = H5Screate_simple(1, &count, &unlimited);
  const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
  check(H5Pset_chunk(properties, 1, &chunk));
  check(H5Pset_scaleoffset(properties, H5Z_SO_INT, H5Z_SO_INT_MINBITS_DEFAULT));
  const hid_t dataset = H5Dcreate2(group, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
  check(dataset);
  check(H5Dwrite(dataset, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data));
  check(H5Dclose(dataset));
  check(H5Pclose(properties));
  check(H5Sclose(space));
}

void write_arrays_plainly(const std::string& out, const Arrays& a) {
  const hid_t file = H5Fcreate(out.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  check(file);
  const hid_t group = H5Gcreate2(file, "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  check(group);
  write_array(group, "x", H5T_NATIVE_UINT16, a.x.data(), a.x.size());
  write_array(group, "y", H5T_NATIVE_UINT16, a.y.data(), a.y.size());
  write_array(group, "p", H5T_NATIVE_UINT8, a.p.data(), a.p.size());
  write_array(group, "t", H5T_NATIVE_INT64, a.t.data(), a.t.size());
  check(H5Gclose(group));
  check(H5Fclose(file));
}

// The reference for the export: the library writing the same arrays from
// memory, with the same filter and chunks.
void BM_Hdf5WritesTheSameArraysFromMemory(benchmark::State& state) {
  const Arrays& arrays = sample_arrays();
  const std::string out = (fs::temp_directory_path() / "pravel_bench_plain.h5").string();
  std::uint64_t events = 0;
  for (auto _ : state) {
    write_arrays_plainly(out, arrays);
    events += arrays.t.size();
  }
  count_events(state, events);
  state.counters["h5_bytes_per_event"] =
      static_cast<double>(fs::file_size(out)) / static_cast<double>(arrays.t.size());
  fs::remove(out);
}
BENCHMARK(BM_Hdf5WritesTheSameArraysFromMemory)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
