// The toolkit's own messages go to the program's log, never to a box: its
// log records with their levels, and its failed assertions as errors.
#pragma once

#include <wx/debug.h>

class wxLog;

namespace Zelvar_Core::bench {

inline constexpr const char* kToolkitLogger = "wx";

// Installs the log target and the assert handler for the program's life;
// call before the first window is built.
void route_toolkit_messages();

// The same for a scope, then back to what was there before.
class ToolkitRouting {
 public:
  ToolkitRouting();
  ~ToolkitRouting();
  ToolkitRouting(const ToolkitRouting&) = delete;
  ToolkitRouting& operator=(const ToolkitRouting&) = delete;

 private:
  wxLog* previous_log_;
  wxAssertHandler_t previous_assert_;
};

}  // namespace Zelvar_Core::bench
