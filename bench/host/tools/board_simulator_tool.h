// A host tool: plugs and unplugs the simulated board and makes the next
// programming, register read or event stream fail, so every error path can
// be tried by hand.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>

#include <string>

#include "bench/board/simulated_board.h"
#include "bench/host/windows/tool_frame.h"

namespace Zelvar_Core::bench {

class BoardSimulatorTool : public ToolFrame {
 public:
  // `served_at` names the served board the bench works on instead ("" for
  // none): the switches here would then move nothing, and are greyed.
  BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device, const std::string& served_at = "");
  void open() override;

  wxCheckBox* connected;
  wxCheckBox* fail_programming;
  wxCheckBox* fail_register_read;
  wxButton* button_break_stream;

 protected:
  void on_tick() override;

 private:
  SimulatedDevice& device_;
  bool served_;
};

}  // namespace Zelvar_Core::bench
