// What the simulated board costs on its own thread, with no one listening:
// the sensor making the busy scene's events slice by slice, and the whole
// stream (slices of board time, generation, publishing to a hub without
// listeners) driven by board time the benchmark advances, never the wall
// clock. events_per_s is per second of the thread's CPU time (the pace on
// one core, whoever else runs); the busy rate is 20 M/s.
//   BOARD_SECONDS (default 1): board time streamed per iteration.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench/board/acquisition.h"
#include "bench/board/event_hub.h"
#include "bench/board/sensor.h"

using namespace Zelvar_Core::bench;

namespace {

// The thresholds of pravel --measure --busy: about 20 M events/s.
SensorSettings busy(SensorMode mode) {
  BiasPoint bias;
  bias.vth_on = 1750;
  bias.vth_off = 1450;
  bias.bias_gain = 7;
  return sensor_settings(bias, mode);
}

void count_events(benchmark::State& state, std::uint64_t events) {
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}

// The sensor alone: one 2 ms slice of the busy stream (40,000 events) per
// call, into a batch used again, the scene moving on with each slice.
void BM_SensorGeneratesASlice(benchmark::State& state) {
  const SensorSettings settings = busy(static_cast<SensorMode>(state.range(0)));
  constexpr std::size_t kSliceEvents = 40000;
  constexpr std::int64_t kSliceUs = 2000;
  EventSensor sensor;
  std::vector<Event> batch;
  std::int64_t t = 0;
  std::uint64_t events = 0;
  for (auto _ : state) {
    batch.clear();
    sensor.generate(static_cast<double>(t) * 1e-6, kSliceEvents, settings, t, t + kSliceUs, batch);
    benchmark::DoNotOptimize(batch.data());
    events += batch.size();
    t += kSliceUs;
  }
  count_events(state, events);
}
BENCHMARK(BM_SensorGeneratesASlice)
    ->ArgName("mode")
    ->Arg(static_cast<int>(SensorMode::EventStream))
    ->Arg(static_cast<int>(SensorMode::TestPattern));

// The board's stream as its thread runs it, published to a hub no one
// listens to: each iteration streams BOARD_SECONDS of board time, a slice
// owed at a time.
void BM_SimulatedBoardStreams(benchmark::State& state) {
  const char* env = std::getenv("BOARD_SECONDS");
  const auto board_us = static_cast<std::int64_t>((env ? std::atof(env) : 1.0) * 1e6);
  const SensorSettings settings = busy(SensorMode::EventStream);
  EventHub hub;
  StreamPump pump(hub, 0);
  std::int64_t now = 0;
  for (auto _ : state) {
    for (const std::int64_t end = now + board_us; now < end;) {
      now += StreamPump::kSliceMicroseconds;
      pump.pump(now, settings);
    }
  }
  count_events(state, pump.events());
  state.counters["lost"] = static_cast<double>(pump.estimated_lost());
}
BENCHMARK(BM_SimulatedBoardStreams)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
