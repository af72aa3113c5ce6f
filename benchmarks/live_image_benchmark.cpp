// What the live image costs: events generated and accumulated per second on
// one core, and one 640x480 frame rendered through the colour table, turned
// into a bitmap and drawn. Run under a display (xvfb-run).
#include <benchmark/benchmark.h>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

#include "bench/board/sensor.h"
#include "bench/host/windows/main_window.h"

using namespace Zelvar_Core::bench;

namespace {

constexpr std::size_t kBatch = 4000;  // about what the thread makes per 2 ms slice at 2 Mev/s

// The nominal biases: 2 % noise.
SensorSettings settings() { return sensor_settings(BiasPoint{}, SensorMode::EventStream); }

// The acquisition thread's work: generate a batch and accumulate it.
void BM_GenerateAndAccumulate(benchmark::State& state) {
  EventSensor sensor;
  EventFrame frame;
  std::vector<Event> batch;
  double t = 0;
  std::size_t events = 0;
  for (auto _ : state) {
    batch.clear();
    sensor.generate(t, kBatch, settings(), 0, 2000, batch);
    frame.accumulate(batch.data(), batch.size());
    events += batch.size();
    t += 0.002;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(events));
}
BENCHMARK(BM_GenerateAndAccumulate);

// Accumulation alone, as a real board's stream would need.
void BM_Accumulate(benchmark::State& state) {
  EventSensor sensor;
  std::vector<Event> batch;
  sensor.generate(1.0, 1 << 20, settings(), 0, 524288, batch);
  EventFrame frame;
  for (auto _ : state) {
    frame.accumulate(batch.data(), batch.size());
    benchmark::DoNotOptimize(frame.counts.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch.size()));
}
BENCHMARK(BM_Accumulate);

// One frame as the image panel paints it.
void BM_DrawFrame(benchmark::State& state) {
  BenchModel model;
  EventSensor sensor;
  std::vector<Event> batch;
  sensor.generate(1.0, 66000, settings(), 0, 33000, batch);  // 33 ms at 2 Mev/s
  model.image.accumulate(batch.data(), batch.size());
  auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
  auto* panel = new ImagePanel(frame, model);
  wxImage image(kSensorWidth, kSensorHeight);
  wxBitmap target(kSensorWidth, kSensorHeight);
  wxMemoryDC dc(target);
  for (auto _ : state) {
    panel->render(image.GetData());
    dc.DrawBitmap(wxBitmap(image), 0, 0);
  }
  dc.SelectObject(wxNullBitmap);
  frame->Destroy();
  state.counters["fps_possible"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrawFrame)->Unit(benchmark::kMillisecond);

}  // namespace
