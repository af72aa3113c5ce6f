// Cost of one ADC monitor redraw (update_plot plus the paint of the canvas)
// as the channel history grows, against the naive form that hands every
// sample to the canvas. The canvas is painted into a bitmap the way it paints
// the window (PlotCanvas::Paint), so a background that stays the same is
// copied in from the third paint on. Run under a display (xvfb-run).
#include <benchmark/benchmark.h>
#include <wx/app.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

#include <cmath>

#include "Zelvar_Core/Views/vandry.h"

using namespace Zelvar_Core;

namespace {

// `samples` at `period` seconds apart.
AdcChannel history(std::size_t samples, double period = 0.01) {
  AdcChannel c;
  c.channel = 0;
  c.label = "VDD";
  for (std::size_t i = 0; i < samples; ++i) {
    c.data_t.push_back(i * period);
    c.data_y.push_back(1.8 + 0.01 * std::sin(i * 0.07) + 0.002 * std::sin(i * 1.3));
  }
  return c;
}

// Every sample handed over, window start found by a scan of the whole history.
void naive_update_plot(AdcPlotCanvas& canvas, const AdcChannel& c) {
  const AxisRange x = adc_time_window(c.data_t.back());
  std::size_t start = 0;
  for (std::size_t i = 1; i < c.data_t.size(); ++i)
    if (std::fabs(c.data_t[i] - x.first) < std::fabs(c.data_t[start] - x.first)) start = i;
  std::vector<PlotPoint> points;
  for (std::size_t k = 0; k < c.data_t.size(); ++k) points.push_back({c.data_t[k], c.data_y[k]});
  std::vector<PolySpline> traces;
  traces.emplace_back(std::move(points), "CH0", "blue", 1);
  canvas.Draw(PlotGraphics(std::move(traces), "Time (s)", "VDD"), x,
              adc_value_range(c.data_y, start));
}

void redraw(benchmark::State& state, bool naive) {
  const int channels = static_cast<int>(state.range(1));
  auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
  std::vector<AdcPlotCanvas*> canvases;
  std::vector<AdcChannel> data;
  const wxSize size(300, 100);
  for (int i = 0; i < channels; ++i) {
    canvases.push_back(new AdcPlotCanvas(frame));
    canvases.back()->SetSize(size);  // painted at the size it has
    data.push_back(history(static_cast<std::size_t>(state.range(0))));
  }
  wxBitmap bitmap(size);
  for (auto _ : state) {
    for (int i = 0; i < channels; ++i) {
      if (naive)
        naive_update_plot(*canvases[i], data[i]);
      else
        canvases[i]->update_plot(data[i]);
      wxMemoryDC memory(bitmap);
      canvases[i]->Paint(memory, size);
    }
  }
  state.SetItemsProcessed(state.iterations() * channels);
  frame->Destroy();
}

void BM_Redraw(benchmark::State& state) { redraw(state, false); }
void BM_RedrawNaive(benchmark::State& state) { redraw(state, true); }

// One channel whose 15 s window holds every one of `range(0)` points (a fast
// ADC): the redraw against one plain pass over the visible samples.
void BM_RedrawDenseWindow(benchmark::State& state) {
  const auto points = static_cast<std::size_t>(state.range(0));
  auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
  auto* canvas = new AdcPlotCanvas(frame);
  canvas->SetSize(wxSize(300, 100));
  const AdcChannel data = history(points, 15.0 / points);
  const wxSize size(300, 100);
  wxBitmap bitmap(size);
  for (auto _ : state) {
    canvas->update_plot(data);
    wxMemoryDC memory(bitmap);
    canvas->Paint(memory, size);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points));
  frame->Destroy();
}

// The same channel painted again with no new sample: at the size it was
// painted at before (range(1) == 0) the kept reduction is drawn over the kept
// background; at a new size each time (1, as while a window is resized) the
// trace is reduced and the background drawn again.
void BM_RepaintDenseWindow(benchmark::State& state) {
  const auto points = static_cast<std::size_t>(state.range(0));
  const bool resizing = state.range(1) != 0;
  auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
  auto* canvas = new AdcPlotCanvas(frame);
  canvas->SetSize(wxSize(300, 100));
  canvas->update_plot(history(points, 15.0 / points));
  wxBitmap narrow(wxSize(300, 100)), wide(wxSize(301, 100));
  bool use_wide = false;
  for (auto _ : state) {
    if (resizing) use_wide = !use_wide;
    wxMemoryDC memory(use_wide ? wide : narrow);
    canvas->Paint(memory, memory.GetSize());
  }
  frame->Destroy();
}

// A live channel past its first 15 s: every redraw brings a new sample, so
// the time window slides and the background (its tick labels) changes each
// time: it is drawn every time and never kept. The cost of a redraw there.
void BM_RedrawSlidingWindow(benchmark::State& state) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
  auto* canvas = new AdcPlotCanvas(frame);
  const wxSize size(300, 100);
  canvas->SetSize(size);
  AdcChannel data = history(static_cast<std::size_t>(state.range(0)));
  wxBitmap bitmap(size);
  for (auto _ : state) {
    const double i = static_cast<double>(data.data_t.size());
    data.data_t.push_back(i * 0.01);
    data.data_y.push_back(1.8 + 0.01 * std::sin(i * 0.07) + 0.002 * std::sin(i * 1.3));
    canvas->update_plot(data);
    wxMemoryDC memory(bitmap);
    canvas->Paint(memory, size);
  }
  frame->Destroy();
}

// What any wxDC gets (a PNG saved, a print): everything drawn each time.
void BM_RenderEverything(benchmark::State& state) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
  auto* canvas = new AdcPlotCanvas(frame);
  const wxSize size(300, 100);
  canvas->SetSize(size);
  const AdcChannel data = history(static_cast<std::size_t>(state.range(0)));
  wxBitmap bitmap(size);
  for (auto _ : state) {
    canvas->update_plot(data);
    wxMemoryDC memory(bitmap);
    wxGCDC dc(memory);
    canvas->Render(dc, size);
  }
  frame->Destroy();
}

// The floor: one pass over the visible samples, reading both sequences.
void BM_OnePassOverTheWindow(benchmark::State& state) {
  const auto points = static_cast<std::size_t>(state.range(0));
  const AdcChannel data = history(points, 15.0 / points);
  for (auto _ : state) {
    double lo = data.data_y[0], hi = lo, t = 0;
    for (std::size_t k = 0; k < points; ++k) {
      lo = std::min(lo, data.data_y[k]);
      hi = std::max(hi, data.data_y[k]);
      t += data.data_t[k];
    }
    benchmark::DoNotOptimize(lo + hi + t);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points));
}

// The reduction of points whose times are not all numbers (every fifth is
// NaN): taken point by point rather than by search.
void BM_ReduceOddTimes(benchmark::State& state) {
  const double nan = std::nan("");
  std::vector<PlotPoint> points;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    points.push_back({i % 5 == 0 ? nan : i * 1e-4, std::sin(i * 0.01)});
  const wxRect area(40, 10, 300, 120);
  const AxisMap x_map = PlotCanvas::XMap({0, points.size() * 1e-4}, area);
  for (auto _ : state) benchmark::DoNotOptimize(reduce_to_columns(points, x_map).size());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points.size()));
}

}  // namespace

BENCHMARK(BM_ReduceOddTimes)->Arg(200000)->Arg(2000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawDenseWindow)
    ->Arg(15000)
    ->Arg(150000)
    ->Arg(1500000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintDenseWindow)
    ->ArgsProduct({{150000, 1500000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePassOverTheWindow)
    ->Arg(15000)
    ->Arg(150000)
    ->Arg(1500000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_RedrawSlidingWindow)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderEverything)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Redraw)->ArgsProduct({{1000, 100000, 1000000}, {1, 8}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawNaive)
    ->ArgsProduct({{1000, 100000, 1000000}, {1, 8}})
    ->Unit(benchmark::kMillisecond);
