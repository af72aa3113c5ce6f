#include "bench/host/main_window.h"

#include <wx/accel.h>
#include <wx/dcclient.h>
#include <wx/sizer.h>

#include <algorithm>
#include <cmath>

#include "bench/host/chip_editor.h"
#include "bench/host/histogram_window.h"

namespace Zelvar_Core::bench {

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

// ---- main window -------------------------------------------------------------------

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
  button_record = new wxToggleButton(panel_control, wxID_ANY, "Record");
  button_record->SetToolTip("Record the board's events to the recordings folder (Ctrl+R)");
  buttons->Add(button_record, 0, wxEXPAND | wxALL, 3);
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
  CreateStatusBar(6);
  SetStatusBarPane(-1);  // menu help would overwrite the connection field
  const int widths[] = {90, 235, 150, 65, 345, -1};
  GetStatusBar()->SetStatusWidths(6, widths);
  SetSizerAndFit(top);
  SetMinSize(wxSize(1240, -1));
  Fit();
  // Ctrl+R: the Record toggle, as if it were clicked.
  record_command = wxWindow::NewControlId();
  wxAcceleratorEntry keys[] = {{wxACCEL_CTRL, 'R', record_command}};
  SetAcceleratorTable(wxAcceleratorTable(1, keys));
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        if (!button_record->IsEnabled()) return;
        button_record->SetValue(!button_record->GetValue());
        wxCommandEvent toggle(wxEVT_TOGGLEBUTTON, button_record->GetId());
        toggle.SetEventObject(button_record);
        toggle.SetInt(button_record->GetValue());
        button_record->GetEventHandler()->ProcessEvent(toggle);
      },
      record_command);

  // Coming back to the window (from a tool window) finds its keys working.
  Bind(wxEVT_ACTIVATE, [this](wxActivateEvent& event) {
    if (event.GetActive()) CallAfter([this] { keep_keyboard_focus(); });
    event.Skip();
  });

  edit_register_device_frame = new ValuesView(this, "Device registers");
  edit_register_chip_frame = new BenchChipEditor(this, model.signals);
  edit_dac_frame = new ValuesView(this, "DACs");
  device_info_frame = new DeviceInfoView(this);
  image_histogram_frame = new BenchHistogramWindow(this, model.histogram);
  serial_control_frame = new SerialView(this);
  adc_control_frame = new AdcView(this);
}

void BenchMainWindow::enable_board_controls(bool connected) {
  auto& panel = *panel_control;
  for (wxWindow* control : std::initializer_list<wxWindow*>{
           panel.button_start_stop, panel.button_capture, panel.button_reset,
           panel.button_reset_periphery, panel.button_reset_chip, panel.modes_box, button_record})
    control->Enable(connected);
  keep_keyboard_focus();
}

void BenchMainWindow::keep_keyboard_focus() {
  // The window's keys (Ctrl+R) reach it only through a focused control: a
  // control greyed while it had the focus leaves the window with none.
  if (!IsActive()) return;
  wxWindow* focus = wxWindow::FindFocus();
  if (focus && focus->IsEnabled() && wxGetTopLevelParent(focus) == this) return;
  if (panel_control->button_start_stop->IsEnabled())
    panel_control->button_start_stop->SetFocus();
  else
    image_panel->SetFocus();
}

}  // namespace Zelvar_Core::bench
