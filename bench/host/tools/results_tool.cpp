#include "bench/host/tools/results_tool.h"

#include <fmt/format.h>
#include <wx/filedlg.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <algorithm>
#include <cmath>

#include "bench/host/windows/desktop.h"
#include "bench/results/csv_export.h"

namespace Zelvar_Core::bench {

namespace {

using results::MeasurementPoint;
using results::RunTable;

const char* const kOutcomeWords[] = {"Any outcome", "PASS",    "FAIL",
                                     "ERROR",       "ABORTED", "INCOMPLETE"};

// 100000 as "100,000".
std::string counted(std::size_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

std::string number(double value) { return fmt::format("{:.6g}", value); }

std::string limit(const std::optional<double>& value) { return value ? number(*value) : ""; }

wxString utf8(const std::string& text) { return wxString::FromUTF8(text); }

wxListCtrl* make_list(wxWindow* parent,
                      std::initializer_list<std::pair<const char*, int>> columns) {
  auto* list = new wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                              wxLC_REPORT | wxLC_SINGLE_SEL);
  for (const auto& [heading, width] : columns)
    list->AppendColumn(heading, wxLIST_FORMAT_LEFT, width);
  return list;
}

void add_row(wxListCtrl* list, const std::vector<std::string>& cells, bool failed) {
  const long row = list->InsertItem(list->GetItemCount(), utf8(cells.front()));
  for (std::size_t c = 1; c < cells.size(); ++c)
    list->SetItem(row, static_cast<long>(c), utf8(cells[c]));
  if (failed) list->SetItemTextColour(row, *wxRED);
}

bool failed(results::Outcome outcome) { return outcome != results::Outcome::Pass; }

// A segment of a trace, then a gap before the next.
void add_segment(std::vector<PlotPoint>& trace, PlotPoint a, PlotPoint b) {
  trace.push_back(a);
  trace.push_back(b);
  trace.push_back({std::nan(""), std::nan("")});
}

}  // namespace

RunList::RunList(wxWindow* parent, const results::RunTable& table)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL),
      table_(table) {
  const int widths[RunTable::kColumns] = {150, 110, 90, 150, 80};
  for (int column = 0; column < RunTable::kColumns; ++column)
    AppendColumn(RunTable::heading(column), wxLIST_FORMAT_LEFT, FromDIP(widths[column]));
  failed_.SetTextColour(*wxRED);
}

void RunList::follow_table() {
  SetItemCount(static_cast<long>(table_.size()));
  Refresh();
}

wxString RunList::OnGetItemText(long item, long column) const {
  return utf8(table_.cell(static_cast<std::size_t>(item), static_cast<int>(column)));
}

wxItemAttr* RunList::OnGetItemAttr(long item) const {
  const auto row = static_cast<std::size_t>(item);
  return row < table_.size() && failed(table_.run(row).outcome) ? &failed_ : nullptr;
}

ResultsTool::ResultsTool(wxWindow* parent, BenchPresenter& presenter)
    : ToolFrame(parent, "Results", wxSize(1200, 820)),
      presenter_(presenter),
      post_([&presenter](const std::string& what) { presenter.report_error(what); }) {
  presenter_.stop_hooks.push_back([this] { stop_export(); });
  open_file = [](const std::string& path) { return open_on_desktop(path); };
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(build_filters(panel), 0, wxEXPAND | wxALL, 6);
  result_line = new ResultLine(panel);
  sizer->Add(result_line, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  runs = new RunList(panel, table_);
  runs->SetMinSize(wxSize(runs->FromDIP(600), runs->FromDIP(300)));
  body->Add(runs, 5, wxEXPAND | wxRIGHT, 6);
  pages = new wxNotebook(panel, wxID_ANY);
  pages->AddPage(build_run_page(pages), "Run");
  pages->AddPage(build_measurement_page(pages), "Measurement");
  body->Add(pages, 6, wxEXPAND);
  sizer->Add(body, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  panel->SetSizer(sizer);
  explain_controls();
  // The time fields: shown clean with their tooltips, then marked as typed into or refused.
  for (wxTextCtrl* field : {from_field, to_field}) fields_.show(field, "");
  bind_controls();
  clear_run();
  if (presenter_.results() == nullptr) {
    result_line->show(
        "The results store could not be opened, so no run can be shown (the log says why).");
    for (wxWindow* control : std::initializer_list<wxWindow*>{
             dut_field, sequence_field, outcome_choice, from_field, to_field, button_refresh,
             button_export, measurement_choice})
      control->Disable();
  }
}

ResultsTool::~ResultsTool() { stop_export(); }

wxSizer* ResultsTool::build_filters(wxWindow* panel) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  const auto labelled = [panel, row](const char* label, wxWindow* field) {
    auto* cell = new wxBoxSizer(wxVERTICAL);
    cell->Add(new wxStaticText(panel, wxID_ANY, label));
    cell->Add(field, 0, wxEXPAND);
    row->Add(cell, 0, wxRIGHT | wxALIGN_BOTTOM, 8);
  };
  const wxSize name_size(panel->FromDIP(150), -1), time_size(panel->FromDIP(140), -1);
  dut_field = new wxComboBox(panel, wxID_ANY, "", wxDefaultPosition, name_size, 0, nullptr,
                             wxTE_PROCESS_ENTER);
  sequence_field = new wxComboBox(panel, wxID_ANY, "", wxDefaultPosition, name_size, 0, nullptr,
                                  wxTE_PROCESS_ENTER);
  wxArrayString outcomes;
  for (const char* word : kOutcomeWords) outcomes.Add(word);
  outcome_choice = new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, outcomes);
  outcome_choice->SetSelection(0);
  from_field =
      new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, time_size, wxTE_PROCESS_ENTER);
  to_field = new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, time_size, wxTE_PROCESS_ENTER);
  from_field->SetHint("2026-12-01");
  to_field->SetHint("2026-12-09 18:00");
  labelled("DUT", dut_field);
  labelled("Sequence", sequence_field);
  labelled("Outcome", outcome_choice);
  labelled("From (UTC)", from_field);
  labelled("To (UTC)", to_field);
  button_refresh = new wxButton(panel, wxID_ANY, "Refresh");
  button_export = new wxButton(panel, wxID_ANY, "Export CSV...");
  row->Add(button_refresh, 0, wxRIGHT | wxALIGN_BOTTOM, 6);
  row->Add(button_export, 0, wxRIGHT | wxALIGN_BOTTOM, 6);
  count_text = new wxStaticText(panel, wxID_ANY, "");
  row->Add(count_text, 1, wxLEFT | wxALIGN_BOTTOM | wxBOTTOM, 6);
  return row;
}

wxWindow* ResultsTool::build_run_page(wxWindow* parent) {
  auto* page = new wxPanel(parent);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  run_text = new wxTextCtrl(page, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
  run_text->SetMinSize(wxSize(-1, 7 * run_text->GetCharHeight() + run_text->FromDIP(8)));
  sizer->Add(run_text, 0, wxEXPAND | wxALL, 4);
  measurements_list = make_list(page, {{"Step", 40},
                                       {"Measurement", 130},
                                       {"Value", 80},
                                       {"Unit", 50},
                                       {"Low", 60},
                                       {"High", 60},
                                       {"Outcome", 70}});
  steps_list = make_list(page, {{"Step", 40}, {"Kind", 80}, {"What", 320}, {"Outcome", 70}});
  files_list = make_list(page, {{"Role", 80}, {"Path", 320}, {"Size", 80}, {"SHA-256", 120}});
  const std::pair<const char*, wxListCtrl*> parts[] = {
      {"Measurements", measurements_list}, {"Steps", steps_list}, {"Files", files_list}};
  for (const auto& [caption, list] : parts) {
    // Each list shows a few rows at least, whatever the window's height.
    const int rows = list == measurements_list ? 5 : 3;
    list->SetMinSize(wxSize(-1, (rows + 2) * list->GetCharHeight() + list->FromDIP(8)));
    sizer->Add(new wxStaticText(page, wxID_ANY, caption), 0, wxLEFT | wxRIGHT | wxTOP, 4);
    sizer->Add(list, list == measurements_list ? 2 : 1, wxEXPAND | wxALL, 4);
  }
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  button_report = new wxButton(page, wxID_ANY, "Open report");
  button_recording = new wxButton(page, wxID_ANY, "Open recording");
  buttons->Add(button_report, 0, wxRIGHT, 6);
  buttons->Add(button_recording);
  sizer->Add(buttons, 0, wxALL, 4);
  page->SetSizer(sizer);
  return page;
}

wxWindow* ResultsTool::build_measurement_page(wxWindow* parent) {
  auto* page = new wxPanel(parent);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  top->Add(new wxStaticText(page, wxID_ANY, "Measurement"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
           6);
  measurement_choice =
      new wxChoice(page, wxID_ANY, wxDefaultPosition, wxSize(page->FromDIP(200), -1));
  top->Add(measurement_choice, 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(top, 0, wxALL, 4);
  spread_line = new ResultLine(page);
  sizer->Add(spread_line, 0, wxEXPAND | wxLEFT | wxRIGHT, 4);
  histogram_plot = new PlotCanvas(page);
  trend_plot = new PlotCanvas(page);
  for (PlotCanvas* plot : {histogram_plot, trend_plot}) {
    plot->SetMinSize(wxSize(plot->FromDIP(420), plot->FromDIP(220)));
    plot->enableLegend = true;
    sizer->Add(plot, 1, wxEXPAND | wxALL, 4);
  }
  page->SetSizer(sizer);
  return page;
}

void ResultsTool::explain_controls() {
  dut_field->SetToolTip("Only the runs on this device under test (its whole id)");
  sequence_field->SetToolTip("Only the runs of this sequence file (its name, without its folder)");
  outcome_choice->SetToolTip("Only the runs that ended so");
  from_field->SetToolTip(
      "Only the runs started at or after this time (UTC): 2026-12-01 or "
      "2026-12-01 08:00; Enter applies it");
  to_field->SetToolTip(
      "Only the runs started before this time (UTC); a day alone counts that "
      "whole day in; Enter applies it");
  button_refresh->SetToolTip("Read the runs from the store again: runs ended since show");
  button_export->SetToolTip("Write the runs shown to a CSV file");
  button_report->SetToolTip("Open the run's report with the desktop's program for it");
  button_recording->SetToolTip("Play the run's recording in the Playback tool");
  measurement_choice->SetToolTip("The measurement drawn across the runs shown");
}

void ResultsTool::bind_controls() {
  for (wxComboBox* field : {dut_field, sequence_field}) {
    field->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
      if (!listing_) apply_filter();
    });
    field->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { apply_filter(); });
  }
  outcome_choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { apply_filter(); });
  // A time is taken when the user presses Enter or leaves its field, not
  // half typed.
  for (wxTextCtrl* field : {from_field, to_field}) {
    field->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { apply_filter(); });
    field->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
      apply_filter();
      event.Skip();
    });
    field->Bind(wxEVT_TEXT, [this, field](wxCommandEvent& event) {
      fields_.draw(field);
      event.Skip();
    });
  }
  button_refresh->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { read_runs(); });
  button_export->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (exporting_) {
      export_csv("");  // refused, and said so, before a file is asked for
      return;
    }
    ensure_folder(presenter_.folders().reports);
    wxFileDialog dialog(this, "Export the runs shown", utf8(presenter_.folders().reports.string()),
                        "results.csv", "CSV files (*.csv)|*.csv",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() == wxID_CANCEL) return;
    export_csv(dialog.GetPath().utf8_string());
  });
  runs->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& event) {
    if (selecting_) return;  // the window keeping its run selected
    const auto row = static_cast<std::size_t>(event.GetIndex());
    if (row < table_.size()) show_run(table_.run(row).run_id);
  });
  pages->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent& event) {
    if (event.GetEventObject() == pages && event.GetSelection() == kMeasurementPage &&
        measurements_stale_)
      refresh_measurements();
    event.Skip();
  });
  measurement_choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) {
    show_measurement(measurement_choice->GetStringSelection().utf8_string());
  });
  button_report->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { open_run_file("report"); });
  button_recording->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { open_run_file("recording"); });
}

void ResultsTool::open() {
  read_runs();
  bring_up();
}

void ResultsTool::tell_failure(const std::string& what) {
  result_line->show(utf8(what));
  presenter_.show_message(what);
}

void ResultsTool::read_runs() {
  auto* store = presenter_.results();
  if (store == nullptr) return;
  try {
    table_.read(*store);
  } catch (const results::ResultsError& e) {
    tell_failure(e.what());
    return;
  }
  list_choices();
  runs->follow_table();
  show_count();
  names_read_ = false;
  measurements_stale_ = true;
  if (pages->GetSelection() == kMeasurementPage) refresh_measurements();
  select_run_shown();
}

void ResultsTool::list_choices() {
  const std::pair<wxComboBox*, std::vector<std::string>> lists[] = {
      {dut_field, table_.duts()}, {sequence_field, table_.sequences()}};
  for (const auto& [field, names] : lists) {
    wxArrayString items;
    for (const auto& name : names) items.Add(utf8(name));
    // Set() empties the text, and says so as typing would: the user's text
    // is kept, and the filter it stands for with it.
    const wxString typed = field->GetValue();
    listing_ = true;
    field->Set(items);
    field->ChangeValue(typed);
    listing_ = false;
  }
}

void ResultsTool::show_count() {
  count_text->SetLabel(
      utf8(table_.size() == table_.total()
               ? counted(table_.total()) + (table_.total() == 1 ? " run" : " runs")
               : counted(table_.size()) + " of " + counted(table_.total()) + " runs"));
}

void ResultsTool::apply_filter() {
  results::FilterText text;
  text.dut = dut_field->GetValue().Trim(true).Trim(false).utf8_string();
  text.sequence = sequence_field->GetValue().Trim(true).Trim(false).utf8_string();
  if (outcome_choice->GetSelection() > 0)
    text.outcome = outcome_choice->GetStringSelection().utf8_string();
  text.from = from_field->GetValue().utf8_string();
  text.to = to_field->GetValue().utf8_string();
  results::RunFilter filter;
  try {
    filter = results::filter_from_text(text);
  } catch (const results::FilterRefusal& refusal) {
    wxTextCtrl* field = refusal.field == results::FilterRefusal::From ? from_field : to_field;
    fields_.refuse(field, refusal.what());
    fields_.draw(field);
    result_line->show(utf8(refusal.what()));
    return;
  }
  for (wxTextCtrl* field : {from_field, to_field}) {
    if (fields_.refused(field) || fields_.in_force(field) != text_of(field)) {
      fields_.show(field, text_of(field));
      fields_.draw(field);
    }
  }
  result_line->show("");
  table_.apply(filter);
  runs->follow_table();
  show_count();
  // The run shown stays selected while the filter shows it.
  select_run_shown();
  measurements_stale_ = true;
  if (pages->GetSelection() == kMeasurementPage) refresh_measurements();
}

void ResultsTool::select_run_shown() {
  selecting_ = true;
  for (long row = runs->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
       row = runs->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    runs->SetItemState(row, 0, wxLIST_STATE_SELECTED);
  if (run_) {
    if (const auto row = table_.row_of(run_->run_id)) {
      runs->SetItemState(static_cast<long>(*row), wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
      runs->EnsureVisible(static_cast<long>(*row));
    }
  }
  selecting_ = false;
}

void ResultsTool::clear_run() {
  run_.reset();
  run_text->ChangeValue("Choose a run in the table to see its measurements, steps and files.");
  for (wxListCtrl* list : {measurements_list, steps_list, files_list}) list->DeleteAllItems();
  button_report->Disable();
  button_recording->Disable();
}

void ResultsTool::show_run(const std::string& run_id) {
  auto* store = presenter_.results();
  if (store == nullptr) return;
  std::optional<results::TestRecord> record;
  try {
    record = store->load(run_id);
  } catch (const results::ResultsError& e) {
    tell_failure(e.what());
    return;
  }
  clear_run();
  if (!record) {
    result_line->show(utf8("The run " + run_id + " is no longer in the store"));
    return;
  }
  run_ = std::move(record);
  const auto& r = *run_;
  std::string text =
      fmt::format("{} run {}: {}\n", r.kind, r.run_id, results::outcome_text(r.outcome));
  if (!r.ended_because.empty()) text += r.ended_because + "\n";
  text += fmt::format("Started {} UTC, ended {} UTC ({:.1f} s)\n",
                      results::utc_seconds_text(r.started), results::utc_seconds_text(r.ended),
                      static_cast<double>(r.ended - r.started) / 1e6);
  text += fmt::format("DUT {} on {} (serial {}), design {}\n", r.dut.empty() ? "-" : r.dut,
                      r.board_identity, r.board_serial, r.design.empty() ? "none" : r.design);
  text += fmt::format("Station {}, operator {}, bench {}\n", r.station,
                      r.operator_name.empty() ? "-" : r.operator_name, r.bench_version);
  if (!r.sequence_path.empty())
    text += fmt::format("Sequence {} (SHA-256 {})\n", r.sequence_path, r.sequence_sha256);
  if (!r.settings_before.empty()) {
    text += "Settings before:";
    for (const auto& [name, value] : r.settings_before) text += " " + name + "=" + value;
    text += "\n";
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  run_text->ChangeValue(utf8(text));
  measurements_list->Freeze();
  for (const auto& m : r.measurements)
    add_row(measurements_list,
            {std::to_string(m.step), m.name, number(m.value), m.unit, limit(m.low), limit(m.high),
             results::outcome_text(m.outcome)},
            failed(m.outcome));
  measurements_list->Thaw();
  for (const auto& s : r.steps)
    add_row(steps_list,
            {std::to_string(s.number), s.kind, s.what, results::outcome_text(s.outcome)},
            failed(s.outcome));
  bool report = false, recording = false;
  for (const auto& f : r.files) {
    add_row(files_list, {f.role, f.path, counted(f.size), f.sha256}, false);
    report = report || f.role == "report";
    recording = recording || f.role == "recording";
  }
  button_report->Enable(report);
  button_recording->Enable(recording);
  pages->SetSelection(kRunPage);
}

void ResultsTool::open_run_file(const std::string& role) {
  if (!run_) return;
  // The file chosen in the list when it has this role, else the run's first of it.
  const results::FileRecord* chosen = nullptr;
  const long selected = files_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  if (selected >= 0 && static_cast<std::size_t>(selected) < run_->files.size() &&
      run_->files[static_cast<std::size_t>(selected)].role == role)
    chosen = &run_->files[static_cast<std::size_t>(selected)];
  for (const auto& f : run_->files)
    if (chosen == nullptr && f.role == role) chosen = &f;
  if (chosen == nullptr) return;
  const std::string& path = chosen->path;
  const bool raw = path.size() > 4 && path.compare(path.size() - 4, 4, ".raw") == 0;
  if (raw && play_recording) {
    try {
      play_recording(path);
      result_line->show(utf8("Opened " + path + " in the Playback tool"));
    } catch (const std::exception& e) {
      tell_failure(e.what());
    }
    return;
  }
  result_line->show(utf8(open_file(path)));
}

void ResultsTool::refresh_measurements() {
  auto* store = presenter_.results();
  if (store == nullptr) return;
  measurements_stale_ = false;
  // The names of every run's measurements, read once after the runs were:
  // a filter changes the points drawn, not the measurements to choose from.
  if (!names_read_) {
    std::vector<std::string> names;
    try {
      names = store->measurement_names(results::RunFilter{});
    } catch (const results::ResultsError& e) {
      tell_failure(e.what());
      return;
    }
    names_read_ = true;
    const std::string chosen = measurement_choice->GetStringSelection().utf8_string();
    wxArrayString items;
    for (const auto& name : names) items.Add(utf8(name));
    measurement_choice->Set(items);
    // The measurement chosen before stays chosen while the store holds it.
    if (!names.empty())
      measurement_choice->SetStringSelection(utf8(
          std::find(names.begin(), names.end(), chosen) != names.end() ? chosen : names.front()));
  }
  show_measurement(measurement_choice->GetStringSelection().utf8_string());
}

void ResultsTool::show_measurement(const std::string& name) {
  auto* store = presenter_.results();
  points_.clear();
  if (store != nullptr && !name.empty()) {
    try {
      // The measurement's values of every run, read once; each filter then
      // picks those of the runs it shows.
      if (table_.measurement_kept() != name)
        table_.keep_measurement(name, store->measurement(name, results::RunFilter{}));
      points_ = table_.measurement_shown();
    } catch (const results::ResultsError& e) {
      tell_failure(e.what());
    }
  }
  spread_ = results::spread_of(name, points_);
  spread_line->show(name.empty() ? wxString("No run holds a measurement")
                                 : utf8(results::spread_text(spread_)));
  draw_histogram();
  draw_trend();
}

void ResultsTool::draw_histogram() {
  const auto& s = spread_;
  const wxString x_label = utf8(s.unit.empty() ? s.name : s.name + " (" + s.unit + ")");
  if (s.values == 0) {
    histogram_plot->Draw(PlotGraphics({}, x_label, "runs"), {0, 1}, {0, 1});
    return;
  }
  // The bins as a staircase, closed down to zero at both ends.
  std::vector<PlotPoint> bars;
  std::size_t tallest = 0;
  double edge = s.first_edge;
  bars.push_back({edge, 0});
  for (std::size_t k = 0; k < s.counts.size(); ++k) {
    const double next = s.first_edge + s.bin_width * static_cast<double>(k + 1);
    const auto count = static_cast<double>(s.counts[k]);
    bars.push_back({edge, count});
    bars.push_back({next, count});
    edge = next;
    tallest = std::max(tallest, s.counts[k]);
  }
  bars.push_back({edge, 0});
  const double top = static_cast<double>(tallest) * 1.1 + 1;
  double x0 = s.first_edge, x1 = edge;
  std::vector<PolySpline> traces;
  traces.emplace_back(std::move(bars), "runs", "blue", 2);
  std::vector<PlotPoint> limits;
  for (const auto& at : {s.low, s.high}) {
    if (!at) continue;
    add_segment(limits, {*at, 0}, {*at, top});
    x0 = std::min(x0, *at);
    x1 = std::max(x1, *at);
  }
  if (!limits.empty()) traces.emplace_back(std::move(limits), "limits", "red", 2);
  const double margin = (x1 - x0) * 0.05;
  histogram_plot->Draw(PlotGraphics(std::move(traces), x_label, "runs"), {x0 - margin, x1 + margin},
                       {0, top});
}

void ResultsTool::draw_trend() {
  const auto& s = spread_;
  const wxString y_label = utf8(s.unit.empty() ? s.name : s.name + " (" + s.unit + ")");
  if (s.values == 0 || points_.empty()) {
    trend_plot->Draw(PlotGraphics({}, "time", y_label), {0, 1}, {0, 1});
    return;
  }
  // Time from the first run shown, in hours or, over a longer span, in days.
  const results::UtcMicros first = points_.front().started;
  const double span_hours = static_cast<double>(points_.back().started - first) / 3.6e9;
  const bool days = span_hours > 48;
  const double scale = days ? 8.64e10 : 3.6e9;
  double x1 = 1e-3;
  for (const auto& p : points_) x1 = std::max(x1, static_cast<double>(p.started - first) / scale);
  double y0 = s.lowest, y1 = s.highest;
  for (const auto& at : {s.low, s.high}) {
    if (!at) continue;
    y0 = std::min(y0, *at);
    y1 = std::max(y1, *at);
  }
  const double margin = std::max((y1 - y0) * 0.08, std::abs(y1) * 0.01 + 1e-12);
  // Each run's value marked with a cross, its arms about 1% of each axis.
  const double dx = x1 / 100, dy = (y1 - y0 + 2 * margin) / 60;
  // Runs that would be marked within half an arm of a run already marked
  // are not marked again: 100,000 runs cost what the spots they cover do.
  constexpr int kColumns = 200, kRows = 120;
  std::vector<bool> marked(static_cast<std::size_t>(kColumns) * kRows, false);
  const double y_bottom = y0 - margin, y_span = y1 - y0 + 2 * margin;
  std::vector<PlotPoint> marks;
  marks.reserve(std::min<std::size_t>(points_.size(), marked.size()) * 6);
  for (const auto& p : points_) {
    if (!std::isfinite(p.value)) continue;
    const double x = static_cast<double>(p.started - first) / scale;
    const auto column = std::clamp(static_cast<int>(x / x1 * kColumns), 0, kColumns - 1);
    const auto row =
        std::clamp(static_cast<int>((p.value - y_bottom) / y_span * kRows), 0, kRows - 1);
    const auto cell = static_cast<std::size_t>(column) * kRows + static_cast<std::size_t>(row);
    if (marked[cell]) continue;
    marked[cell] = true;
    add_segment(marks, {x - dx, p.value}, {x + dx, p.value});
    add_segment(marks, {x, p.value - dy}, {x, p.value + dy});
  }
  std::vector<PolySpline> traces;
  traces.emplace_back(std::move(marks), "runs", "blue", 1, LegendMark::Cross);
  std::vector<PlotPoint> limits;
  for (const auto& at : {s.low, s.high}) {
    if (!at) continue;
    add_segment(limits, {0, *at}, {x1, *at});
  }
  if (!limits.empty()) traces.emplace_back(std::move(limits), "limits", "red", 2);
  trend_plot->Draw(PlotGraphics(std::move(traces),
                                utf8(fmt::format("{} since {} UTC", days ? "days" : "hours",
                                                 results::utc_seconds_text(first))),
                                y_label),
                   {-2 * dx, x1 + 2 * dx}, {y0 - margin, y1 + margin});
}

void ResultsTool::export_csv(const std::string& path) {
  auto* store = presenter_.results();
  if (store == nullptr) return;
  if (exporting_) {
    tell_failure("An export is already under way: wait for it to end before starting another.");
    return;
  }
  // The thread of an export that has ended is done, or all but.
  if (exporter_.joinable()) exporter_.join();
  exporting_ = true;
  stop_export_ = false;
  const std::string starting = "Exporting the runs shown to " + path;
  result_line->show(utf8(starting));
  presenter_.show_message(starting);
  // The store outlives the thread: the bench stops the export before it lets go of the store.
  exporter_ = std::thread([this, store, filter = table_.filter(), path] {
    std::string what;
    bool failed = true;
    try {
      int shown = -1;  // the hundredth last said
      const auto exported = results::export_runs_csv(
          *store, filter, path, [this, &shown, &path](std::size_t done, std::size_t total) {
            if (stop_export_) return false;
            const int hundredth = total == 0 ? 100 : static_cast<int>(done * 100 / total);
            if (hundredth != shown && done < total) {
              shown = hundredth;
              post_([this, done, total, path] { export_progress(done, total, path); });
            }
            return true;
          });
      what = fmt::format("Exported {} {} ({} rows) to {}", counted(exported.runs),
                         exported.runs == 1 ? "run" : "runs", counted(exported.rows), path);
      failed = false;
    } catch (const std::exception& e) {
      what = e.what();
    }
    post_([this, what, failed] { export_ended(what, failed); });
  });
}

void ResultsTool::export_progress(std::size_t done, std::size_t total, const std::string& path) {
  if (!exporting_) return;
  const std::string text = fmt::format("Exporting the runs shown to {}: {} of {} runs written",
                                       path, counted(done), counted(total));
  result_line->show(utf8(text));
  presenter_.show_message(text);
}

void ResultsTool::export_ended(const std::string& what, bool failed) {
  exporting_ = false;
  if (failed) {
    tell_failure(what);
    return;
  }
  result_line->show(utf8(what));
  presenter_.show_message(what);
}

void ResultsTool::stop_export() {
  stop_export_ = true;
  if (exporter_.joinable()) exporter_.join();
}

}  // namespace Zelvar_Core::bench
