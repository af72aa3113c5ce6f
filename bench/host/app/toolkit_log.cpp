#include "bench/host/app/toolkit_log.h"

#include <wx/log.h>

#include "Zelvar_Core/Host/logging.h"

namespace Zelvar_Core::bench {

namespace {

class LogToProgram : public wxLog {
 protected:
  void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) override {
    const auto logger = get_logger(kToolkitLogger);
    const std::string message = text.utf8_string();
    if (level <= wxLOG_Error)
      logger->error("{}", message);
    else if (level == wxLOG_Warning)
      logger->warn("{}", message);
    else if (level <= wxLOG_Info)
      logger->info("{}", message);
    else
      logger->debug("{}", message);
  }
};

void log_assertion(const wxString& file, int line, const wxString& function, const wxString& cond,
                   const wxString& message) {
  get_logger(kToolkitLogger)
      ->error("Toolkit assertion failed at {}:{} in {}: {}{}{}", file.utf8_string(), line,
              function.utf8_string(), cond.utf8_string(), message.empty() ? "" : " - ",
              message.utf8_string());
}

}  // namespace

void route_toolkit_messages() {
  delete wxLog::SetActiveTarget(new LogToProgram);
  wxLog::SetLogLevel(wxLOG_Info);
  wxSetAssertHandler(log_assertion);
}

ToolkitRouting::ToolkitRouting()
    : previous_log_(wxLog::SetActiveTarget(new LogToProgram)),
      previous_assert_(wxSetAssertHandler(log_assertion)) {}

ToolkitRouting::~ToolkitRouting() {
  wxLog::FlushActive();
  delete wxLog::SetActiveTarget(previous_log_);
  wxSetAssertHandler(previous_assert_);
}

}  // namespace Zelvar_Core::bench
