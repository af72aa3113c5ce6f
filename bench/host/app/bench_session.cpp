#include "bench/host/app/bench_session.h"

#include <fmt/format.h>
#include <wx/checkbox.h>
#include <wx/toplevel.h>

#include "Zelvar_Core/version.h"
#include "bench/host/app/log_book.h"
#include "bench/host/presenter/presenter_bench.h"
#include "bench/host/windows/chip_editor.h"
#include "bench/host/windows/placement.h"

namespace Zelvar_Core::bench {

namespace {

// A tool as the Tools menu holds it, building the window when first asked.
class ToolWhenAsked : public Tool {
 public:
  explicit ToolWhenAsked(std::function<Tool*()> tool) : tool_(std::move(tool)) {}
  bool is_shown() override { return tool_()->is_shown(); }
  void open() override { tool_()->open(); }

 private:
  std::function<Tool*()> tool_;
};

}  // namespace

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

  // The tool windows are built when first asked for: the main window shows
  // without waiting for them.
  simulator.build_with([this] {
    return new BoardSimulatorTool(window, model.simulated_device, model.board().address());
  });
  log_tool.build_with(
      [this] { return new LogTool(window, LogBook::instance(), folders.logs.string()); });
  playback_tool.build_with([this] { return new PlaybackTool(window, *presenter); });
  rates_tool.build_with([this] { return new RatesTool(window, presenter->rates()); });
  sweep_tool.build_with([this] { return new SweepTool(window, *presenter); });
  sequence_tool.build_with([this] { return new SequenceTool(window, *presenter); });
  results_settings.build_with([this] {
    return new ResultsSettingsTool(
        window, results_settings_file(folders.tmp), saved_settings_, command_line_settings_,
        [this](const ResultsSettings& in_force, bool) {
          // The names from the next run on; the database from the next start,
          // so that no run or window loses the store it is writing to.
          presenter->run_site = {in_force.station, in_force.operator_name, in_force.dut};
          presenter->logger->info("Runs are kept with operator \"{}\", station \"{}\", DUT \"{}\"",
                                  in_force.operator_name, in_force.station, in_force.dut);
        });
  });
  results_tool.build_with([this] {
    auto* tool = new ResultsTool(window, *presenter);
    // A run's recording plays in the bench's own Playback tool.
    tool->play_recording = [this](const std::string& path) {
      playback_tool->open();
      playback_tool->open_recording(path);
    };
    return tool;
  });
  const std::pair<const char*, std::function<Tool*()>> host_tools[] = {
      {"Board simulator", [this] { return simulator.get(); }},
      {"Log", [this] { return log_tool.get(); }},
      {"Playback", [this] { return playback_tool.get(); }},
      {"Rates", [this] { return rates_tool.get(); }},
      {"Sweep", [this] { return sweep_tool.get(); }},
      {"Run sequence...", [this] { return sequence_tool.get(); }},
      {"Results", [this] { return results_tool.get(); }},
      {"Results settings...", [this] { return results_settings.get(); }}};
  std::vector<std::string> names;
  for (const auto& [name, tool] : host_tools) {
    tools_when_asked_.push_back(std::make_unique<ToolWhenAsked>(tool));
    presenter->tools[name] = tools_when_asked_.back().get();
    names.push_back(name);
  }
  window->menu_bar->configure_tools(names);
  // The bench's keys, F1 and Ctrl+Q among them (the menu bar stays the front
  // end's own).
  const std::vector<BenchKey> keys = bench_keys(*window);
  install_keys(*window, keys);
  help_window.build_with([this, keys] {
    return new HelpWindow(window, keys, folders, [this] { return about_text(); });
  });
  self_test_window.build_with([this] { return new SelfTestWindow(window); });
  initializer->show = [this](const std::vector<SelfTestStep>& steps) {
    self_test_window->show(steps);
  };
  // Each self-test keeps its test record, as a sequence's run does.
  initializer->start_record = [this] {
    static const std::atomic<bool> never{false};
    BoardBench bench(model.board(), folders, never);
    return record_start(results::new_run_id(), "self-test", bench, presenter->run_site);
  };
  initializer->keep_record = [this](const std::vector<SelfTestStep>& steps,
                                    results::TestRecord start) {
    results::ResultsStore* store = presenter->results();
    if (store == nullptr) return;
    try {
      store->save(self_test_record(std::move(start), steps));
    } catch (const std::exception& e) {
      presenter->report_error(std::string(e.what()) +
                              " The self-test's steps are in the log all the same.");
    }
  };
  bind_help_keys(*window, [this]() -> HelpWindow& { return *help_window; });
  window->adc_control_frame->update_values(presenter->adc_channels(), presenter->sample_time());
  window->edit_register_device_frame->update_values(model.registers_as_values());
  window->edit_dac_frame->update_values(model.dacs_as_values());

  main_interactor.install(*presenter, *window);
  registers_interactor.install(*edit_registers, *window->edit_register_device_frame);
  dacs_interactor.install(*edit_dacs, *window->edit_dac_frame);
  chip_interactor.install(*edit_chip, *window->edit_register_chip_frame);
  // A board that declares itself otherwise gets new rows: each is bound as
  // the interactors bound the first ones (the Apply buttons stay as they were).
  presenter->on_rows_rebuilt = [this](bool adc) {
    const auto bind_text = [](InteractorEditMenuBase& interactor, wxWindow* field) {
      field->Bind(wxEVT_TEXT, &InteractorEditMenuBase::on_text_change, &interactor);
      field->Bind(wxEVT_TEXT_ENTER, &InteractorEditMenuBase::on_apply, &interactor);
    };
    for (const auto& [label, field] :
         window->edit_register_device_frame->panel_values->values_widgets)
      bind_text(registers_interactor, field);
    for (const auto& [label, field] : window->edit_dac_frame->panel_values->values_widgets)
      bind_text(dacs_interactor, field);
    auto& chip = dynamic_cast<BenchChipEditor&>(*window->edit_register_chip_frame);
    for (const auto& [label, field] : chip.signals_panel->values_widgets) {
      if (auto* box = dynamic_cast<wxCheckBox*>(field))
        box->Bind(wxEVT_CHECKBOX,
                  [this, box](wxCommandEvent&) { edit_chip->on_check_box_change(box); });
      else
        bind_text(chip_interactor, field);
    }
    if (adc)
      for (const auto& [label, box] : window->adc_control_frame->panel_menu->enable_widgets)
        box->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { delegates->on_update_adc_panels(); });
  };
  presenter->update_view();
}

BenchSession::~BenchSession() {
  LogBook::instance().set_error_listener(nullptr);
  error_post_.reset();
  results_post_.reset();
  // Normally the main window has closed itself; if not, the threads end
  // before the windows go, and the windows before the objects they call.
  presenter->close();
  delete window;
}

void BenchSession::keep_results(const std::string& shared) {
  results_post_ = std::make_shared<GuiPost>([](const std::string&) {});
  const std::weak_ptr<GuiPost> post = results_post_;
  const auto logger = presenter->logger;
  try {
    presenter->use_results(results::open_bench_results(
        folders.root.string(), shared, [this, post, logger](const std::string& news) {
          logger->info("{}", news);
          if (const auto gui = post.lock()) (*gui)([this, news] { presenter->show_message(news); });
        }));
  } catch (const std::exception& e) {
    presenter->report_error(std::string(e.what()) + " The runs' reports are written all the same.");
  }
}

void BenchSession::use_settings(const ResultsSettings& command_line) {
  keep_results(take_settings(command_line));
}

std::string BenchSession::take_settings(const ResultsSettings& command_line) {
  command_line_settings_ = command_line;
  try {
    saved_settings_ = load_results_settings(results_settings_file(folders.tmp));
  } catch (const std::exception& e) {
    presenter->report_error(e.what());
  }
  const ResultsSettings in_force = with_command_line(saved_settings_, command_line);
  presenter->run_site = {in_force.station, in_force.operator_name, in_force.dut};
  return in_force.results;
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
