// The host's work per event, without the simulator: batches of the busy
// scene, made once up front, published through the EventHub with what the
// bench attaches to it (the frame the image is drawn from and the Rates
// tool's meter, behind a display feed of their own thread; a recorder
// writing to /dev/null), as the acquisition thread does. events_per_s is
// the pace of a whole pass (the display and the recorder's writer done);
// events_per_cpu_s counts the CPU time of every thread (the display and the
// writer work on their own); publisher_events_per_cpu_s only the publishing
// thread's, in publish(): the acquisition thread's share.
//   HUB_EVENTS (default 10000000): events published per iteration.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

#include "bench/board/event_hub.h"
#include "bench/board/sensor.h"
#include "bench/events/recorder.h"
#include "bench/sequences/rates.h"

using namespace Zelvar_Core::bench;

namespace {

// One slice of the busy stream: 2 ms at about 20 M events/s.
constexpr std::size_t kBatchEvents = 40000;
constexpr std::int64_t kSliceUs = 2000;

// The batches, stamped one slice after the other as the acquisition makes them.
const std::vector<std::vector<Event>>& busy_batches() {
  static std::vector<std::vector<Event>> batches;
  if (!batches.empty()) return batches;
  const char* env = std::getenv("HUB_EVENTS");
  const double events = env ? std::atof(env) : 10e6;
  BiasPoint busy;
  busy.vth_on = 1750;
  busy.vth_off = 1450;
  busy.bias_gain = 7;
  const SensorSettings settings = sensor_settings(busy, SensorMode::EventStream);
  EventSensor sensor;
  std::int64_t t = 0;
  for (double made = 0; made < events; made += kBatchEvents, t += kSliceUs) {
    batches.emplace_back();
    sensor.generate(static_cast<double>(t) * 1e-6, kBatchEvents, settings, t, t + kSliceUs,
                    batches.back());
  }
  return batches;
}

double cpu_seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

enum Attached : int { kFrame = 1, kRates = 2, kRecorder = 4 };

// Every batch published once per iteration, to what `state.range(0)` attaches.
void BM_Publish(benchmark::State& state) {
  const auto& batches = busy_batches();
  const int attached = static_cast<int>(state.range(0));
  EventHub hub;
  std::size_t pass = 0;
  for (const auto& batch : batches) pass += batch.size();
  DisplayFeed display(hub, pass);  // a queue that holds a whole pass: nothing is skipped
  EventFrame shown;
  std::optional<FrameWatch> watch;  // the live image, when it is on screen
  if (attached & kFrame) watch.emplace(display);
  RateMeter rates;
  if (attached & kRates) display.add(&rates);
  std::uint64_t events = 0, dropped = 0;
  const double cpu_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
  double publishing = 0;  // the publishing thread's CPU time in publish()
  for (auto _ : state) {
    std::unique_ptr<Recorder> recorder;
    if (attached & kRecorder) {
      // A queue that holds a whole pass: nothing is dropped, and stop() waits
      // for the writer, so that the time counts its encoding too.
      recorder = std::make_unique<Recorder>(std::size_t{1} << 24);
      recorder->start("/dev/null", "% evt 2.0\n% end\n");
      hub.subscribe(recorder.get());
    }
    const double publish_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    for (const auto& batch : batches) {  // each pass starts over in time, as after a reset
      hub.publish(batch.data(), batch.size());
      events += batch.size();
    }
    publishing += cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - publish_start;
    display.settle();
    if (attached & kFrame) display.take_frame(shown);
    if (recorder) {
      hub.unsubscribe(recorder.get());
      dropped += recorder->stop().dropped;
    }
  }
  const double cpu = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start;
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["events_per_cpu_s"] = static_cast<double>(events) / cpu;
  state.counters["publisher_events_per_cpu_s"] = static_cast<double>(events) / publishing;
  state.counters["events"] = static_cast<double>(events);
  if (attached & kRecorder) state.counters["dropped"] = static_cast<double>(dropped);
  state.counters["skipped_by_display"] = static_cast<double>(display.skipped());
}
BENCHMARK(BM_Publish)
    ->ArgName("attached")
    ->Arg(0)
    ->Arg(kFrame)
    ->Arg(kRates)
    ->Arg(kRecorder)
    ->Arg(kRates | kRecorder)
    ->Arg(kFrame | kRates | kRecorder)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
