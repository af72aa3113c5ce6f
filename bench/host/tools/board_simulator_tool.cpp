#include "bench/host/tools/board_simulator_tool.h"

#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace Zelvar_Core::bench {

BoardSimulatorTool::BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device,
                                       const std::string& served_at)
    : ToolFrame(parent, "Board simulator", wxDefaultSize,
                wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX),
      device_(device),
      served_(!served_at.empty()) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  if (served_) {
    auto* note =
        new wxStaticText(panel, wxID_ANY,
                         wxString::FromUTF8("The bench works on the board served at " + served_at +
                                            ".\nIts switches are its server's: pravel-board's\n"
                                            "BoardSimulator service."));
    sizer->Add(note, 0, wxALL, 8);
  }
  connected = new wxCheckBox(panel, wxID_ANY, "Board connected");
  fail_programming = new wxCheckBox(panel, wxID_ANY, "Fail the next programming");
  fail_register_read = new wxCheckBox(panel, wxID_ANY, "Fail the next register read");
  button_break_stream = new wxButton(panel, wxID_ANY, "Break the event stream");
  connected->SetToolTip("Untick to unplug the simulated board, tick to plug it back");
  fail_programming->SetToolTip("The next bitstream programmed fails halfway, as a bad cable would");
  fail_register_read->SetToolTip("The next read of the registers fails, once");
  button_break_stream->SetToolTip("The event stream stops with an error, as a lost link would");
  for (wxWindow* w : std::initializer_list<wxWindow*>{connected, fail_programming,
                                                      fail_register_read, button_break_stream})
    sizer->Add(w, 0, wxALL, 8);
  if (served_)
    for (wxWindow* w : std::initializer_list<wxWindow*>{connected, fail_programming,
                                                        fail_register_read, button_break_stream})
      w->Disable();
  panel->SetSizer(sizer);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(panel, 1, wxEXPAND);
  SetSizerAndFit(top);
  connected->Bind(wxEVT_CHECKBOX,
                  [this](wxCommandEvent&) { device_.set_connected(connected->GetValue()); });
  fail_programming->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
    device_.fail_next_program = fail_programming->GetValue();
  });
  fail_register_read->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
    device_.fail_next_register_read = fail_register_read->GetValue();
  });
  button_break_stream->Bind(wxEVT_BUTTON,
                            [this](wxCommandEvent&) { device_.acquisition().fail_next_read(); });
}

void BoardSimulatorTool::open() {
  on_tick();
  bring_up(250);
}

void BoardSimulatorTool::on_tick() {
  if (served_) return;
  // The one-shot failures clear themselves when used: the boxes follow.
  connected->SetValue(device_.connected());
  fail_programming->SetValue(device_.fail_next_program);
  fail_register_read->SetValue(device_.fail_next_register_read);
}

}  // namespace Zelvar_Core::bench
