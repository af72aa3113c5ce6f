// The main of the benchmark programs: wx started without a main loop (the
// benchmarks draw real windows and bitmaps), then every registered benchmark.
#include <benchmark/benchmark.h>
#include <wx/app.h>
#include <wx/init.h>

namespace {

class BenchmarkApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchmarkApp);

int main(int argc, char** argv) {
  if (!wxEntryStart(argc, argv)) return 2;
  wxTheApp->CallOnInit();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  wxTheApp->ProcessIdle();  // frames destroyed by the benchmarks go now
  wxEntryCleanup();
  return 0;
}
