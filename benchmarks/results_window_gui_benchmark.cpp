// The Results window itself on 100,000 runs, on real widgets (run under a
// display, e.g. xvfb-run -a): the window opened or refreshed (every run
// read, the table filled), a filter typed on the Run page (the table
// filtered), and a filter typed on the Measurement page (the table and the
// measurement's values filtered, the histogram and the trend made and each
// drawn once at its size).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <wx/app.h>
#include <wx/dcmemory.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/board/folders.h"
#include "bench/host/app/bench_session.h"
#include "benchmarks/hundred_thousand_runs.h"

namespace {

using namespace Zelvar_Core::bench;
using Zelvar_Core::benchmarks::store_of_100000;

void settle() {
  while (wxTheApp->Pending()) wxTheApp->Dispatch();
  wxTheApp->ProcessPendingEvents();
}

// A bench of its own in /dev/shm, its Results window open on the 100,000 runs.
class WindowOn100000 {
 public:
  WindowOn100000() {
    std::string folder = "/dev/shm/zelvar-results-window-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) throw std::runtime_error("no folder in /dev/shm");
    folder_ = folder;
    const auto folders = BenchFolders::under(folder_);
    prepare_folders(folders);
    session_ = std::make_unique<BenchSession>(folders);
    // The store outlives the session; the session only borrows it.
    session_->presenter->use_results(
        std::shared_ptr<results::ResultsStore>(&store_of_100000(), [](results::ResultsStore*) {}));
    session_->show();
    tool = session_->results_tool.get();
    tool->open();
    settle();
  }
  ~WindowOn100000() {
    session_.reset();
    settle();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  // The plots drawn at their size, as their paint does.
  void draw_plots() {
    for (Zelvar_Core::PlotCanvas* plot : {tool->histogram_plot, tool->trend_plot}) {
      const wxSize size = plot->GetClientSize();
      wxBitmap bitmap(std::max(size.x, 1), std::max(size.y, 1));
      wxMemoryDC dc(bitmap);
      plot->Render(dc, size);
    }
  }
  ResultsTool* tool = nullptr;

 private:
  std::filesystem::path folder_;
  std::unique_ptr<BenchSession> session_;
};

// The Refresh button: every run read again into the table.
void BM_WindowRefreshed(benchmark::State& state) {
  WindowOn100000 window;
  for (auto _ : state) {
    window.tool->read_runs();
    settle();
  }
  state.SetLabel(window.tool->count_text->GetLabel().utf8_string());
}
BENCHMARK(BM_WindowRefreshed)->Unit(benchmark::kMillisecond)->Iterations(3);

// The DUT typed, as the field sends it: arg 0 from all 100,000 runs to one
// chip's 100, arg 1 back to the 100,000 (the field set before, not timed).
void type_dut(benchmark::State& state, WindowOn100000& window, bool plots) {
  const wxString shown = state.range(0) == 0 ? "" : "chip-42";
  const wxString typed = state.range(0) == 0 ? "chip-42" : "";
  for (auto _ : state) {
    state.PauseTiming();
    window.tool->dut_field->SetValue(shown);
    settle();
    state.ResumeTiming();
    window.tool->dut_field->SetValue(typed);
    if (plots) window.draw_plots();
    settle();
  }
  state.SetLabel(std::to_string(window.tool->table().size()) + " runs shown, " +
                 std::to_string(window.tool->trend().size()) + " values drawn");
}

// On the Run page: the table filtered and drawn again.
void BM_FilterTypedOnRunPage(benchmark::State& state) {
  WindowOn100000 window;
  type_dut(state, window, false);
}
BENCHMARK(BM_FilterTypedOnRunPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// On the Measurement page, vdd_mean chosen: the table, the measurement's
// values, the histogram and the trend of every run shown, drawn.
void BM_FilterTypedOnMeasurementPage(benchmark::State& state) {
  WindowOn100000 window;
  window.tool->pages->SetSelection(ResultsTool::kMeasurementPage);
  window.tool->measurement_choice->SetStringSelection("vdd_mean");
  window.tool->show_measurement("vdd_mean");
  settle();
  type_dut(state, window, true);
}
BENCHMARK(BM_FilterTypedOnMeasurementPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
