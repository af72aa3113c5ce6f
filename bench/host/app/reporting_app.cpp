#include "bench/host/app/reporting_app.h"

#include "Zelvar_Core/Host/logging.h"
#include "bench/board/errors.h"

namespace Zelvar_Core::bench {

bool ReportingApp::OnExceptionInMainLoop() {
  report_current_exception();
  return true;  // go on
}

void ReportingApp::CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                                    wxEvent& event) const {
  try {
    wxApp::CallEventHandler(handler, functor, event);
  } catch (...) {
    report_current_exception();
  }
}

void ReportingApp::report_current_exception() const {
  std::string what = "unknown error";
  try {
    throw;
  } catch (const Cancelled& e) {
    if (on_cancelled)
      on_cancelled(e.what());
    else
      get_logger("pravel")->info("{}", e.what());
    return;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  if (on_error)
    on_error(what);
  else
    get_logger("pravel")->error("{}", what);
}

}  // namespace Zelvar_Core::bench
