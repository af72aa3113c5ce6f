// An application that catches what escapes an event handler or the main
// loop, hands it on and goes on: the program never ends on an error.
#pragma once

#include <wx/app.h>

#include <functional>
#include <string>

namespace Zelvar_Core::bench {

class ReportingApp : public wxApp {
 public:
  bool OnExceptionInMainLoop() override;
  void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                        wxEvent& event) const override;
  std::function<void(const std::string&)> on_error;
  // A run the user cancelled: information, not an error.
  std::function<void(const std::string&)> on_cancelled;

 private:
  void report_current_exception() const;
};

}  // namespace Zelvar_Core::bench
