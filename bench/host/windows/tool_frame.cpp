#include "bench/host/windows/tool_frame.h"

#include "bench/host/windows/placement.h"

namespace Zelvar_Core::bench {

ToolFrame::ToolFrame(wxWindow* parent, const wxString& title, const wxSize& size, long style)
    : wxFrame(parent, wxNewId(), title, wxDefaultPosition, size, style) {
  timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { on_tick(); });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
    timer_.Stop();
    Hide();
  });
}

void ToolFrame::bring_up(int refresh_ms) {
  if (!placed_) {  // the first time beside the main window; then where the user puts it
    placed_ = true;
    if (auto* main = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(GetParent())))
      open_beside(*this, *main);
  }
  Show();
  Raise();
  if (refresh_ms > 0) timer_.Start(refresh_ms);
}

}  // namespace Zelvar_Core::bench
