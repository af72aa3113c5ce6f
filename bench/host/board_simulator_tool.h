// A host tool: plugs and unplugs the simulated board and makes the next
// programming, register read or event stream fail, so every error path can
// be tried by hand.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/frame.h>

#include "Zelvar_Core/Host/presenter.h"
#include "bench/board/simulated_board.h"

namespace Zelvar_Core::bench {

class BoardSimulatorTool : public wxFrame, public Tool {
 public:
  BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device);
  bool is_shown() override { return IsShown(); }
  void open() override;

  wxCheckBox* connected;
  wxCheckBox* fail_programming;
  wxCheckBox* fail_register_read;
  wxButton* button_break_stream;

 private:
  SimulatedDevice& device_;
};

}  // namespace Zelvar_Core::bench
