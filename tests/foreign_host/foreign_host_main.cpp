// A host program of its own, as another team would write one around the
// front-end libraries: the toolkit started with a plain application object,
// and no log target or assert handler of the bench's. What would reach the
// user there as a message box fails the test instead: every toolkit
// assertion, every log message the default target would show in a box
// (errors, warnings and plain messages) and every modal dialog.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/utils.h>

#include <cstdio>

#include "tests/support/toolkit_start.h"

namespace {

class PlainApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

void fail_on_assert(const wxString& file, int line, const wxString& func, const wxString& cond,
                    const wxString& msg) {
  ADD_FAILURE() << "toolkit assertion at " << file << ":" << line << " in " << func << ": " << cond
                << " " << msg;
}

// Takes the place of the default target only to see what it would show.
class BoxWatch : public wxLog {
 protected:
  void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) override {
    if (level <= wxLOG_Message)
      ADD_FAILURE() << "the toolkit would show a message box: " << msg.utf8_string();
  }
};

class NoDialogs : public wxModalDialogHook {
 protected:
  int Enter(wxDialog* dialog) override {
    ADD_FAILURE() << "a modal dialog opened: " << dialog->GetTitle().utf8_string();
    return wxID_CANCEL;
  }
  void Exit(wxDialog*) override {}
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(PlainApp);

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // no display needed
  wxSetAssertHandler(fail_on_assert);
  if (!Zelvar_Core::testing_support::start_toolkit(argc, argv)) return 2;
  wxTheApp->CallOnInit();
  delete wxLog::SetActiveTarget(new BoxWatch);
  NoDialogs no_dialogs;
  no_dialogs.Register();
  const int result = RUN_ALL_TESTS();
  no_dialogs.Unregister();
  wxTheApp->ProcessIdle();
  wxEntryCleanup();
  return result;
}
