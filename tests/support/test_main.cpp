// The main of the module test programs: a plain application object.
#include <wx/app.h>

#include "tests/support/gui_harness.h"

namespace {

class TestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(TestApp);

int main(int argc, char** argv) { return Zelvar_Core::testing_support::run_gui_tests(argc, argv); }
