#include "bench/host_windows.h"

#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace Zelvar_Core::bench {

namespace {
constexpr long kFixedFrame = wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX;
}

// ---- chip-register editor ------------------------------------------------------

ChipSignalsPanel::ChipSignalsPanel(wxWindow* parent, const std::vector<Register>& signals)
    : wxPanel(parent) {
  auto* grid = new wxFlexGridSizer(2, 4, 10);
  for (const auto& s : signals) {
    grid->Add(new wxStaticText(this, wxID_ANY, wxString::FromUTF8(s.name)), 0,
              wxALIGN_CENTER_VERTICAL);
    wxWindow* field;
    if (s.max == 1) {
      field = new wxCheckBox(this, wxID_ANY, "");
    } else {
      // Enter in the field applies, like the Apply button.
      field = new IntCtrl(this, wxID_ANY, 0, wxDefaultPosition, wxDefaultSize,
                          wxTE_CENTRE | wxTE_PROCESS_ENTER);
    }
    field->SetToolTip(wxString::Format("%lld..%lld", static_cast<long long>(s.min),
                                       static_cast<long long>(s.max)));
    values_widgets[s.name] = field;
    grid->Add(field, 0, wxALIGN_CENTER_VERTICAL);
  }
  SetSizer(grid);
  show(signals);
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
                         kFixedFrame) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  signals_panel = new ChipSignalsPanel(this, signals);
  panel_values = signals_panel;
  button_apply = new wxButton(this, wxID_APPLY, "Apply");
  sizer->Add(signals_panel, 0, wxALL, 10);
  sizer->Add(button_apply, 0, wxALIGN_RIGHT | wxALL, 5);
  SetSizerAndFit(sizer);
}

// ---- histogram window ------------------------------------------------------------

BenchHistogramWindow::BenchHistogramWindow(wxWindow* parent, const SimulatedHistogram& settings)
    : HistogramWindow(parent, wxNewId(), "Image histogram", wxDefaultPosition, wxDefaultSize,
                      kFixedFrame),
      settings_(settings) {
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
    field->SetMinSize(wxSize(70, -1));
    row->Add(field, 0, wxLEFT, 4);
  }
  row->Add(panel_histogram_plot->button_scale, 0, wxLEFT | wxRIGHT, 8);
  auto* panel_sizer = new wxBoxSizer(wxVERTICAL);
  panel_sizer->Add(row, 0, wxALL, 5);
  plot = new wxPanel(panel_histogram_plot, wxID_ANY, wxDefaultPosition, wxSize(440, 200));
  plot->SetBackgroundStyle(wxBG_STYLE_PAINT);
  plot->Bind(wxEVT_PAINT, [this](wxPaintEvent&) { paint_plot(); });
  panel_sizer->Add(plot, 1, wxEXPAND | wxALL, 5);
  panel_histogram_plot->SetSizer(panel_sizer);
  sizer->Add(panel_histogram_plot, 1, wxEXPAND);
  SetSizerAndFit(sizer);
}

void BenchHistogramWindow::paint_plot() {
  wxAutoBufferedPaintDC dc(plot);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  const wxSize size = plot->GetClientSize();
  const int axis = 18;  // room for the range labels
  dc.SetTextForeground(*wxBLACK);
  dc.DrawText(wxString::Format("%g", settings_.min), 2, size.y - axis + 2);
  const wxString right = wxString::Format("%g", settings_.max);
  dc.DrawText(right, size.x - dc.GetTextExtent(right).x - 2, size.y - axis + 2);
  dc.SetPen(*wxBLACK_PEN);
  dc.DrawLine(0, size.y - axis, size.x, size.y - axis);
  if (counts.empty()) return;
  const int top = std::max(1, *std::max_element(counts.begin(), counts.end()));
  const double w = double(size.x) / counts.size();
  const int height = size.y - axis - 4;
  dc.SetBrush(wxBrush(wxColour(60, 90, 200)));
  dc.SetPen(*wxTRANSPARENT_PEN);
  for (size_t i = 0; i < counts.size(); ++i) {
    // Square-root scale: the few busy pixels stay visible beside the many quiet ones.
    const int h = static_cast<int>(std::sqrt(double(counts[i]) / top) * height);
    dc.DrawRectangle(int(i * w), size.y - axis - h, std::max(1, int(w) - 1), h);
  }
}

BinSettings BenchHistogramWindow::get_bin_settings() {
  double max = 0, min = 0;
  if (!max_field->GetValue().ToCDouble(&max))
    throw std::invalid_argument("Histogram: Max \"" + max_field->GetValue().utf8_string() +
                                "\" is not a number");
  if (!min_field->GetValue().ToCDouble(&min))
    throw std::invalid_argument("Histogram: Min \"" + min_field->GetValue().utf8_string() +
                                "\" is not a number");
  const auto bins = bins_field->GetIntValue();
  if (!bins) throw std::invalid_argument("Histogram: Bins must be an integer");
  return {max, min, static_cast<int>(*bins)};
}

void BenchHistogramWindow::scale() {
  counts.assign(settings_.bins, 0);
  plot->Refresh();
}

void BenchHistogramWindow::show_histogram(const EventFrame& image) {
  counts.assign(settings_.bins, 0);
  const double span = settings_.max - settings_.min;
  for (auto v : image.counts) {
    if (v == 0) continue;  // the quiet pixels would drown everything else
    const int bin = static_cast<int>(std::floor((v - settings_.min) / span * settings_.bins));
    if (bin >= 0 && bin < settings_.bins) ++counts[bin];
  }
  plot->Refresh();
}

// ---- live image ------------------------------------------------------------------

ImagePanel::ImagePanel(wxWindow* parent, const BenchModel& model)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(kSensorWidth, kSensorHeight)),
      model_(model),
      frame_(kSensorWidth, kSensorHeight) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxPaintDC dc(this);
    render(frame_.GetData());
    dc.DrawBitmap(wxBitmap(frame_), 0, 0);
    ++frames_drawn_;
  });
}

void ImagePanel::render(unsigned char* rgb) const {
  const double max = model_.histogram.max, min = model_.histogram.min;
  // Counts are 16-bit: a wider range needs no more colours than that.
  const int lo = static_cast<int>(std::clamp(std::floor(min), -32768.0, 32767.0));
  const int hi = static_cast<int>(std::clamp(std::ceil(max), -32768.0, 32767.0));
  // One colour per count in the range, then a table lookup per pixel.
  const double zero = std::clamp(0.0, min, max);
  std::vector<unsigned char> table(3 * static_cast<std::size_t>(hi - lo + 1));
  for (int v = lo; v <= hi; ++v) {
    double r = 24, g = 24, b = 28;
    if (v > zero && max > zero) {
      const double t = std::min(1.0, (v - zero) / (max - zero));
      r += t * (255 - r), g += t * (236 - g), b += t * (150 - b);
    } else if (v < zero && zero > min) {
      const double t = std::min(1.0, (zero - v) / (zero - min));
      r += t * (40 - r), g += t * (110 - g), b += t * (255 - b);
    }
    unsigned char* c = &table[3 * static_cast<std::size_t>(v - lo)];
    c[0] = static_cast<unsigned char>(r), c[1] = static_cast<unsigned char>(g),
    c[2] = static_cast<unsigned char>(b);
  }
  for (const std::int16_t v : model_.image.counts) {
    const unsigned char* c = &table[3 * static_cast<std::size_t>(std::clamp<int>(v, lo, hi) - lo)];
    rgb[0] = c[0], rgb[1] = c[1], rgb[2] = c[2];
    rgb += 3;
  }
}

// ---- board simulator ---------------------------------------------------------------

BoardSimulatorTool::BoardSimulatorTool(wxWindow* parent, SimulatedDevice& device,
                                       std::function<void()> break_stream)
    : wxFrame(parent, wxNewId(), "Board simulator", wxDefaultPosition, wxDefaultSize, kFixedFrame),
      device_(device) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  connected = new wxCheckBox(panel, wxID_ANY, "Board connected");
  fail_programming = new wxCheckBox(panel, wxID_ANY, "Fail the next programming");
  fail_register_read = new wxCheckBox(panel, wxID_ANY, "Fail the next register read");
  button_break_stream = new wxButton(panel, wxID_ANY, "Break the event stream");
  for (wxWindow* w : std::initializer_list<wxWindow*>{connected, fail_programming,
                                                      fail_register_read, button_break_stream})
    sizer->Add(w, 0, wxALL, 8);
  panel->SetSizer(sizer);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(panel, 1, wxEXPAND);
  SetSizerAndFit(top);
  connected->Bind(wxEVT_CHECKBOX,
                  [this](wxCommandEvent&) { device_.set_connected(connected->GetValue()); });
  fail_programming->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
    device_.fail_next_program = fail_programming->GetValue();
  });
  fail_register_read->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
    device_.fail_next_register_read = fail_register_read->GetValue();
  });
  button_break_stream->Bind(wxEVT_BUTTON, [break_stream](wxCommandEvent&) { break_stream(); });
  // Closing only hides it, like every tool window.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Hide(); });
}

void BoardSimulatorTool::open() {
  // The one-shot failures clear themselves when used; show where they stand.
  connected->SetValue(device_.is_connected);
  fail_programming->SetValue(device_.fail_next_program);
  fail_register_read->SetValue(device_.fail_next_register_read);
  Show();
  Raise();
}

// ---- programming progress --------------------------------------------------------------

void ProgrammingProgress::begin(const std::string& design, std::size_t bytes) {
  design_ = design;
  bytes_ = std::max<std::size_t>(bytes, 1);
  if (on_begin) on_begin(design);
  dialog_ = std::make_unique<wxProgressDialog>(
      "Programming the board", wxString::FromUTF8("Writing " + design + "..."), 100, parent_,
      wxPD_APP_MODAL | wxPD_AUTO_HIDE | wxPD_CAN_ABORT | wxPD_ELAPSED_TIME | wxPD_REMAINING_TIME);
}

bool ProgrammingProgress::advance(std::size_t bytes_done) {
  const int percent = static_cast<int>(std::min<std::size_t>(100, bytes_done * 100 / bytes_));
  if (on_advance) on_advance(percent);
  if (!dialog_) return true;
  return dialog_->Update(percent,
                         wxString::Format("Writing %s: %zu of %zu kB", wxString::FromUTF8(design_),
                                          bytes_done / 1024, bytes_ / 1024));
}

void ProgrammingProgress::end() {
  dialog_.reset();
  if (on_end) on_end();
}

// ---- main window ---------------------------------------------------------------------------

BenchMainWindow::BenchMainWindow(BenchModel& model, const std::vector<std::string>& modes)
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
  wxArrayString labels;
  for (const auto& m : modes) labels.Add(wxString::FromUTF8(m));
  panel_control->modes_box = new wxRadioBox(panel_control, wxID_ANY, "Mode", wxDefaultPosition,
                                            wxDefaultSize, labels, 1, wxRA_SPECIFY_COLS);
  buttons->Add(panel_control->modes_box, 0, wxEXPAND | wxALL, 3);
  panel_control->SetSizer(buttons);
  image_panel = new ImagePanel(root, model);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(panel_control, 0, wxALL, 5);
  row->Add(image_panel, 0, wxALL, 5);
  root->SetSizer(row);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(root, 1, wxEXPAND);
  CreateStatusBar(5);
  SetStatusBarPane(-1);  // menu help would overwrite the connection field
  const int widths[] = {100, 230, 110, 80, -1};
  GetStatusBar()->SetStatusWidths(5, widths);
  SetSizerAndFit(top);
  SetMinSize(wxSize(920, -1));
  Fit();

  edit_register_device_frame = new ValuesView(this, "Device registers");
  edit_register_chip_frame = new BenchChipEditor(this, model.signals);
  edit_dac_frame = new ValuesView(this, "DACs");
  device_info_frame = new DeviceInfoView(this);
  image_histogram_frame = new BenchHistogramWindow(this, model.histogram);
  serial_control_frame = new SerialView(this);
  adc_control_frame = new AdcView(this);
}

}  // namespace Zelvar_Core::bench
