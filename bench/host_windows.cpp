#include "bench/host_windows.h"

#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <stdexcept>

namespace Zelvar_Core::bench {

ChipSignalsPanel::ChipSignalsPanel(wxWindow* parent, const std::vector<Register>& signals)
    : wxPanel(parent) {
  auto* grid = new wxFlexGridSizer(2, 4, 10);
  for (const auto& s : signals) {
    grid->Add(new wxStaticText(this, wxID_ANY, wxString::FromUTF8(s.name)), 0,
              wxALIGN_CENTER_VERTICAL);
    wxWindow* field;
    if (s.max == 1) {
      auto* box = new wxCheckBox(this, wxID_ANY, "");
      box->SetValue(s.value != 0);
      field = box;
    } else {
      field = new IntCtrl(this, wxID_ANY, static_cast<long>(s.value), wxDefaultPosition,
                          wxDefaultSize, wxTE_CENTRE | wxTE_PROCESS_ENTER);
    }
    values_widgets[s.name] = field;
    grid->Add(field, 0, wxALIGN_CENTER_VERTICAL);
  }
  SetSizer(grid);
}

void ChipSignalsPanel::on_text_change(wxWindow* widget) {
  widget->SetBackgroundColour(kEditedColour);
}

void ChipSignalsPanel::to_default_color() {
  for (auto& [name, w] : values_widgets) w->SetBackgroundColour(wxNullColour);
  Refresh();
}

void ChipSignalsPanel::show(const std::vector<Register>& signals) {
  for (const auto& s : signals) {
    auto* w = values_widgets.at(s.name);
    if (auto* box = wxDynamicCast(w, wxCheckBox))
      box->SetValue(s.value != 0);
    else if (auto* field = wxDynamicCast(w, IntCtrl))
      field->ChangeValue(wxString::Format("%lld", static_cast<long long>(s.value)));
  }
}

BenchChipEditor::BenchChipEditor(wxWindow* parent, const std::vector<Register>& signals)
    : ChipRegisterEditor(parent, wxNewId(), "Chip registers", wxDefaultPosition, wxDefaultSize,
                         wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  signals_panel = new ChipSignalsPanel(this, signals);
  panel_values = signals_panel;
  button_apply = new wxButton(this, wxID_APPLY, "Apply");
  sizer->Add(signals_panel, 0, wxALL, 10);
  sizer->Add(button_apply, 0, wxALIGN_RIGHT | wxALL, 5);
  SetSizerAndFit(sizer);
}

BenchHistogramWindow::BenchHistogramWindow(wxWindow* parent, const SimulatedHistogram& settings)
    : HistogramWindow(parent, wxID_ANY, "Image histogram"), settings_(settings) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  panel_histogram_plot = new HistogramPlotPanel(this);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  max_field = new wxTextCtrl(panel_histogram_plot, wxID_ANY, wxString::Format("%g", settings.max));
  min_field = new wxTextCtrl(panel_histogram_plot, wxID_ANY, wxString::Format("%g", settings.min));
  bins_field = new IntCtrl(panel_histogram_plot, wxID_ANY, settings.bins);
  panel_histogram_plot->button_scale = new wxButton(panel_histogram_plot, wxID_ANY, "Scale");
  for (auto [label, field] : {std::pair<const char*, wxWindow*>{"Max", max_field},
                              {"Min", min_field},
                              {"Bins", bins_field}}) {
    row->Add(new wxStaticText(panel_histogram_plot, wxID_ANY, label), 0,
             wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
    row->Add(field, 0, wxLEFT, 4);
  }
  row->Add(panel_histogram_plot->button_scale, 0, wxLEFT, 8);
  auto* panel_sizer = new wxBoxSizer(wxVERTICAL);
  panel_sizer->Add(row, 0, wxALL, 5);
  plot = new wxPanel(panel_histogram_plot, wxID_ANY, wxDefaultPosition, wxSize(420, 180));
  plot->SetBackgroundStyle(wxBG_STYLE_PAINT);
  plot->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(plot);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    if (counts.empty()) return;
    const int top = std::max(1, *std::max_element(counts.begin(), counts.end()));
    const wxSize size = plot->GetClientSize();
    const double w = double(size.x) / counts.size();
    dc.SetBrush(wxBrush(wxColour(60, 90, 200)));
    dc.SetPen(*wxTRANSPARENT_PEN);
    for (size_t i = 0; i < counts.size(); ++i) {
      const int h = static_cast<int>(double(counts[i]) / top * (size.y - 4));
      dc.DrawRectangle(int(i * w), size.y - h, std::max(1, int(w) - 1), h);
    }
  });
  panel_sizer->Add(plot, 1, wxEXPAND | wxALL, 5);
  panel_histogram_plot->SetSizer(panel_sizer);
  sizer->Add(panel_histogram_plot, 1, wxEXPAND);
  SetSizerAndFit(sizer);
}

BinSettings BenchHistogramWindow::get_bin_settings() {
  double max = 0, min = 0;
  if (!max_field->GetValue().ToCDouble(&max) || !min_field->GetValue().ToCDouble(&min)) {
    throw std::invalid_argument("Histogram: max and min must be numbers");
  }
  const auto bins = bins_field->GetIntValue();
  if (!bins) throw std::invalid_argument("Histogram: bins must be an integer");
  return {max, min, static_cast<int>(*bins)};
}

void BenchHistogramWindow::scale() { counts.assign(settings_.bins, 0); }

void BenchHistogramWindow::show_histogram(const std::vector<std::uint16_t>& image) {
  counts.assign(settings_.bins, 0);
  const double span = settings_.max - settings_.min;
  for (auto v : image) {
    if (v == 0) continue;
    int bin = static_cast<int>((v - settings_.min) / span * settings_.bins);
    if (bin >= 0 && bin < settings_.bins) ++counts[bin];
  }
  plot->Refresh();
}

ImagePanel::ImagePanel(wxWindow* parent, const BenchModel& model)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(BenchModel::kWidth, BenchModel::kHeight)),
      model(model),
      frame(BenchModel::kWidth, BenchModel::kHeight) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    unsigned char* rgb = frame.GetData();
    const auto& image = this->model.image;
    const double max = this->model.histogram.max, min = this->model.histogram.min;
    for (size_t i = 0; i < image.size(); ++i) {
      const double level = std::clamp((image[i] - min) / (max - min), 0.0, 1.0);
      rgb[3 * i] = static_cast<unsigned char>(level * 255);
      rgb[3 * i + 1] = static_cast<unsigned char>(level * 230);
      rgb[3 * i + 2] = static_cast<unsigned char>(40 + level * 100);
    }
    dc.DrawBitmap(wxBitmap(frame), 0, 0);
  });
}

BoardSimulatorTool::BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device,
                                       std::function<void()> on_connection)
    : wxFrame(parent, wxID_ANY, "Board simulator", wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  connected = new wxCheckBox(panel, wxID_ANY, "Board connected");
  connected->SetValue(device.is_connected);
  fail_programming = new wxCheckBox(panel, wxID_ANY, "Fail the next programming");
  sizer->Add(connected, 0, wxALL, 8);
  sizer->Add(fail_programming, 0, wxALL, 8);
  panel->SetSizer(sizer);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(panel, 1, wxEXPAND);
  SetSizerAndFit(top);
  connected->Bind(wxEVT_CHECKBOX, [this, &device, on_connection](wxCommandEvent&) {
    device.is_connected = connected->GetValue();
    on_connection();
  });
  fail_programming->Bind(wxEVT_CHECKBOX, [this, &device](wxCommandEvent&) {
    device.fail_next_program = fail_programming->GetValue();
  });
  // Closing only hides it, like every tool window.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Hide(); });
}

BenchMainWindow::BenchMainWindow(BenchModel& model)
    : MainWindow(nullptr, wxID_ANY, "Pravel - AER sensor bench") {
  menu_bar = new MainMenuBar(this);
  SetMenuBar(menu_bar);
  auto* root = new wxPanel(this);
  panel_control = new ControlPanel(root);
  auto* buttons = new wxBoxSizer(wxVERTICAL);
  auto add = [&](wxButton*& b, const char* label) {
    b = new wxButton(panel_control, wxID_ANY, label);
    buttons->Add(b, 0, wxEXPAND | wxALL, 3);
  };
  add(panel_control->button_start_stop, "Start");
  add(panel_control->button_capture, "Capture");
  add(panel_control->button_reset, "Reset");
  add(panel_control->button_reset_periphery, "Reset periphery");
  add(panel_control->button_reset_chip, "Reset chip");
  const wxString modes[] = {"Event stream", "Frame", "Test pattern"};
  panel_control->modes_box = new wxRadioBox(panel_control, wxID_ANY, "Mode", wxDefaultPosition,
                                            wxDefaultSize, 3, modes, 1, wxRA_SPECIFY_COLS);
  buttons->Add(panel_control->modes_box, 0, wxEXPAND | wxALL, 3);
  panel_control->SetSizer(buttons);
  image_panel = new ImagePanel(root, model);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(panel_control, 0, wxALL, 5);
  row->Add(image_panel, 0, wxALL, 5);
  root->SetSizer(row);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(root, 1, wxEXPAND);
  SetSizerAndFit(top);
  CreateStatusBar(4);

  edit_register_device_frame = new ValuesView(this, "Device registers");
  edit_register_chip_frame = new BenchChipEditor(this, model.signals);
  edit_dac_frame = new ValuesView(this, "DACs");
  device_info_frame = new DeviceInfoView(this);
  image_histogram_frame = new BenchHistogramWindow(this, model.histogram);
  serial_control_frame = new SerialView(this);
  adc_control_frame = new AdcView(this);
}

void BenchMainWindow::close() { Destroy(); }

}  // namespace Zelvar_Core::bench
