// The Sweep tool: a register, DAC or chip signal stepped over a range (or a
// list), each step settled and measured from the board's own stream and
// ADC; the table and the plot fill as the run goes, Abort puts the
// parameter back, and the results save as CSV and the plot as PNG.
#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <atomic>
#include <memory>
#include <optional>

#include "bench/host/presenter/field_state.h"
#include "bench/host/presenter/presenter_bench.h"
#include "bench/host/tools/run_thread.h"
#include "bench/host/windows/result_line.h"
#include "bench/host/windows/tool_frame.h"
#include "bench/sequences/sweep.h"
#include "platform/plot/plot_canvas.h"

namespace Zelvar_Core::bench {

// A sweep refused before it ran, and the field that holds the reason (none
// for a refusal of the whole, like an absent board).
class SweepRefusal : public std::invalid_argument {
 public:
  SweepRefusal(wxWindow* field_, const std::string& what)
      : std::invalid_argument(what), field(field_) {}
  wxWindow* field;
};

class SweepTool : public ToolFrame {
 public:
  SweepTool(wxWindow* parent, BenchPresenter& presenter);
  void open() override;
  // The sweep the fields describe; a field that is not a number is refused.
  SweepPlan plan() const;
  Register swept_register(const std::string& name) const;
  bool running() const { return run_.running(); }
  void save_csv(const std::string& path) const;
  void save_png(const std::string& path) const;

  // The most registers the parameter list holds at once: a board with more
  // has a field above it that finds them by a part of their name.
  static constexpr unsigned kListedAtMost = 200;
  wxChoice* parameter_choice;
  wxTextCtrl* parameter_filter = nullptr;  // only for a board with more registers than that
  wxTextCtrl *start_field, *stop_field, *step_field, *values_field, *settle_field, *measure_field;
  wxChoice* plotted_choice;
  wxButton *button_run, *button_abort, *button_csv, *button_png;
  wxListCtrl* table;
  PlotCanvas* plot;
  wxStaticText* state_text;
  ResultLine* saved_line;  // where the last Save CSV or Save PNG wrote, or why it did not

 protected:
  void on_tick() override;

 private:
  wxSizer* build_form(wxWindow* panel);
  void list_parameters(const std::vector<Register>& registers, const std::string& chosen);
  void explain_controls();
  void bind_controls();
  void on_run();
  // The refusal in the window: the field marked with the reason, and said.
  void refuse(const SweepRefusal& refusal);
  void clear_refusals();
  void add_row(const SweepRow& row);
  void redraw();
  // The sweep's table written to the reports folder, its record kept with
  // it: each value's step and measurements, and how the sweep ended.
  void finished(const SweepOutcome& outcome, const std::optional<results::TestRecord>& start);
  // The sweep's record in the bench's results store, in place of its last;
  // the first failure of a sweep is told (on any thread) and the sweep goes on.
  void keep(const results::TestRecord& record);

  BenchPresenter& presenter_;
  GuiPost post_;
  RunThread run_;
  SweepPlan running_plan_;
  std::vector<SweepRow> rows_;
  Settings settings_;
  BoardDeclaration declaration_;  // the board the sweep was on: the CSV's columns
  FieldStates fields_;            // the form's fields, refused or not
  std::atomic<bool> store_told_{false};
};

}  // namespace Zelvar_Core::bench
