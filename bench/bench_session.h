// One run of the bench: the model, presenter, main window and controller
// objects, built in the front end's start-up order.
#pragma once

#include <wx/app.h>

#include <functional>
#include <memory>
#include <string>

#include "Zelvar_Core/Controllers/delegates.h"
#include "Zelvar_Core/Controllers/interactors.h"
#include "bench/bench_presenter.h"

namespace Zelvar_Core::bench {

class BenchSession {
 public:
  BenchSession();
  ~BenchSession();
  BenchSession(const BenchSession&) = delete;
  BenchSession& operator=(const BenchSession&) = delete;

  // Shows the main window (the tool windows stay hidden).
  void show();
  // Opens every tool window beside the main one with live data.
  void demo();

  BenchModel model;
  std::unique_ptr<BenchPresenter> presenter;
  BenchMainWindow* window;  // owned by wx; gone once closed
  std::unique_ptr<DelegatesMain> delegates;
  std::unique_ptr<BenchInitializer> initializer;
  std::unique_ptr<DelegatesEditMenuBase> edit_registers, edit_dacs;
  std::unique_ptr<DelegatesEditRegisterChip> edit_chip;
  BoardSimulatorTool* simulator;  // owned by the main window
  MainInteractor main_interactor;
  InteractorEditMenuBase registers_interactor, dacs_interactor;
  InteractorEditRegisterChip chip_interactor;
};

// An application that catches what escapes an event handler or the main
// loop, hands it to `on_error` and goes on.
class ReportingApp : public wxApp {
 public:
  bool OnExceptionInMainLoop() override;
  void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                        wxEvent& event) const override;
  std::function<void(const std::string&)> on_error;

 private:
  void report_current_exception() const;
};

}  // namespace Zelvar_Core::bench
