#include "bench/host/tools/sequence_tool.h"

#include <fmt/format.h>
#include <wx/filedlg.h>
#include <wx/gdicmn.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <algorithm>
#include <filesystem>

#include "bench/board/whole_file.h"
#include "bench/host/windows/desktop.h"
#include "bench/host/windows/path_field.h"
#include "bench/sequences/csv.h"

namespace Zelvar_Core::bench {

SequenceTool::SequenceTool(wxWindow* parent, BenchPresenter& presenter)
    : ToolFrame(parent, "Run sequence", wxSize(640, 380)),
      presenter_(presenter),
      post_([&presenter](const std::string& what) { presenter.report_error(what); }),
      run_(presenter) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  file_text = new wxStaticText(panel, wxID_ANY, "No sequence");
  step_text = new wxStaticText(panel, wxID_ANY, "");
  elapsed_text = new wxStaticText(panel, wxID_ANY, "");
  steps_list = new wxListBox(panel, wxID_ANY);
  result_text = new wxStaticText(panel, wxID_ANY, "");
  report_text = new PathField(panel);
  button_folder = new wxButton(panel, wxID_ANY, "Open folder");
  button_folder->SetToolTip("Open the reports folder");
  button_copy = new wxButton(panel, wxID_ANY, "Copy path");
  button_copy->SetToolTip("Copy the report's path");
  button_abort = new wxButton(panel, wxID_ANY, "Abort");
  button_abort->SetToolTip("Stop the run at its step; what was set is kept");
  sizer->Add(file_text, 0, wxALL, 6);
  sizer->Add(step_text, 0, wxLEFT | wxRIGHT, 6);
  sizer->Add(elapsed_text, 0, wxALL, 6);
  sizer->Add(steps_list, 1, wxEXPAND | wxLEFT | wxRIGHT, 6);
  sizer->Add(result_text, 0, wxALL, 6);
  auto* report_row = new wxBoxSizer(wxHORIZONTAL);
  report_row->Add(new wxStaticText(panel, wxID_ANY, "Report"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
                  6);
  report_row->Add(report_text, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  report_row->Add(button_folder, 0, wxRIGHT, 6);
  report_row->Add(button_copy, 0, wxRIGHT, 18);
  report_row->Add(button_abort, 0);
  sizer->Add(report_row, 0, wxEXPAND | wxALL, 6);
  panel->SetSizer(sizer);
  button_abort->Disable();
  button_folder->Disable();
  button_copy->Disable();
  button_folder->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    result_text->SetLabel(
        wxString::FromUTF8(open_on_desktop(presenter_.folders().reports.string())));
  });
  button_copy->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    result_text->SetLabel(wxString::FromUTF8(copy_path(report_path_)));
  });
  button_abort->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    run_.abort();
    step_text->SetLabel("Aborting...");
  });
  clock_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { show_elapsed(); });
}

double SequenceTool::show_elapsed() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  elapsed_text->SetLabel(wxString::Format("Elapsed %.1f s", seconds));
  return seconds;
}

void SequenceTool::show_whole(const wxWindow* control, const wxString& text) {
  // As wide as the text needs, as far as the screen has room (moving left
  // when the room is there), never narrower.
  const int short_by = control->GetTextExtent(text).x + FromDIP(24) - control->GetClientSize().x;
  if (short_by <= 0) return;
  const wxRect screen = wxGetClientDisplayRect();
  wxRect frame = GetRect();
  frame.width = std::min(frame.width + short_by, screen.width);
  frame.x = std::max(screen.x, std::min(frame.x, screen.GetRight() + 1 - frame.width));
  SetSize(frame);
  Layout();
}

void SequenceTool::open() {
  if (!run_.running()) {
    const std::filesystem::path examples = presenter_.folders().root / "sequences";
    wxFileDialog dialog(GetParent(), "Run sequence",
                        wxString::FromUTF8(std::filesystem::is_directory(examples)
                                               ? examples.string()
                                               : presenter_.folders().root.string()),
                        "", "Test sequences (*.json)|*.json", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() == wxID_CANCEL) return;
    run(dialog.GetPath().utf8_string());
  }
  bring_up();
}

void SequenceTool::run(const std::string& path) {
  if (run_.running()) throw std::runtime_error("A sequence is already running: abort it first");
  PresenterBench check(presenter_, run_.aborted());
  Sequence sequence;
  try {
    sequence = load_sequence(path, check);  // refused whole, naming the step
    if (!presenter_.board().connected())
      throw SequenceError("No board is connected: the sequence needs one");
  } catch (const SequenceError& e) {
    refused(path, e.what());
  }
  result_text->SetLabel("");
  report_text->set_path("");
  button_folder->Disable();
  button_copy->Disable();
  settings_ = check.settings();
  declaration_ = check.declaration();
  steps_list->Clear();
  for (const Step& step : sequence.steps) {
    steps_list->Append(wxString::FromUTF8(fmt::format("{}. {}", step.number, step.describe())));
    show_whole(steps_list, steps_list->GetString(steps_list->GetCount() - 1));
  }
  file_text->SetLabel(wxString::FromUTF8(sequence.name + " (" + path + ")"));
  step_text->SetLabel("Starting");
  button_abort->Enable();
  exit_code_ = -1;
  presenter_.logger->info("Sequence {} started: {}", sequence.name, path);
  started_ = std::chrono::steady_clock::now();
  show_elapsed();
  clock_.Start(200);
  store_told_ = false;
  // The site as it stands now: the settings may change it while this runs.
  run_.start([this, sequence, site = presenter_.run_site] {
    PresenterBench board(presenter_, run_.aborted());
    // The run's files noted for its test record, kept after each step.
    FileNotingBench bench(board);
    auto record = std::make_shared<SequenceRecord>(
        record_start(results::new_run_id(), "sequence", bench, site), sequence,
        [this](const results::TestRecord& r) { keep(r); });
    SequenceObserver observer;
    observer.started = [this](const Step& step) {
      post_([this, step] {
        step_text->SetLabel(
            wxString::FromUTF8(fmt::format("Step {}: {}", step.number, step.describe())));
        steps_list->SetSelection(step.number - 1);
      });
    };
    observer.done = [this](const Step& step, const std::string& outcome) {
      post_([this, step, outcome] {
        const wxString line =
            wxString::FromUTF8(fmt::format("{}. {}: {}", step.number, step.describe(), outcome));
        steps_list->SetString(step.number - 1, line);
        show_whole(steps_list, line);
        presenter_.logger->info("Step {} ({}): {}", step.number, step.describe(), outcome);
      });
    };
    const SequenceReport report = run_sequence(sequence, bench, record->observer(observer));
    post_([this, sequence, report, record, files = bench.files()] {
      finished(sequence, report, *record, files);
    });
  });
}

void SequenceTool::keep(const results::TestRecord& record) {
  presenter_.keep_record(record, store_told_,
                         "The run goes on; its report is written all the same.");
}

void SequenceTool::refused(const std::string& path, const std::string& why) {
  // Told in the window, which shows, and in the status bar and the log.
  const std::string said =
      (why.find(path) == std::string::npos ? path + ": " : "") + why + "; nothing was run";
  file_text->SetLabel(wxString::FromUTF8(path));
  step_text->SetLabel("Refused");
  elapsed_text->SetLabel("");
  steps_list->Clear();
  result_text->SetLabel(wxString::FromUTF8(said));
  report_text->set_path("");
  button_folder->Disable();
  button_copy->Disable();
  Layout();
  bring_up();
  throw SequenceError(said);
}

void SequenceTool::finished(const Sequence& sequence, const SequenceReport& report,
                            SequenceRecord& record,
                            std::vector<std::pair<std::string, std::string>> files) {
  clock_.Stop();
  // The time the run took, the same in the window and in the log.
  const double seconds = show_elapsed();
  presenter_.logger->info("Sequence {} took {:.1f} s", sequence.name, seconds);
  button_abort->Disable();
  exit_code_ = report.exit_code();
  ensure_folder(presenter_.folders().reports);
  report_path_ = report_path(presenter_.folders().reports,
                             std::filesystem::path(sequence.path).stem().string(), ".csv");
  std::string write_error;
  try {
    write_whole_file(report_path_, report_csv(sequence, report, settings_, declaration_));
  } catch (const std::runtime_error& e) {
    write_error = e.what();
  }
  if (write_error.empty()) files.insert(files.begin(), {"report", report_path_});
  keep(record.finish(report, files));
  const std::string said =
      report.completed
          ? fmt::format("Sequence {}: {}; report {}", sequence.name, expectations_text(report),
                        report_path_)
          : fmt::format("Sequence {} {}; report {}", sequence.name, report.ended, report_path_);
  step_text->SetLabel(wxString::FromUTF8(report.completed ? "Done" : report.ended));
  result_text->SetLabel(wxString::FromUTF8(
      report.completed ? expectations_text(report) : "The run did not end: " + report.ended));
  if (write_error.empty()) {
    report_text->set_path(report_path_);
    button_folder->Enable();
    button_copy->Enable();
  } else {
    report_text->set_path("not written: " + write_error);
  }
  // The whole path in view, as far as the screen has room.
  show_whole(report_text, wxString::FromUTF8(report_text->path()));
  if (!write_error.empty())
    presenter_.report_error("Cannot write the report " + report_path_ + ": " + write_error);
  else if (report.exit_code() == 0 || report.ended.rfind("aborted", 0) == 0)
    presenter_.logger->info("{}", said), presenter_.show_message(said);
  else
    presenter_.report_error(said);
}

}  // namespace Zelvar_Core::bench
