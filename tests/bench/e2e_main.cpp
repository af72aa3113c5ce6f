// The end-to-end tests' main: the bench's reporting application object.
#include "bench/bench_session.h"
#include "tests/support/gui_harness.h"

namespace {

class EndToEndApp : public Zelvar_Core::bench::ReportingApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(EndToEndApp);

int main(int argc, char** argv) { return Zelvar_Core::testing_support::run_gui_tests(argc, argv); }
