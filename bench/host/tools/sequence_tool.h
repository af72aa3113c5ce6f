// Tools > Run sequence...: a test sequence chosen, checked whole, run on a
// worker thread with a progress window (the current step, the time it has
// taken, Abort), and reported as CSV in the reports folder.
#pragma once

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <atomic>
#include <chrono>

#include "bench/host/presenter/presenter_bench.h"
#include "bench/host/tools/run_thread.h"
#include "bench/host/windows/path_field.h"
#include "bench/host/windows/tool_frame.h"
#include "bench/sequences/sequence_report.h"

namespace Zelvar_Core::bench {

class SequenceTool : public ToolFrame {
 public:
  SequenceTool(wxWindow* parent, BenchPresenter& presenter);
  // Asks for a sequence and runs it; while one runs, shows its progress.
  void open() override;
  // Checks the sequence at `path` and starts it (refusals are errors).
  void run(const std::string& path);
  bool running() const { return run_.running(); }
  const std::string& last_report() const { return report_path_; }
  int last_exit_code() const { return exit_code_; }

  wxStaticText* file_text;
  wxStaticText* step_text;
  wxStaticText* elapsed_text;
  wxListBox* steps_list;
  wxStaticText* result_text;  // "4 of 4 expectations held (8 of 8 rows in range)", or why it ended
  PathField* report_text;     // the report's path (or why it was not written)
  wxButton *button_folder, *button_copy;
  wxButton* button_abort;

 private:
  // A sequence refused before it ran: shown in the window, then thrown.
  [[noreturn]] void refused(const std::string& path, const std::string& why);
  void finished(const Sequence& sequence, const SequenceReport& report, SequenceRecord& record,
                std::vector<std::pair<std::string, std::string>> files);
  // The run's record in the bench's results store, in place of its last;
  // the first failure of a run is told (on any thread) and the run goes on.
  void keep(const results::TestRecord& record);
  // "Elapsed 1.2 s" since the run started; returns the seconds.
  double show_elapsed();
  // Widens the window until `text` fits in `control`, as far as the screen has room.
  void show_whole(const wxWindow* control, const wxString& text);

  BenchPresenter& presenter_;
  GuiPost post_;
  RunThread run_;
  wxTimer clock_;
  std::chrono::steady_clock::time_point started_;
  Settings settings_;
  BoardDeclaration declaration_;  // the board the run was on: the report's columns
  std::string report_path_;
  int exit_code_ = -1;
  std::atomic<bool> store_told_{false};
};

}  // namespace Zelvar_Core::bench
