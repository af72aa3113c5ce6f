// The bench program: the front end on a simulated sensor board.
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <wx/app.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Zelvar_Core/Controllers/delegates.h"
#include "Zelvar_Core/Controllers/interactors.h"
#include "bench/host_windows.h"
#include "bench/preset.h"

namespace Zelvar_Core::bench {

class BenchInitializer : public Initializer {
 public:
  explicit BenchInitializer(BenchModel& model, Logger logger) : model_(model), logger_(logger) {}
  void on_test() override {
    auto step = [&](const char* name, bool ok) {
      logger_->info("Test {}: {}", name, ok ? "pass" : "FAIL");
    };
    step("connection", model_.device->is_connected);
    step("device info", !model_.device->info.serial_number.empty());
    step("chip signals", !model_.signals.empty());
  }

 private:
  BenchModel& model_;
  Logger logger_;
};

class BenchPresenter : public Presenter {
 public:
  BenchPresenter(BenchModel& model) : model_(model) {
    logger = get_logger("pravel");
    adc_["vdd"] = {0, "VDD (V)", 1.8, true, {}, {}};
    adc_["vddio"] = {1, "VDDIO (V)", 3.3, true, {}, {}};
    adc_["temp"] = {2, "Temperature (C)", 31.0, true, {}, {}};
    adc_["ibias"] = {3, "Ibias (uA)", 12.0, true, {}, {}};
    for (auto it = adc_.begin(); it != adc_.end(); ++it) sample(it.value(), 0.0);
  }
  void attach(BenchMainWindow* window) {
    view_ = window;
    acquisition_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { acquire(); });
    adc_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { sample_adc(); });
    update_status();
  }
  AdcValuesMap& adc_channels() { return adc_; }

  void toggle_main_img_thread() override {
    if (acquisition_.IsRunning())
      stop_main_img_thread();
    else {
      acquisition_.Start(33);
      view_->panel_control->button_start_stop->SetLabel("Stop");
    }
    update_status();
  }
  void stop_main_img_thread() override {
    acquisition_.Stop();
    view_->panel_control->button_start_stop->SetLabel("Start");
    update_status();
  }
  void capture() override {
    std::filesystem::create_directories("captures");
    const std::string path = "captures/capture_" + std::to_string(++captures_) + ".pgm";
    std::ofstream out(path, std::ios::binary);
    out << "P5 " << BenchModel::kWidth << " " << BenchModel::kHeight << " 255\n";
    for (auto v : model_.image) out.put(static_cast<char>(std::min<int>(v * 16, 255)));
    view_->SetStatusText("Captured " + path, 3);
  }
  void set_mode(const std::string& mode) override {
    mode_ = mode;
    logger->info("Mode: {}", mode);
  }
  void update_view() override {
    view_->edit_register_device_frame->update_values(model_.registers_as_values());
    view_->edit_dac_frame->update_values(model_.dacs_as_values());
    update_status();
  }
  void update_view(wxWindowID id) override {
    if (id == view_->edit_dac_frame->GetId())
      view_->edit_dac_frame->update_values(model_.dacs_as_values());
    if (id == view_->edit_register_device_frame->GetId())
      view_->edit_register_device_frame->update_values(model_.registers_as_values());
  }
  void update_image() override {
    view_->image_panel->Refresh(false);
    update_status();
  }
  void process_img() override {
    static_cast<BenchHistogramWindow*>(view_->image_histogram_frame)->show_histogram(model_.image);
  }
  void save_preset() override {
    wxFileDialog dialog(view_, "Save preset", "", "preset.json", "Presets (*.json)|*.json",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() == wxID_CANCEL) return;
    const std::string path = dialog.GetPath().utf8_string();
    std::ofstream out(path);
    out << preset_to_json(model_);
    if (!out) throw std::runtime_error("Cannot write the preset " + path);
    logger->info("Preset saved to {}", path);
  }
  void load_preset() override {
    wxFileDialog dialog(view_, "Load preset", "", "", "Presets (*.json)|*.json",
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() == wxID_CANCEL) return;
    const std::string path = dialog.GetPath().utf8_string();
    std::ifstream in(path);
    if (!in) throw std::runtime_error("Cannot read the preset " + path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    apply_preset_json(model_, text);  // refuses a bad file whole
    update_view();
    static_cast<BenchChipEditor*>(view_->edit_register_chip_frame)
        ->signals_panel->show(model_.signals);
    logger->info("Preset loaded from {}", path);
  }
  void update_model(wxWindowID id) override {
    ValuesView* editor = id == view_->edit_dac_frame->GetId() ? view_->edit_dac_frame
                                                              : view_->edit_register_device_frame;
    std::string problems;
    for (const auto& [label, field] : editor->panel_values->values_widgets) {
      const std::string problem = model_.write_value(label, field->GetValue().utf8_string());
      if (!problem.empty()) problems += (problems.empty() ? "" : "; ") + problem;
    }
    if (!problems.empty()) {
      logger->error("{}", problems);
      throw std::invalid_argument(problems);
    }
  }
  void run_adc() override { adc_timer_.Start(static_cast<int>(sample_time_ * 1000)); }
  void stop_adc() override { adc_timer_.Stop(); }
  void update_adc_ts() override {
    double ts = 0;
    if (!view_->adc_control_frame->panel_menu->sampletime_textbox->GetValue().ToCDouble(&ts) ||
        ts < 0.01 || ts > 10) {
      throw std::invalid_argument("Sample time must be a number of seconds between 0.01 and 10");
    }
    sample_time_ = ts;
    if (adc_timer_.IsRunning()) run_adc();
  }
  void update_adc_panels() override { view_->adc_control_frame->update_panels(adc_); }
  void send_serial_data() override {
    auto* panel = view_->serial_control_frame->panel_serial_control;
    panel->serial_rx_box->SetValue("ACK " + panel->serial_tx_box->GetValue());
  }
  void close() override {
    acquisition_.Stop();
    adc_timer_.Stop();
  }
  double sample_time() const { return sample_time_; }

 private:
  void sample(AdcChannel& c, double t) {
    const double noise = 0.01 * std::sin(t * 7.3 + c.channel) + 0.005 * std::cos(t * 13.1);
    c.data_t.push_back(t);
    const double y = c.value * (1 + noise) + (c.channel == 2 ? 0.2 * std::sin(t / 5) : 0);
    c.data_y.push_back(std::round(y * 1e4) / 1e4);
  }
  void sample_adc() {
    adc_time_ += sample_time_;
    for (auto it = adc_.begin(); it != adc_.end(); ++it) sample(it.value(), adc_time_);
    view_->adc_control_frame->update_values(adc_, sample_time_);
  }
  void acquire() {
    time_ += 0.033;
    int rate = 20000 + static_cast<int>(model_.dacs[2].value - model_.dacs[3].value) * 10;
    model_.accumulate_events(time_, std::max(1000, rate));
    for (auto& v : model_.image)
      v = static_cast<std::uint16_t>(v * 7 / 8);  // fade: the bar leaves a trail
    update_image();
  }
  void update_status() {
    view_->SetStatusText(model_.device->is_connected ? "Connected" : "Disconnected", 0);
    view_->SetStatusText(
        "Bitstream: " + wxString::FromUTF8(model_.binary_file.empty()
                                               ? "none"
                                               : model_.simulated_device.design_name),
        1);
    view_->SetStatusText(acquisition_.IsRunning() ? "Acquiring at 30 fps" : "Stopped", 2);
  }

  BenchModel& model_;
  BenchMainWindow* view_ = nullptr;
  wxTimer acquisition_, adc_timer_;
  AdcValuesMap adc_;
  double sample_time_ = 0.1, adc_time_ = 0, time_ = 0;
  int captures_ = 0;
  std::string mode_;
};

class PravelApp : public wxApp {
 public:
  bool OnInit() override {
    setup_logging();
    std::filesystem::create_directories("tmp");  // the recent-files list lives there
    model_ = std::make_unique<BenchModel>();
    presenter_ = std::make_unique<BenchPresenter>(*model_);
    auto* window = new BenchMainWindow(*model_);
    presenter_->attach(window);
    delegates_ = std::make_unique<DelegatesMain>(*presenter_, *window, *model_);
    presenter_->delegates_main = delegates_.get();
    initializer_ = std::make_unique<BenchInitializer>(*model_, presenter_->logger);
    presenter_->initializer = initializer_.get();
    edit_registers_ = std::make_unique<DelegatesEditMenuBase>(
        *presenter_, *window->edit_register_device_frame, *model_);
    edit_dacs_ =
        std::make_unique<DelegatesEditMenuBase>(*presenter_, *window->edit_dac_frame, *model_);
    edit_chip_ = std::make_unique<DelegatesEditRegisterChip>(
        *presenter_, *window->edit_register_chip_frame, *model_);
    simulator_ = new BoardSimulatorTool(window, model_->simulated_device, [this] {
      delegates_->on_connection_change();
      simulator_->fail_programming->SetValue(model_->simulated_device.fail_next_program);
    });
    presenter_->tools["Board simulator"] = simulator_;
    window->menu_bar->configure_tools({"Board simulator"});
    window->adc_control_frame->update_values(presenter_->adc_channels(), presenter_->sample_time());
    presenter_->update_view();
    main_interactor_.install(*presenter_, *window);
    registers_interactor_.install(*edit_registers_, *window->edit_register_device_frame);
    dacs_interactor_.install(*edit_dacs_, *window->edit_dac_frame);
    chip_interactor_.install(*edit_chip_, *window->edit_register_chip_frame);
    window->Show();
    if (argc > 1 && wxString(argv[1]) == "--demo") demo(window);
    return true;
  }
  // Opens every window beside the main one with live data, for a look at all of them.
  void demo(BenchMainWindow* window) {
    presenter_->toggle_main_img_thread();
    delegates_->on_show_adcs();
    window->adc_control_frame->Move(0, 540);
    window->adc_control_frame->panel_menu->enable_widgets.at("Ibias (uA)")->SetValue(false);
    presenter_->update_adc_panels();
    delegates_->on_show_registers_device();
    window->edit_register_device_frame->Move(780, 0);
    auto* field = window->edit_register_device_frame->panel_values->values_widgets.begin()->second;
    field->SetValue("7");
    delegates_->on_show_dacs();
    window->edit_dac_frame->Move(1000, 0);
    delegates_->on_show_registers_chip();
    window->edit_register_chip_frame->Move(780, 200);
    delegates_->on_show_device_info();
    window->device_info_frame->Move(780, 380);
    delegates_->on_show_write_spi();
    window->serial_control_frame->panel_serial_control->serial_tx_box->SetValue("A5 01");
    presenter_->send_serial_data();
    window->serial_control_frame->Move(1000, 240);
    delegates_->on_show_histogram();
    window->image_histogram_frame->Move(1000, 560);
  }
  bool OnExceptionInMainLoop() override {
    report_current_exception();
    return true;
  }
  void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                        wxEvent& event) const override {
    try {
      wxApp::CallEventHandler(handler, functor, event);
    } catch (...) {
      report_current_exception();
    }
  }

 private:
  void report_current_exception() const {
    std::string what = "unknown error";
    try {
      throw;
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    get_logger("pravel")->error("{}", what);
    if (auto* frame = wxDynamicCast(GetTopWindow(), wxFrame)) {
      if (frame->GetStatusBar()) frame->SetStatusText("Error: " + wxString::FromUTF8(what), 3);
    }
  }
  static void setup_logging() {
    std::filesystem::create_directories("logs");
    auto console = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
    auto file =
        std::make_shared<spdlog::sinks::rotating_file_sink_mt>("logs/pravel.log", 1 << 20, 3);
    spdlog::set_default_logger(
        std::make_shared<spdlog::logger>("", spdlog::sinks_init_list{console, file}));
    spdlog::set_level(spdlog::level::debug);
  }

  std::unique_ptr<BenchModel> model_;
  std::unique_ptr<BenchPresenter> presenter_;
  std::unique_ptr<DelegatesMain> delegates_;
  std::unique_ptr<BenchInitializer> initializer_;
  std::unique_ptr<DelegatesEditMenuBase> edit_registers_, edit_dacs_;
  std::unique_ptr<DelegatesEditRegisterChip> edit_chip_;
  BoardSimulatorTool* simulator_ = nullptr;  // owned by the main window
  MainInteractor main_interactor_;
  InteractorEditMenuBase registers_interactor_, dacs_interactor_;
  InteractorEditRegisterChip chip_interactor_;
};

}  // namespace Zelvar_Core::bench

wxIMPLEMENT_APP(Zelvar_Core::bench::PravelApp);
