// One run of the bench: the model, presenter, main window and controller
// objects, built in the front end's start-up order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Zelvar_Core/Controllers/delegates.h"
#include "Zelvar_Core/Controllers/interactors.h"
#include "bench/board/folders.h"
#include "bench/host/app/reporting_app.h"
#include "bench/host/presenter/bench_initializer.h"
#include "bench/host/presenter/bench_presenter.h"
#include "bench/host/tools/board_simulator_tool.h"
#include "bench/host/tools/log_tool.h"
#include "bench/host/tools/playback_tool.h"
#include "bench/host/tools/rates_tool.h"
#include "bench/host/tools/results_settings.h"
#include "bench/host/tools/results_tool.h"
#include "bench/host/tools/self_test_window.h"
#include "bench/host/tools/sequence_tool.h"
#include "bench/host/tools/sweep_tool.h"
#include "bench/host/windows/help_window.h"

namespace Zelvar_Core::bench {

// A window built the first time it is asked for, not before the main window
// shows: used as the pointer it holds.
template <typename T>
class BuiltWhenAsked {
 public:
  void build_with(std::function<T*()> build) { build_ = std::move(build); }
  T* get() const {
    if (built_ == nullptr) built_ = build_();
    return built_;
  }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }
  operator T*() const { return get(); }
  bool built() const { return built_ != nullptr; }

 private:
  std::function<T*()> build_;
  mutable T* built_ = nullptr;
};

class BenchSession {
 public:
  // The bench on the board in this process (of `sensor`), or on `served` when given.
  explicit BenchSession(const BenchFolders& folders, std::unique_ptr<Board> served = nullptr,
                        SimulatedSensor sensor = SimulatedSensor::Aer640);
  ~BenchSession();
  BenchSession(const BenchSession&) = delete;
  BenchSession& operator=(const BenchSession&) = delete;

  // Shows the main window (the tool windows stay hidden).
  void show();
  // The Help window's About page: this program, its build, the board.
  std::string about_text() const;
  // Chooses a Tools entry as a click would.
  void choose_tool(const std::string& name);
  // Hands what escapes a handler to the presenter: errors to the log (and
  // so to the status bar), the user's cancels as information.
  void report_through(ReportingApp& app);
  // Opens the bench's results store (results.db in its folder, and the
  // lab's database `shared` when named) and hands it to the presenter; what
  // the store says goes to the log and the status bar. A store that cannot
  // be opened is told in one sentence, and the runs go on without it.
  void keep_results(const std::string& shared);
  // The operator, station, DUT and lab's database the bench keeps in its
  // settings, each given on the command line (`command_line`, "" where not)
  // used in its place until the bench closes: put in force and the results
  // store opened. A settings file that cannot be used is told in one
  // sentence, and the command line's values are used alone.
  void use_settings(const ResultsSettings& command_line);
  // The same without opening the store: the address of the lab's database
  // in force ("" for none), for keep_results once the window is up.
  std::string take_settings(const ResultsSettings& command_line);

  BenchFolders folders;
  BenchModel model;
  std::unique_ptr<BenchPresenter> presenter;
  BenchMainWindow* window;  // owned by wx; gone once closed
  std::unique_ptr<DelegatesMain> delegates;
  std::unique_ptr<BenchInitializer> initializer;
  std::unique_ptr<DelegatesEditMenuBase> edit_registers, edit_dacs;
  std::unique_ptr<DelegatesEditRegisterChip> edit_chip;
  // The tool windows, owned by the main window, each built when first
  // asked for (its Tools entry or key, a self-test, a scene, a test).
  BuiltWhenAsked<BoardSimulatorTool> simulator;
  BuiltWhenAsked<LogTool> log_tool;
  BuiltWhenAsked<PlaybackTool> playback_tool;
  BuiltWhenAsked<RatesTool> rates_tool;
  BuiltWhenAsked<SweepTool> sweep_tool;
  BuiltWhenAsked<SequenceTool> sequence_tool;
  BuiltWhenAsked<HelpWindow> help_window;
  BuiltWhenAsked<SelfTestWindow> self_test_window;
  BuiltWhenAsked<ResultsTool> results_tool;
  BuiltWhenAsked<ResultsSettingsTool> results_settings;
  MainInteractor main_interactor;
  InteractorEditMenuBase registers_interactor, dacs_interactor;
  InteractorEditRegisterChip chip_interactor;

 private:
  std::shared_ptr<GuiPost> error_post_, results_post_;
  // What the Tools menu opens: each tool, built when first opened.
  std::vector<std::unique_ptr<Tool>> tools_when_asked_;
  ResultsSettings saved_settings_, command_line_settings_;
};

}  // namespace Zelvar_Core::bench
