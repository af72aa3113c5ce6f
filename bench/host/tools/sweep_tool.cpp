#include "bench/host/tools/sweep_tool.h"

#include <fmt/format.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/imagpng.h>
#include <wx/mstream.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <cmath>
#include <filesystem>

#include "bench/board/whole_file.h"
#include "bench/sequences/csv.h"

namespace Zelvar_Core::bench {

namespace {

std::int64_t integer_field(const wxTextCtrl* field, const char* what) {
  return parse_integer(what, field->GetValue().utf8_string(), INT64_MIN, INT64_MAX);
}

double seconds_field(const wxTextCtrl* field, const char* what) {
  double value = 0;
  wxString text = field->GetValue();
  if (!text.Trim(true).Trim(false).ToCDouble(&value))
    throw std::invalid_argument(std::string("Sweep: ") + what + " \"" +
                                field->GetValue().utf8_string() + "\" is not a number of seconds");
  return value;
}

// Each column with its unit: rates in events per second, then the board's
// ADC channels in its order, in theirs (a long name shortened to fit).
std::vector<std::string> table_columns(const std::vector<AdcChannelDeclaration>& channels) {
  std::vector<std::string> columns = {"Value", "ON mean (ev/s)", "ON sd (ev/s)", "OFF mean (ev/s)",
                                      "OFF sd (ev/s)"};
  for (auto channel : channels) {
    if (channel.name == "Temperature") channel.name = "Temp.";
    columns.push_back(channel.label());
  }
  return columns;
}

}  // namespace

SweepTool::SweepTool(wxWindow* parent, BenchPresenter& presenter)
    : ToolFrame(parent, "Sweep", wxSize(1060, 560)),
      presenter_(presenter),
      post_([&presenter](const std::string& what) { presenter.report_error(what); }),
      run_(presenter),
      declaration_(presenter.board().declaration()) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(build_form(panel), 0, wxALL, 6);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  button_run = new wxButton(panel, wxID_ANY, "Run");
  button_abort = new wxButton(panel, wxID_ANY, "Abort");
  button_csv = new wxButton(panel, wxID_ANY, "Save CSV...");
  button_png = new wxButton(panel, wxID_ANY, "Save PNG...");
  explain_controls();
  for (auto* b : {button_run, button_abort, button_csv, button_png}) buttons->Add(b, 0, wxRIGHT, 6);
  state_text = new wxStaticText(panel, wxID_ANY, "");
  buttons->Add(state_text, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 6);
  sizer->Add(buttons, 0, wxLEFT | wxRIGHT | wxBOTTOM, 6);
  saved_line = new ResultLine(panel);
  sizer->Add(saved_line, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  auto* results = new wxBoxSizer(wxHORIZONTAL);
  table = new wxListCtrl(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
  // Each column as wide as its heading, or as its widest value.
  int table_width = 0;
  for (const auto& heading : table_columns(presenter_.board().declaration().adc_channels)) {
    const wxString text = wxString::FromUTF8(heading);
    const int width = std::max(table->GetTextExtent(text).x, table->GetTextExtent("99999999").x) +
                      table->FromDIP(16);
    table->AppendColumn(text, wxLIST_FORMAT_RIGHT, width);
    table_width += width;
  }
  table->SetMinSize(wxSize(table_width + table->FromDIP(24), -1));
  plot = new PlotCanvas(panel);
  plot->SetMinSize(wxSize(420, 300));
  plot->enableLegend = true;
  results->Add(table, 0, wxEXPAND | wxRIGHT, 6);
  results->Add(plot, 1, wxEXPAND);
  sizer->Add(results, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  panel->SetSizer(sizer);
  button_abort->Disable();
  button_csv->Disable();
  button_png->Disable();

  bind_controls();
}

// The sweep's parameters, each under its label.
wxSizer* SweepTool::build_form(wxWindow* panel) {
  auto* form = new wxFlexGridSizer(2, 8, 6, 6);
  parameter_choice = new wxChoice(panel, wxID_ANY);
  // A board with more registers than a list holds well: the list shows those
  // whose names hold what the field above it says.
  const auto everything = presenter_.board().registers().all();
  if (everything.size() > kListedAtMost) {
    parameter_filter = new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, wxSize(160, -1));
    parameter_filter->SetHint("Find a register");
  }
  // The AER-640's threshold, or the board's first DAC.
  const auto dacs = presenter_.board().registers().bank(Bank::Dac);
  std::string chosen;
  for (const auto& r : everything)
    if (r.name == "VTH_ON") chosen = r.name;
  if (chosen.empty() && !dacs.empty()) chosen = dacs.front().name;
  list_parameters(everything, chosen);
  auto field = [panel](const char* value) {
    auto* f = new wxTextCtrl(panel, wxID_ANY, value, wxDefaultPosition, wxSize(80, -1));
    return f;
  };
  start_field = field("2000");
  stop_field = field("2800");
  step_field = field("200");
  values_field = new wxTextCtrl(panel, wxID_ANY, "", wxDefaultPosition, wxSize(160, -1));
  values_field->SetHint("or values: 2000, 2400");
  settle_field = field("0.2");
  measure_field = field("0.5");
  wxArrayString plotted;
  for (const auto& name : Measurement::names(presenter_.board().declaration().adc_channels))
    plotted.Add(name);
  plotted_choice = new wxChoice(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, plotted);
  plotted_choice->SetSelection(0);
  wxWindow* const parameter =
      parameter_filter ? static_cast<wxWindow*>(parameter_filter) : parameter_choice;
  const std::pair<const char*, wxWindow*> cells[] = {
      {"Parameter", parameter},       {"Start", start_field},   {"Stop", stop_field},
      {"Step", step_field},           {"Values", values_field}, {"Settle (s)", settle_field},
      {"Measure (s)", measure_field}, {"Plot", plotted_choice}};
  for (const auto& [label, widget] : cells) {
    auto* cell = new wxBoxSizer(wxVERTICAL);
    cell->Add(new wxStaticText(panel, wxID_ANY, label));
    cell->Add(widget, 0, wxEXPAND);
    if (widget == parameter_filter) cell->Add(parameter_choice, 0, wxEXPAND | wxTOP, 2);
    form->Add(cell, 0, wxEXPAND);
  }
  return form;
}

// At most kListedAtMost names, in the board's order: those holding the
// filter's text, whatever its case. The register chosen before stays listed
// and chosen while it holds the text; otherwise the first listed is chosen.
void SweepTool::list_parameters(const std::vector<Register>& registers, const std::string& chosen) {
  const wxString wanted = parameter_filter ? parameter_filter->GetValue().Lower() : wxString();
  const auto matches = [&wanted](const wxString& name) {
    return wanted.empty() || name.Lower().Find(wanted) != wxNOT_FOUND;
  };
  const wxString kept = wxString::FromUTF8(chosen);
  bool kept_listed = chosen.empty() || !matches(kept);
  wxArrayString names;
  for (const auto& r : registers) {
    if (names.size() >= kListedAtMost) break;
    const wxString name = wxString::FromUTF8(r.name);
    if (!matches(name)) continue;
    names.Add(name);
    kept_listed = kept_listed || name == kept;
  }
  if (!kept_listed) {
    if (names.size() >= kListedAtMost) names.RemoveAt(names.size() - 1);
    names.Insert(kept, 0);
  }
  parameter_choice->Set(names);
  if (!parameter_choice->SetStringSelection(kept) && !wanted.empty() && !names.empty())
    parameter_choice->SetSelection(0);
}

void SweepTool::bind_controls() {
  button_run->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { on_run(); });
  // A refused field typed into is the user's again.
  for (wxWindow* f : std::initializer_list<wxWindow*>{start_field, stop_field, step_field,
                                                      values_field, settle_field, measure_field})
    f->Bind(wxEVT_TEXT, [this, f](wxCommandEvent& event) {
      fields_.show(f, text_of(f));
      event.Skip();
    });
  button_abort->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    run_.abort();
    state_text->SetLabel("Aborting...");
  });
  plotted_choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { redraw(); });
  if (parameter_filter)
    parameter_filter->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
      list_parameters(presenter_.board().registers().all(),
                      parameter_choice->GetStringSelection().utf8_string());
      event.Skip();
    });
  auto save = [this](const char* title, const char* wildcard, const char* extension, auto write) {
    ensure_folder(presenter_.folders().reports);
    const std::string name =
        report_path("", running_plan_.name + "_sweep", extension);  // a name only
    wxFileDialog dialog(this, title, wxString::FromUTF8(presenter_.folders().reports.string()),
                        wxString::FromUTF8(name), wildcard, wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() == wxID_CANCEL) return;
    const std::string path = dialog.GetPath().utf8_string();
    // Told in this window, whole, as well as in the status bar and the log.
    try {
      write(path);
    } catch (const std::exception& e) {
      saved_line->show(wxString::FromUTF8(e.what()));
      throw;
    }
    presenter_.logger->info("Sweep saved to {}", path);
    presenter_.show_message("Sweep saved to " + path);
    saved_line->show(wxString::FromUTF8("Sweep saved to " + path));
  };
  button_csv->Bind(wxEVT_BUTTON, [this, save](wxCommandEvent&) {
    save("Save the sweep as CSV", "CSV files (*.csv)|*.csv", ".csv",
         [this](const std::string& path) { save_csv(path); });
  });
  button_png->Bind(wxEVT_BUTTON, [this, save](wxCommandEvent&) {
    save("Save the plot as PNG", "PNG images (*.png)|*.png", ".png",
         [this](const std::string& path) { save_png(path); });
  });
}

void SweepTool::open() {
  on_tick();
  bring_up(250);
}

Register SweepTool::swept_register(const std::string& name) const {
  try {
    return presenter_.board().registers().find(name);
  } catch (const std::out_of_range&) {
    throw std::invalid_argument("Sweep: choose the parameter to sweep");
  }
}

SweepPlan SweepTool::plan() const {
  SweepPlan plan;
  plan.name = parameter_choice->GetStringSelection().utf8_string();
  const Register r = swept_register(plan.name);
  plan.unit = r.unit;
  // Each field read on its own, so that a refusal names and marks its field.
  const auto read = [](wxWindow* field, const auto& parse) {
    try {
      return parse();
    } catch (const std::out_of_range& e) {
      throw SweepRefusal(field, std::string("Sweep refused: ") + e.what());
    } catch (const std::invalid_argument& e) {
      throw SweepRefusal(field, std::string("Sweep: ") + e.what());
    }
  };
  wxString list = values_field->GetValue();
  if (!list.Trim(true).Trim(false).empty()) {
    for (const auto& item : wxSplit(list, ','))
      plan.values.push_back(
          read(values_field, [&] { return parse_register_value(r, item.utf8_string()); }));
  } else {
    auto value = [&r](const wxTextCtrl* field) {
      return parse_register_value(r, field->GetValue().utf8_string());
    };
    const std::int64_t start = read(start_field, [&] { return value(start_field); });
    const std::int64_t stop = read(stop_field, [&] { return value(stop_field); });
    const std::int64_t step = read(step_field, [&] { return integer_field(step_field, "step"); });
    plan.values = read(step_field, [&] { return SweepPlan::range(r, start, stop, step); });
  }
  plan.settle = read(settle_field, [&] { return seconds_field(settle_field, "settle"); });
  plan.measure = read(measure_field, [&] { return seconds_field(measure_field, "measure"); });
  if (!(plan.settle >= 0) || plan.settle > 3600)
    throw SweepRefusal(settle_field, "Sweep refused: the settle time must be 0..3600 s");
  if (!(plan.measure >= 0.2) || plan.measure > 3600)
    throw SweepRefusal(measure_field, "Sweep refused: the measuring time must be 0.2..3600 s");
  return plan;
}

void SweepTool::refuse(const SweepRefusal& refusal) {
  if (refusal.field) fields_.refuse(refusal.field, refusal.what());
  state_text->SetLabel(wxString::FromUTF8(refusal.what()));
  Layout();
}

void SweepTool::clear_refusals() {
  for (wxWindow* field : std::initializer_list<wxWindow*>{
           start_field, stop_field, step_field, values_field, settle_field, measure_field})
    fields_.show(field, text_of(field));
}

void SweepTool::on_tick() {
  // Run waits for a board: greyed, and the window says why.
  if (run_.running()) return;
  const bool board = presenter_.board().connected();
  button_run->Enable(board);
  if (!board)
    state_text->SetLabel("No board is connected: a sweep needs one");
  else if (state_text->GetLabel() == "No board is connected: a sweep needs one")
    state_text->SetLabel("");
}

void SweepTool::explain_controls() {
  parameter_choice->SetToolTip("The register or DAC the sweep sets, step by step");
  if (parameter_filter)
    parameter_filter->SetToolTip(wxString::Format(
        "Lists the registers whose names hold this text, %u at most", kListedAtMost));
  start_field->SetToolTip("The first value, within the register's range");
  stop_field->SetToolTip("The last value (reached if the steps land on it)");
  step_field->SetToolTip("How far each step goes: not zero, and towards Stop");
  values_field->SetToolTip("Instead of Start/Stop/Step: the values in order, by commas");
  settle_field->SetToolTip("Seconds to wait after each setting before measuring");
  measure_field->SetToolTip("Seconds of events measured at each step");
  plotted_choice->SetToolTip("What the plot shows against the parameter");
  button_run->SetToolTip("Run the sweep; the parameter is put back to its value afterwards");
  button_abort->SetToolTip("Stop after the step under way and put the parameter back");
  button_csv->SetToolTip("Save the table as CSV, with the settings in force");
  button_png->SetToolTip("Save the plot as a PNG picture");
}

void SweepTool::on_run() {
  if (run_.running()) throw std::runtime_error("A sweep is already running: abort it first");
  clear_refusals();
  SweepPlan sweep;
  PresenterBench check(presenter_, run_.aborted());
  try {
    sweep = plan();
    // Refused before anything is sent.
    const std::string problem = check_sweep(sweep, check);
    if (!problem.empty()) throw SweepRefusal(values_field, "Sweep refused: " + problem);
    if (!presenter_.board().connected())
      throw SweepRefusal(nullptr, "No board is connected: sweep not started");
  } catch (const SweepRefusal& refusal) {
    refuse(refusal);
    throw;  // and the status bar and the log have it too
  }
  running_plan_ = sweep;
  settings_ = check.settings();
  declaration_ = check.declaration();
  rows_.clear();
  table->DeleteAllItems();
  redraw();
  button_run->Disable();
  button_abort->Enable();
  button_csv->Disable();
  button_png->Disable();
  state_text->SetLabel(wxString::Format("Step 1 of %zu", sweep.values.size()));
  presenter_.logger->info("Sweep of {} over {} values started", sweep.name, sweep.values.size());
  store_told_ = false;
  run_.start([this, sweep, channels = declaration_.adc_channels, site = presenter_.run_site] {
    PresenterBench bench(presenter_, run_.aborted());
    // Its test record, INCOMPLETE and kept again after each value, so that
    // a bench that ends mid-sweep leaves the values it measured.
    std::optional<results::TestRecord> start;
    try {
      start = record_start(results::new_run_id(), "sweep", bench, site);
      keep(sweep_progress(*start, sweep, {}, channels));
    } catch (const std::exception& e) {
      presenter_.logger->error("The sweep keeps no test record: {}", e.what());
    }
    std::vector<SweepRow> measured;
    SweepOutcome outcome;
    try {
      outcome = run_sweep(sweep, bench, [&](std::size_t, const SweepRow& row) {
        // Kept before the window shows it: a value in the table is in the store.
        if (start) {
          measured.push_back(row);
          keep(sweep_progress(*start, sweep, measured, channels));
        }
        post_([this, row] { add_row(row); });
      });
    } catch (const std::exception& e) {
      outcome.ended = e.what();
    }
    bench.finish();
    post_([this, outcome, start] { finished(outcome, start); });
  });
}

void SweepTool::add_row(const SweepRow& row) {
  rows_.push_back(row);
  const Measurement& m = row.measurement;
  const long item = table->InsertItem(table->GetItemCount(),
                                      wxString::Format("%lld", static_cast<long long>(row.value)));
  const double cells[] = {m.on_mean, m.on_std, m.off_mean, m.off_std};
  for (int i = 0; i < 4; ++i)  // a spread of one interval is unavailable, not 0
    table->SetItem(item, i + 1,
                   std::isfinite(cells[i]) ? wxString::Format("%.0f", cells[i]) : "n/a");
  const auto columns = static_cast<std::size_t>(table->GetColumnCount());
  for (std::size_t i = 0; i < m.adc_means.size() && i + 5 < columns; ++i)
    table->SetItem(item, static_cast<long>(i) + 5, wxString::Format("%.3f", m.adc_means[i]));
  state_text->SetLabel(
      wxString::Format("Step %zu of %zu done", rows_.size(), running_plan_.values.size()));
  redraw();
}

namespace {

// What a measurement is, with its unit, for the plot's axis: an ADC
// channel's mean by its label ("VDD (V)").
std::string measurement_label(const std::string& name,
                              const std::vector<AdcChannelDeclaration>& channels) {
  static const std::pair<const char*, const char*> labels[] = {
      {"on_rate_mean", "ON rate, mean (events/s)"},
      {"on_rate_std", "ON rate, spread (events/s)"},
      {"off_rate_mean", "OFF rate, mean (events/s)"},
      {"off_rate_std", "OFF rate, spread (events/s)"},
      {"on_off_ratio", "ON/OFF ratio"}};
  for (const auto& [key, label] : labels)
    if (name == key) return label;
  for (const auto& channel : channels_or_default(channels))
    if (name == Measurement::mean_name(channel)) return channel.label();
  return name;
}

// The spread that goes with a mean, as its error bars ("" for none).
std::string spread_of(const std::string& name) {
  if (name == "on_rate_mean") return "on_rate_std";
  if (name == "off_rate_mean") return "off_rate_std";
  return "";
}

void add_segment(std::vector<PlotPoint>& points, PlotPoint a, PlotPoint b) {
  const double gap = std::nan("");
  points.push_back(a);
  points.push_back(b);
  points.push_back({gap, gap});  // the next segment is not joined to this one
}

}  // namespace

void SweepTool::redraw() {
  const std::string name = plotted_choice->GetStringSelection().utf8_string();
  const std::string spread = spread_of(name);
  std::vector<PlotPoint> points, markers, bars;
  double lo = 0, hi = 0;
  bool any = false;
  for (const auto& row : rows_) {
    const double y = row.measurement.value(name);
    const double sd = spread.empty() ? 0.0 : row.measurement.value(spread);
    points.push_back({static_cast<double>(row.value), y});
    if (!std::isfinite(y)) continue;
    const double reach = std::isfinite(sd) ? sd : 0.0;
    lo = any ? std::min(lo, y - reach) : y - reach;
    hi = any ? std::max(hi, y + reach) : y + reach;
    any = true;
  }
  const double x0 = running_plan_.values.empty()
                        ? 0
                        : static_cast<double>(*std::min_element(running_plan_.values.begin(),
                                                                running_plan_.values.end()));
  double x1 = running_plan_.values.empty()
                  ? 1
                  : static_cast<double>(*std::max_element(running_plan_.values.begin(),
                                                          running_plan_.values.end()));
  if (!(x1 > x0)) x1 = x0 + 1;
  // A flat line (all rates 0, say) gets a range of its own size, or of 1.
  const double margin = std::max((hi - lo) * 0.1, std::max(std::abs(hi) * 0.05, 0.5));
  // Each measured point marked, and its spread drawn as an error bar.
  const double dx = (x1 - x0) / 100, dy = (hi - lo + 2 * margin) / 60;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const PlotPoint p = points[i];
    if (!std::isfinite(p.y)) continue;
    add_segment(markers, {p.x - dx, p.y}, {p.x + dx, p.y});
    add_segment(markers, {p.x, p.y - dy}, {p.x, p.y + dy});
    const double sd = spread.empty() ? std::nan("") : rows_[i].measurement.value(spread);
    if (!std::isfinite(sd)) continue;
    add_segment(bars, {p.x, p.y - sd}, {p.x, p.y + sd});
    add_segment(bars, {p.x - dx, p.y - sd}, {p.x + dx, p.y - sd});
    add_segment(bars, {p.x - dx, p.y + sd}, {p.x + dx, p.y + sd});
  }
  std::vector<PolySpline> traces;
  traces.emplace_back(std::move(points), "mean", "blue", 2);
  traces.emplace_back(std::move(markers), "measured", "blue", 1, LegendMark::Cross);
  if (!spread.empty())
    traces.emplace_back(std::move(bars), "\u00b1 1 sd", "orange red", 1, LegendMark::ErrorBar);
  const std::string chosen = running_plan_.name.empty()
                                 ? parameter_choice->GetStringSelection().utf8_string()
                                 : running_plan_.name;
  std::string x_label = chosen;
  if (presenter_.board().registers().has(chosen)) {
    // The parameter with the unit the board gives it.
    const Register swept = swept_register(chosen);
    const auto dacs = presenter_.board().registers().bank(Bank::Dac);
    const bool dac = std::any_of(dacs.begin(), dacs.end(),
                                 [&](const Register& r) { return r.name == swept.name; });
    x_label = !swept.unit.empty() ? register_caption(swept)
              : dac               ? swept.name + " (DAC counts)"
                                  : swept.name + " (register value)";
  }
  plot->Draw(PlotGraphics(std::move(traces), wxString::FromUTF8(x_label),
                          wxString::FromUTF8(measurement_label(name, declaration_.adc_channels))),
             {x0, x1}, {lo - margin, hi + margin});
}

void SweepTool::keep(const results::TestRecord& record) {
  presenter_.keep_record(record, store_told_,
                         "The sweep goes on; its table is written all the same.");
}

void SweepTool::finished(const SweepOutcome& outcome,
                         const std::optional<results::TestRecord>& start) {
  // What was measured is written as the sweep's report, however it ended.
  std::vector<std::pair<std::string, std::string>> files;
  if (!rows_.empty()) {
    std::string path;
    try {
      ensure_folder(presenter_.folders().reports);
      // A name of its own: a sweep ended in the same second keeps its table.
      const std::string first =
          report_path(presenter_.folders().reports, running_plan_.name + "_sweep", "");
      path = first + ".csv";
      for (int n = 2; std::filesystem::exists(path); ++n)
        path = first + "_" + std::to_string(n) + ".csv";
      try {
        write_whole_file(path, sweep_csv(running_plan_, rows_, settings_, declaration_), false);
      } catch (const std::runtime_error& e) {
        throw std::runtime_error("Cannot write the sweep to " + path + ": " + e.what());
      }
      files.emplace_back("report", path);
      presenter_.logger->info("Sweep saved to {}", path);
      saved_line->show(wxString::FromUTF8("Sweep saved to " + path));
    } catch (const std::exception& e) {
      presenter_.logger->error("{}", e.what());
      saved_line->show(wxString::FromUTF8(e.what()));
    }
  }
  if (start) keep(sweep_record(*start, running_plan_, outcome, declaration_.adc_channels, files));
  button_run->Enable();
  button_abort->Disable();
  button_csv->Enable(!rows_.empty());
  button_png->Enable(!rows_.empty());
  const std::string said =
      outcome.completed
          ? fmt::format("Sweep of {} done: {} rows; {}", running_plan_.name, rows_.size(),
                        outcome.restored)
          : fmt::format("Sweep of {} {}; {}", running_plan_.name, outcome.ended, outcome.restored);
  state_text->SetLabel(wxString::FromUTF8(
      outcome.completed ? "Done; " + outcome.restored : outcome.ended + "; " + outcome.restored));
  if (outcome.completed || outcome.ended.rfind("aborted", 0) == 0) {
    presenter_.logger->info("{}", said);
    presenter_.show_message(said);
  } else {
    presenter_.report_error(said);
  }
}

void SweepTool::save_csv(const std::string& path) const {
  try {
    write_whole_file(path, sweep_csv(running_plan_, rows_, settings_, declaration_));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("Cannot write the sweep to " + path + ": " + e.what());
  }
}

void SweepTool::save_png(const std::string& path) const {
  const wxSize size(800, 500);
  wxBitmap bitmap(size);
  {
    wxMemoryDC memory(bitmap);
    wxGCDC dc(memory);
    plot->Render(dc, size);
  }
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  // Encoded in memory, then written whole: a full disk leaves no half image.
  wxMemoryOutputStream png;
  if (!bitmap.ConvertToImage().SaveFile(png, wxBITMAP_TYPE_PNG))
    throw std::runtime_error("Cannot write the plot to " + path + ": the image cannot be encoded");
  std::string bytes(png.GetSize(), '\0');
  png.CopyTo(bytes.data(), bytes.size());
  try {
    write_whole_file(path, bytes);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("Cannot write the plot to " + path + ": " + e.what());
  }
}

}  // namespace Zelvar_Core::bench
