// A minimal host of Zelvar_Core, as a lab writes its own: a fake device and
// its model, a presenter, a main window with the host's own chip-register
// editor and histogram window, and the start-up in the front end's order.
//   minimal_host [--quit-after SECONDS]
#include <spdlog/spdlog.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "Zelvar_Core/Controllers/delegates.h"
#include "Zelvar_Core/Controllers/interactors.h"
#include "Zelvar_Core/Host/main_window.h"
#include "Zelvar_Core/version.h"
#include "platform/intctrl/int_ctrl.h"

namespace lab {

using namespace Zelvar_Core;

// ---- the model and its device: what a real host reads from its board ----

class FakeActions : public DeviceActions {
 public:
  void reset_device() override { spdlog::info("device reset"); }
  void reset_fifo() override { spdlog::info("FIFO reset"); }
  void reset_ram() override { spdlog::info("RAM reset"); }
  void reset_aer() override { spdlog::info("AER reset"); }
  void reset_chip() override { spdlog::info("chip reset"); }
};

class FakeDevice : public Device {
 public:
  FakeDevice() {
    is_connected = true;
    actions = &fake_actions;
    info = {"Lab", "Fake board", "0001", "0.1"};
  }
  void program(const std::string& path) override { spdlog::info("programmed {}", path); }
  FakeActions fake_actions;
};

class FakeHistogram : public ImageHistogram {
 public:
  void set_settings(double max_, double min_, int bins_) override {
    if (!(max_ > min_) || bins_ < 1) throw std::invalid_argument("max must exceed min");
    max = max_, min = min_, bins = bins_;
  }
  double max = 10, min = -10;
  int bins = 20;
};

class LabModel : public MainModel {
 public:
  LabModel() {
    device = &fake_device;
    img_histogram = &histogram;
    registers["GAIN"] = {"GAIN", std::int64_t{3}};
    registers["OFFSET"] = {"OFFSET", std::int64_t{100}};
    dacs["VREF"] = {"VREF", std::int64_t{1600}};
  }
  void read_dev_registers() override {}  // a real host reads the board here
  void read_signals() override {}
  void write_signal(const std::string& label, int value) override {
    spdlog::info("signal {} = {}", label, value);
    signals[label] = value;
  }
  void reset_image() override {}

  FakeDevice fake_device;
  FakeHistogram histogram;
  ValuesMap registers, dacs;
  std::map<std::string, int> signals = {{"ENABLE", 1}};
  AdcValuesMap adc = {{"vdd", {0, "VDD (V)", 1.8, true, {}, {}}}};
};

// ---- the host's own windows: the chip-register editor and the histogram ----

class ChipPanel : public wxPanel, public EditorPanel {
 public:
  explicit ChipPanel(wxWindow* parent) : wxPanel(parent) {
    auto* grid = new wxFlexGridSizer(2, 4, 8);
    values_widgets["ENABLE"] = new wxCheckBox(this, wxID_ANY, "");
    values_widgets["WIDTH"] =
        new IntCtrl(this, wxID_ANY, 4, wxDefaultPosition, wxDefaultSize, wxTE_PROCESS_ENTER);
    for (const auto& [name, widget] : values_widgets) {
      grid->Add(new wxStaticText(this, wxID_ANY, name), 0, wxALIGN_CENTER_VERTICAL);
      grid->Add(widget);
    }
    SetSizer(grid);
  }
  void on_text_change(wxWindow* widget) override { widget->SetBackgroundColour(kEditedColour); }
  void to_default_color() override {
    for (auto& [name, widget] : values_widgets) widget->SetBackgroundColour(wxNullColour);
    Refresh();
  }
  WidgetMap field_widgets() const override { return values_widgets; }
  wxButton* panel_apply_button() const override { return nullptr; }
  WidgetMap values_widgets;
};

class ChipEditor : public ChipRegisterEditor {
 public:
  explicit ChipEditor(wxWindow* parent) : ChipRegisterEditor(parent, wxNewId(), "Chip") {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    panel_values = new ChipPanel(this);
    button_apply = new wxButton(this, wxID_APPLY, "Apply");
    sizer->Add(dynamic_cast<wxWindow*>(panel_values), 0, wxALL, 8);
    sizer->Add(button_apply, 0, wxALIGN_RIGHT | wxALL, 4);
    SetSizerAndFit(sizer);
  }
  void open() override { Show(); }
  void close() override { Hide(); }
};

class Histogram : public HistogramWindow {
 public:
  explicit Histogram(wxWindow* parent) : HistogramWindow(parent, wxNewId(), "Histogram") {
    panel_histogram_plot = new HistogramPlotPanel(this);
    panel_histogram_plot->button_scale = new wxButton(panel_histogram_plot, wxID_ANY, "Scale");
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(panel_histogram_plot->button_scale, 0, wxALL, 8);
    panel_histogram_plot->SetSizer(row);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(panel_histogram_plot, 1, wxEXPAND);
    SetSizerAndFit(sizer);
    SetMinSize(wxSize(260, -1));  // room for the title beside the frame's buttons
  }
  BinSettings get_bin_settings() override { return {10, -10, 20}; }
  void scale() override {}
  void open() override { Show(); }
  void close() override { Hide(); }
};

// ---- the main window: control panel, menu bar, status bar, tool windows ----

class LabWindow : public MainWindow {
 public:
  LabWindow() : MainWindow(nullptr, wxID_ANY, "Minimal host") {
    menu_bar = new MainMenuBar(this);
    SetMenuBar(menu_bar);
    panel_control = new ControlPanel(this);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto add = [&](wxButton*& button, const char* label) {
      button = new wxButton(panel_control, wxID_ANY, label);
      sizer->Add(button, 0, wxEXPAND | wxALL, 3);
    };
    add(panel_control->button_start_stop, "Start");
    add(panel_control->button_capture, "Capture");
    add(panel_control->button_reset, "Reset");
    add(panel_control->button_reset_periphery, "Reset periphery");
    add(panel_control->button_reset_chip, "Reset chip");
    const wxString modes[] = {"Normal", "Test"};
    panel_control->modes_box =
        new wxRadioBox(panel_control, wxID_ANY, "Mode", wxDefaultPosition, wxDefaultSize, 2, modes);
    sizer->Add(panel_control->modes_box, 0, wxEXPAND | wxALL, 3);
    panel_control->SetSizer(sizer);
    CreateStatusBar();
    SetStatusText(wxString("Zelvar_Core ") + kVersion);
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(panel_control, 1, wxEXPAND | wxALL, 4);
    SetSizer(top);
    keep_panel_whole();
    // A window manager sizes the window before the menu bar's height is
    // known: once it is, the window is made to hold the whole panel again.
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
      event.Skip();
      if (GetClientSize().y < GetSizer()->GetMinSize().y) CallAfter([this] { keep_panel_whole(); });
    });
    // Every tool window is built now, hidden.
    edit_register_device_frame = new ValuesView(this, "Device registers");
    edit_register_chip_frame = new ChipEditor(this);
    edit_dac_frame = new ValuesView(this, "DACs");
    device_info_frame = new DeviceInfoView(this);
    image_histogram_frame = new Histogram(this);
    serial_control_frame = new SerialView(this);
    adc_control_frame = new AdcView(this);
  }
  void close() override { Destroy(); }

 private:
  void keep_panel_whole() {
    const wxSize panel = GetSizer()->GetMinSize();
    SetMinClientSize(wxSize(std::max(320, panel.x), panel.y));
    Fit();
  }
};

// ---- the presenter: what every request means for this host ----

class LabPresenter : public Presenter {
 public:
  explicit LabPresenter(LabModel& model) : model_(model) {
    logger = spdlog::default_logger();
    adc_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { sample_adc(); });
  }
  void attach(LabWindow& window) { view_ = &window; }

  void toggle_main_img_thread() override { say(running_ = !running_, "Running", "Stopped"); }
  void stop_main_img_thread() override { running_ = false; }
  void capture() override { say(true, "Captured", ""); }
  void set_mode(const std::string& mode) override { say(true, "Mode " + mode, ""); }
  void update_view() override {}
  void update_view(wxWindowID id) override {
    if (id == view_->edit_dac_frame->GetId()) view_->edit_dac_frame->update_values(model_.dacs);
  }
  void update_image() override {}
  void process_img() override {}
  void save_preset() override { say(true, "No presets in this host", ""); }
  void load_preset() override { say(true, "No presets in this host", ""); }
  void update_model(wxWindowID id) override {
    ValuesView* editor = id == view_->edit_dac_frame->GetId() ? view_->edit_dac_frame
                                                              : view_->edit_register_device_frame;
    ValuesMap& values = editor == view_->edit_dac_frame ? model_.dacs : model_.registers;
    for (auto& [label, field] : editor->panel_values->values_widgets) {
      long long v = 0;
      if (!field->GetValue().ToLongLong(&v)) throw std::invalid_argument(label + " is no integer");
      values[label].value = std::int64_t{v};
    }
  }
  void run_adc() override { adc_timer_.Start(100); }
  void stop_adc() override { adc_timer_.Stop(); }
  void update_adc_ts() override {}
  void update_adc_panels() override { view_->adc_control_frame->update_panels(model_.adc); }
  void send_serial_data() override {
    auto* panel = view_->serial_control_frame->panel_serial_control;
    panel->serial_rx_box->SetValue("ACK " + panel->serial_tx_box->GetValue());
  }
  void close() override { adc_timer_.Stop(); }

 private:
  void say(bool yes, const std::string& text, const std::string& otherwise) {
    if (view_) view_->SetStatusText(wxString::FromUTF8(yes ? text : otherwise));
  }
  void sample_adc() {
    AdcChannel& vdd = model_.adc.begin().value();
    const double t = vdd.data_t.empty() ? 0 : vdd.data_t.back() + 0.1;
    vdd.data_t.push_back(t);
    vdd.data_y.push_back(1.8 + 0.01 * std::sin(t));
    view_->adc_control_frame->update_values(model_.adc, 0.1);
  }

  LabModel& model_;
  LabWindow* view_ = nullptr;
  bool running_ = false;
  wxTimer adc_timer_;
};

class LabTest : public Initializer {
 public:
  void on_test() override { spdlog::info("self-test: nothing to test on a fake board"); }
};

// A host tool: the Tools menu gets an entry for it.
class NotesTool : public wxFrame, public Tool {
 public:
  explicit NotesTool(wxWindow* parent) : wxFrame(parent, wxID_ANY, "Notes") {
    new wxTextCtrl(this, wxID_ANY, "Bench notes", wxDefaultPosition, wxSize(300, 120),
                   wxTE_MULTILINE);
    Fit();
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Hide(); });
  }
  bool is_shown() override { return IsShown(); }
  void open() override { Show(); }
};

// ---- start-up, in the order the front end needs, and the error path ----

class LabApp : public wxApp {
 public:
  bool OnInit() override {
    // 1. The model, the presenter and the main window with every tool window.
    model_ = std::make_unique<LabModel>();
    presenter_ = std::make_unique<LabPresenter>(*model_);
    window_ = new LabWindow();
    presenter_->attach(*window_);
    presenter_->initializer = &test_;
    // 2. The main delegates, kept as the presenter's, and one per values editor.
    delegates_ = std::make_unique<DelegatesMain>(*presenter_, *window_, *model_);
    presenter_->delegates_main = delegates_.get();
    edit_registers_ = std::make_unique<DelegatesEditMenuBase>(
        *presenter_, *window_->edit_register_device_frame, *model_);
    edit_dacs_ =
        std::make_unique<DelegatesEditMenuBase>(*presenter_, *window_->edit_dac_frame, *model_);
    edit_chip_ = std::make_unique<DelegatesEditRegisterChip>(
        *presenter_, *window_->edit_register_chip_frame, *model_);
    // 3. The host's tools in the Tools menu, and the editors' first values.
    presenter_->tools["Notes"] = new NotesTool(window_);
    window_->menu_bar->configure_tools({"Notes"});
    window_->adc_control_frame->update_values(model_->adc, 0.1);
    window_->edit_register_device_frame->update_values(model_->registers);
    window_->edit_dac_frame->update_values(model_->dacs);
    // 4. The interactors: everything is bound now, once.
    main_interactor_.install(*presenter_, *window_);
    registers_interactor_.install(*edit_registers_, *window_->edit_register_device_frame);
    dacs_interactor_.install(*edit_dacs_, *window_->edit_dac_frame);
    chip_interactor_.install(*edit_chip_, *window_->edit_register_chip_frame);
    window_->Show();

    if (argc == 3 && wxString(argv[1]) == "--quit-after") {
      quit_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { window_->Close(); });
      quit_timer_.StartOnce(static_cast<int>(wxAtof(argv[2]) * 1000));
    }
    return true;
  }
  int OnExit() override {
    presenter_->close();
    return wxApp::OnExit();
  }
  // The front end catches nothing: what escapes a handler is the host's to
  // report, and the program goes on.
  bool OnExceptionInMainLoop() override {
    report();
    return true;
  }
  void CallEventHandler(wxEvtHandler* handler, wxEventFunctor& functor,
                        wxEvent& event) const override {
    try {
      wxApp::CallEventHandler(handler, functor, event);
    } catch (...) {
      report();
    }
  }

 private:
  void report() const {
    try {
      throw;
    } catch (const std::exception& e) {
      spdlog::error("{}", e.what());
      if (window_) window_->SetStatusText(wxString::FromUTF8(std::string("Error: ") + e.what()));
    } catch (...) {
      spdlog::error("unknown error");
    }
  }

  std::unique_ptr<LabModel> model_;
  std::unique_ptr<LabPresenter> presenter_;
  LabWindow* window_ = nullptr;  // owned by wx
  LabTest test_;
  std::unique_ptr<DelegatesMain> delegates_;
  std::unique_ptr<DelegatesEditMenuBase> edit_registers_, edit_dacs_;
  std::unique_ptr<DelegatesEditRegisterChip> edit_chip_;
  MainInteractor main_interactor_;
  InteractorEditMenuBase registers_interactor_, dacs_interactor_;
  InteractorEditRegisterChip chip_interactor_;
  wxTimer quit_timer_;
};

}  // namespace lab

wxIMPLEMENT_APP(lab::LabApp);
