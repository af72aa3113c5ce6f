// The frame every tool window of the bench is: closing it only hides it (a
// run or a stream goes on behind), and its refresh timer ticks only while
// it is shown.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include "Zelvar_Core/Host/presenter.h"

namespace Zelvar_Core::bench {

class ToolFrame : public wxFrame, public Tool {
 public:
  ToolFrame(wxWindow* parent, const wxString& title, const wxSize& size,
            long style = wxDEFAULT_FRAME_STYLE);
  bool is_shown() override { return IsShown(); }

 protected:
  // Shows and raises the window, the first time beside the main window;
  // with `refresh_ms`, calls on_tick() that often until the window is closed.
  void bring_up(int refresh_ms = 0);
  virtual void on_tick() {}

 private:
  wxTimer timer_;
  bool placed_ = false;
};

}  // namespace Zelvar_Core::bench
