#include "bench/host/app/bench_session.h"

#include <fmt/format.h>
#include <wx/toplevel.h>

#include "Zelvar_Core/version.h"
#include "bench/host/app/log_book.h"
#include "bench/host/windows/placement.h"

namespace Zelvar_Core::bench {

BenchSession::BenchSession(const BenchFolders& folders_, std::unique_ptr<Board> served,
                           SimulatedSensor sensor)
    : folders(folders_), model(std::move(served), sensor), window(nullptr) {
  // The recent-files list lives in tmp; the menu bar reads it when built.
  ensure_folder(folders.tmp);
  presenter = std::make_unique<BenchPresenter>(model, folders);
  // Every error of any logger reaches the status bar, on the GUI thread; what
  // is logged while the windows are being built shows once they stand.
  error_post_ = std::make_shared<GuiPost>([](const std::string&) {});
  LogBook::instance().set_error_listener([this, post = error_post_](const LogEntry& entry) {
    const std::string text = "Error: " + entry.message;
    if (wxIsMainThread() && window != nullptr && delegates != nullptr)
      presenter->show_message(text);
    else
      (*post)([this, text] { presenter->show_message(text); });
  });
  window = new BenchMainWindow(model, chip_modes());
  window->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& event) {
    if (event.GetEventObject() == window) window = nullptr;
    event.Skip();
  });
  // The front end's windows open beside the main window too, not over its menu.
  for (wxTopLevelWindow* frame : std::initializer_list<wxTopLevelWindow*>{
           window->edit_register_device_frame, window->edit_register_chip_frame,
           window->edit_dac_frame, window->device_info_frame, window->image_histogram_frame,
           window->serial_control_frame, window->adc_control_frame})
    open_beside_when_first_shown(*frame, *window);
  presenter->attach(*window);
  delegates = std::make_unique<DelegatesMain>(*presenter, *window, model);
  presenter->delegates_main = delegates.get();
  edit_registers = std::make_unique<DelegatesEditMenuBase>(
      *presenter, *window->edit_register_device_frame, model);
  edit_dacs = std::make_unique<DelegatesEditMenuBase>(*presenter, *window->edit_dac_frame, model);
  edit_chip = std::make_unique<DelegatesEditRegisterChip>(*presenter,
                                                          *window->edit_register_chip_frame, model);
  initializer = std::make_unique<BenchInitializer>(model, *presenter, presenter->status());
  presenter->initializer = initializer.get();

  simulator = new BoardSimulatorTool(window, model.simulated_device, model.board().address());
  log_tool = new LogTool(window, LogBook::instance(), folders.logs.string());
  playback_tool = new PlaybackTool(window, *presenter);
  rates_tool = new RatesTool(window, presenter->rates());
  sweep_tool = new SweepTool(window, *presenter);
  sequence_tool = new SequenceTool(window, *presenter);
  const std::pair<const char*, Tool*> host_tools[] = {
      {"Board simulator", simulator}, {"Log", log_tool},     {"Playback", playback_tool},
      {"Rates", rates_tool},          {"Sweep", sweep_tool}, {"Run sequence...", sequence_tool}};
  std::vector<std::string> names;
  for (const auto& [name, tool] : host_tools) {
    presenter->tools[name] = tool;
    names.push_back(name);
  }
  window->menu_bar->configure_tools(names);
  // The bench's keys, F1 and Ctrl+Q among them (the menu bar stays the front
  // end's own).
  const std::vector<BenchKey> keys = bench_keys(*window);
  install_keys(*window, keys);
  help_window = new HelpWindow(window, keys, folders, [this] { return about_text(); });
  self_test_window = new SelfTestWindow(window);
  initializer->show = [this](const std::vector<SelfTestStep>& steps) {
    self_test_window->show(steps);
  };
  bind_help_keys(*window, *help_window);
  window->adc_control_frame->update_values(presenter->adc_channels(), presenter->sample_time());
  window->edit_register_device_frame->update_values(model.registers_as_values());
  window->edit_dac_frame->update_values(model.dacs_as_values());

  main_interactor.install(*presenter, *window);
  registers_interactor.install(*edit_registers, *window->edit_register_device_frame);
  dacs_interactor.install(*edit_dacs, *window->edit_dac_frame);
  chip_interactor.install(*edit_chip, *window->edit_register_chip_frame);
  presenter->update_view();
}

BenchSession::~BenchSession() {
  LogBook::instance().set_error_listener(nullptr);
  error_post_.reset();
  // Normally the main window has closed itself; if not, the threads end
  // before the windows go, and the windows before the objects they call.
  presenter->close();
  delete window;
}

void BenchSession::report_through(ReportingApp& app) {
  app.on_error = [this](const std::string& what) { presenter->report_error(what); };
  app.on_cancelled = [this](const std::string& what) { presenter->report_cancelled(what); };
}

std::string BenchSession::about_text() const {
  auto& board = model.board();
  return fmt::format(
      "pravel {} (Zelvar_Core {}), the AER sensor test bench\n"
      "Built on {} with GCC {}.{} and wxWidgets {}.{}.{}\n\n"
      "Board: {}\nDesign on the board: {}\nStarted in: {}",
      kVersion, kVersion, __DATE__, __GNUC__, __GNUC_MINOR__, wxMAJOR_VERSION, wxMINOR_VERSION,
      wxRELEASE_NUMBER, board.connected() ? identity_of(board) : "none is connected",
      board.design().empty() ? "none" : board.design(), folders.root.string());
}

void BenchSession::show() {
  window->Show();
  window->fit_when_shown();
}

void BenchSession::choose_tool(const std::string& name) {
  wxCommandEvent event(wxEVT_MENU, window->menu_bar->menu_tools->items.at(name)->GetId());
  event.SetEventObject(window);
  window->ProcessWindowEvent(event);
}

}  // namespace Zelvar_Core::bench
