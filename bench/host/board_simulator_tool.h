// A host tool: plugs and unplugs the simulated board and makes the next
// programming, register read or event stream fail, so every error path can
// be tried by hand.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>

#include "bench/board/simulated_board.h"
#include "bench/host/tool_frame.h"

namespace Zelvar_Core::bench {

class BoardSimulatorTool : public ToolFrame {
 public:
  BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device);
  void open() override;

  wxCheckBox* connected;
  wxCheckBox* fail_programming;
  wxCheckBox* fail_register_read;
  wxButton* button_break_stream;

 protected:
  void on_tick() override;

 private:
  SimulatedDevice& device_;
};

}  // namespace Zelvar_Core::bench
