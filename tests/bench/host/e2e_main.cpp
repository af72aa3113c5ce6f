// The end-to-end tests' main: the bench's reporting application object, and
// the log book on every logger, as the program has them.
#include "bench/host/app/log_book.h"
#include "bench/host/app/reporting_app.h"
#include "tests/support/gui_harness.h"

namespace {

class EndToEndApp : public Zelvar_Core::bench::ReportingApp {
 public:
  bool OnInit() override {
    Zelvar_Core::bench::LogBook::attach();
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(EndToEndApp);

int main(int argc, char** argv) { return Zelvar_Core::testing_support::run_gui_tests(argc, argv); }
