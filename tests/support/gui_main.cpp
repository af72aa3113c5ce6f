// Shared start of every test program with widgets: wx started once without
// a main loop, asserts turned into failures, unexpected dialogs failed and
// cancelled, and wx log messages kept instead of shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <wx/app.h>
#include <wx/init.h>
#include <wx/utils.h>

#include <cstdio>

#include "tests/support/gui_harness.h"
#include "tests/support/toolkit_start.h"

namespace {

void fail_on_assert(const wxString& file, int line, const wxString& func, const wxString& cond,
                    const wxString& msg) {
  ADD_FAILURE() << "wx assert at " << file << ":" << line << " in " << func << ": " << cond << " "
                << msg;
}

}  // namespace

namespace Zelvar_Core::testing_support {

int run_gui_tests(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // no display needed

  // Loggers made during the tests write nowhere unless a test captures them.
  spdlog::set_default_logger(
      std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::null_sink_mt>()));
  wxSetAssertHandler(fail_on_assert);
  if (!Zelvar_Core::testing_support::start_toolkit(argc, argv)) return 2;
  wxTheApp->CallOnInit();
  Zelvar_Core::testing_support::install_gui_guards();
  const int result = RUN_ALL_TESTS();
  wxTheApp->ProcessIdle();
  wxEntryCleanup();
  return result;
}

}  // namespace Zelvar_Core::testing_support
