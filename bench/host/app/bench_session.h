// One run of the bench: the model, presenter, main window and controller
// objects, built in the front end's start-up order.
#pragma once

#include <memory>
#include <string>

#include "Zelvar_Core/Controllers/delegates.h"
#include "Zelvar_Core/Controllers/interactors.h"
#include "bench/board/folders.h"
#include "bench/host/presenter/bench_initializer.h"
#include "bench/host/presenter/bench_presenter.h"
#include "bench/host/tools/board_simulator_tool.h"
#include "bench/host/windows/help_window.h"
#include "bench/host/tools/log_tool.h"
#include "bench/host/tools/playback_tool.h"
#include "bench/host/tools/rates_tool.h"
#include "bench/host/app/reporting_app.h"
#include "bench/host/tools/self_test_window.h"
#include "bench/host/tools/sequence_tool.h"
#include "bench/host/tools/sweep_tool.h"

namespace Zelvar_Core::bench {

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

  BenchFolders folders;
  BenchModel model;
  std::unique_ptr<BenchPresenter> presenter;
  BenchMainWindow* window;  // owned by wx; gone once closed
  std::unique_ptr<DelegatesMain> delegates;
  std::unique_ptr<BenchInitializer> initializer;
  std::unique_ptr<DelegatesEditMenuBase> edit_registers, edit_dacs;
  std::unique_ptr<DelegatesEditRegisterChip> edit_chip;
  BoardSimulatorTool* simulator;     // owned by the main window
  LogTool* log_tool;                 // likewise
  PlaybackTool* playback_tool;       // likewise
  RatesTool* rates_tool;             // likewise
  SweepTool* sweep_tool;             // likewise
  SequenceTool* sequence_tool;       // likewise
  HelpWindow* help_window;           // likewise
  SelfTestWindow* self_test_window;  // likewise
  MainInteractor main_interactor;
  InteractorEditMenuBase registers_interactor, dacs_interactor;
  InteractorEditRegisterChip chip_interactor;

 private:
  std::shared_ptr<GuiPost> error_post_;
};

}  // namespace Zelvar_Core::bench
