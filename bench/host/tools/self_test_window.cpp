#include "bench/host/tools/self_test_window.h"

#include <wx/panel.h>
#include <wx/sizer.h>

#include <algorithm>

namespace Zelvar_Core::bench {

namespace {

const char* result_text(StepResult result) {
  switch (result) {
    case StepResult::Passed:
      return "passed";
    case StepResult::Failed:
      return "FAILED";
    case StepResult::NotRun:
      return "not run";
  }
  return "";
}

}  // namespace

SelfTestWindow::SelfTestWindow(wxWindow* parent) : ToolFrame(parent, "Self-test", wxDefaultSize) {
  auto* panel = new wxPanel(this);
  steps_list = new wxListCtrl(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                              wxLC_REPORT | wxLC_SINGLE_SEL);
  steps_list->AppendColumn("Step");
  steps_list->AppendColumn("Result");
  steps_list->AppendColumn("Detail");
  summary_text = new wxStaticText(panel, wxID_ANY, "Not run yet");
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(steps_list, 1, wxEXPAND | wxALL, 8);
  sizer->Add(summary_text, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  panel->SetSizer(sizer);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(panel, 1, wxEXPAND);
  SetSizer(top);
}

void SelfTestWindow::show(const std::vector<SelfTestStep>& steps) {
  steps_list->DeleteAllItems();
  for (const auto& step : steps) {
    const long row =
        steps_list->InsertItem(steps_list->GetItemCount(), wxString::FromUTF8(step.name));
    steps_list->SetItem(row, 1, result_text(step.result));
    steps_list->SetItem(row, 2, wxString::FromUTF8(step.detail));
  }
  for (int column = 0; column < 3; ++column) {
    steps_list->SetColumnWidth(column, wxLIST_AUTOSIZE_USEHEADER);
    const int header = steps_list->GetColumnWidth(column);
    steps_list->SetColumnWidth(column, wxLIST_AUTOSIZE);
    if (steps_list->GetColumnWidth(column) < header) steps_list->SetColumnWidth(column, header);
  }
  // Room for a detail: what a passed step measured, or why a step failed.
  steps_list->SetColumnWidth(2, std::max(steps_list->GetColumnWidth(2), FromDIP(260)));
  int width = FromDIP(30);
  for (int column = 0; column < 3; ++column) width += steps_list->GetColumnWidth(column);
  steps_list->SetMinSize(wxSize(width, (static_cast<int>(steps.size()) + 2) * FromDIP(26)));
  summary_text->SetLabel(wxString::FromUTF8(self_test_summary(steps)));
  GetSizer()->SetSizeHints(this);
  bring_up();
}

}  // namespace Zelvar_Core::bench
