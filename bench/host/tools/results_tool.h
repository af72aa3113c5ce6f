// The Results tool: the runs the bench's results store keeps, as a table
// the filters (DUT, sequence, outcome, time span) narrow; one run's detail
// (each measurement against its limits, the steps, the files, with its
// report and recording opened from here); one measurement across the runs
// shown as a histogram and as a trend over time with its limits; and the
// runs shown exported to CSV.
#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/host/presenter/bench_presenter.h"
#include "bench/host/presenter/field_state.h"
#include "bench/host/presenter/gui_post.h"
#include "bench/host/windows/result_line.h"
#include "bench/host/windows/tool_frame.h"
#include "bench/results/run_table.h"
#include "platform/plot/plot_canvas.h"

namespace Zelvar_Core::bench {

// The runs table: a list that holds no rows of its own and asks the table
// for each cell it draws, so that 100,000 runs cost what a screenful does.
class RunList : public wxListCtrl {
 public:
  RunList(wxWindow* parent, const results::RunTable& table);
  // The table changed: as many rows as it shows, drawn again.
  void follow_table();

 protected:
  wxString OnGetItemText(long item, long column) const override;
  wxItemAttr* OnGetItemAttr(long item) const override;

 private:
  const results::RunTable& table_;
  mutable wxItemAttr failed_;
};

class ResultsTool : public ToolFrame {
 public:
  ResultsTool(wxWindow* parent, BenchPresenter& presenter);
  // An export under way is stopped, its file not written.
  ~ResultsTool() override;
  // Reads the runs again (a run may have ended since) and shows the window.
  void open() override;
  // Reads every run from the store again, keeping the filter and the run shown.
  void read_runs();
  // Applies what the filter fields say; a field the filter cannot take is
  // marked and said, and the runs shown stay as they were.
  void apply_filter();
  // Shows the run's detail (nothing when it is not in the store).
  void show_run(const std::string& run_id);
  // Shows the measurement across the runs shown.
  void show_measurement(const std::string& name);
  // Writes the runs shown to `path` as CSV, as the Export button does after
  // its dialog, on a thread of its own: the window stays usable, the status
  // bar says how far it got, and the file is there whole once it says so.
  // Refused while an export is under way.
  void export_csv(const std::string& path);
  bool exporting() const { return exporting_; }
  // Set when the bench closes during an export: the export stops and writes nothing.
  const std::atomic<bool>& export_stopping() const { return stop_export_; }

  const results::RunTable& table() const { return table_; }
  const std::optional<results::TestRecord>& run_shown() const { return run_; }
  const results::MeasurementSpread& spread() const { return spread_; }
  // The chosen measurement of each run shown, oldest first, as the trend
  // draws it (runs that fall on one spot marked once).
  const std::vector<results::MeasurementPoint>& trend() const { return points_; }

  // How a file of a run is opened: the desktop's program for it by default;
  // a recording (.raw) goes to `play_recording` when it is set.
  std::function<std::string(const std::string& path)> open_file;
  std::function<void(const std::string& path)> play_recording;

  wxComboBox *dut_field, *sequence_field;
  wxChoice* outcome_choice;
  wxTextCtrl *from_field, *to_field;
  wxButton *button_refresh, *button_export;
  wxStaticText* count_text;  // "12 of 40 runs"
  ResultLine* result_line;   // what the last action came to, or why the store cannot be read
  RunList* runs;
  wxNotebook* pages;
  // The Run page.
  wxTextCtrl* run_text;
  wxListCtrl *measurements_list, *steps_list, *files_list;
  wxButton *button_report, *button_recording;
  // The Measurement page.
  wxChoice* measurement_choice;
  ResultLine* spread_line;  // the measurement's runs, mean, spread and runs outside their limits
  PlotCanvas *histogram_plot, *trend_plot;

  static constexpr int kRunPage = 0, kMeasurementPage = 1;

 private:
  wxSizer* build_filters(wxWindow* panel);
  wxWindow* build_run_page(wxWindow* parent);
  wxWindow* build_measurement_page(wxWindow* parent);
  void bind_controls();
  void explain_controls();
  // The filter's lists of DUTs and sequences, from the runs read.
  void list_choices();
  void show_count();
  // The run whose detail shows is the one selected, where the table shows it.
  void select_run_shown();
  // The Measurement page follows the filter when it is shown.
  void refresh_measurements();
  void draw_histogram();
  void draw_trend();
  void clear_run();
  void open_run_file(const std::string& role);
  // A store that failed: said in the window and in the status bar.
  void tell_failure(const std::string& what);
  // Stops an export under way and waits for its thread to end.
  void stop_export();
  // On the GUI thread, as the export's thread says.
  void export_progress(std::size_t done, std::size_t total, const std::string& path);
  void export_ended(const std::string& what, bool failed);

  BenchPresenter& presenter_;
  results::RunTable table_;
  std::optional<results::TestRecord> run_;
  results::MeasurementSpread spread_;
  std::vector<results::MeasurementPoint> points_;
  bool measurements_stale_ = true;
  bool names_read_ = false;  // the measurements to choose from, since the runs were read
  bool selecting_ = false;
  bool listing_ = false;  // the filter's lists being made anew: their text stays
  FieldStates fields_;
  bool exporting_ = false;
  std::atomic<bool> stop_export_{false};
  std::thread exporter_;
  GuiPost post_;  // last: nothing the export's thread posts runs once the window has gone
};

}  // namespace Zelvar_Core::bench
