#include "bench/host/windows/main_window.h"

#include <wx/accel.h>
#include <wx/dcclient.h>
#include <wx/gdicmn.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>

#include "bench/host/windows/chip_editor.h"
#include "bench/host/windows/histogram_window.h"
#include "bench/host/windows/placement.h"

namespace Zelvar_Core::bench {

// ---- live image ------------------------------------------------------------------

ImagePanel::ImagePanel(wxWindow* parent, const BenchModel& model)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(kSensorWidth, kSensorHeight)),
      model_(model),
      frame_(static_cast<int>(model.image.geometry.width),
             static_cast<int>(model.image.geometry.height)) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, [this](wxPaintEvent&) { paint(); });
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    Refresh(false);
    event.Skip();
  });
}

void ImagePanel::fitting(bool full) {
  // The room of the AER-640's image at 1:1: a smaller sensor is drawn
  // larger in it, at its own aspect.
  SetMinSize(full ? wxSize(kSensorWidth, kSensorHeight)
                  : wxSize(kSensorWidth / 2, kSensorHeight / 2));
}

wxSize ImagePanel::sensor_size() const {
  return {static_cast<int>(model_.image.geometry.width),
          static_cast<int>(model_.image.geometry.height)};
}

wxRect ImagePanel::image_rect() const {
  const wxSize size = GetClientSize();
  const wxSize sensor = sensor_size();
  const double scale =
      std::min(static_cast<double>(size.x) / sensor.x, static_cast<double>(size.y) / sensor.y);
  const int w = std::max(1, static_cast<int>(sensor.x * scale));
  const int h = std::max(1, static_cast<int>(sensor.y * scale));
  return {(size.x - w) / 2, (size.y - h) / 2, w, h};
}

void ImagePanel::paint() {
  wxPaintDC dc(this);
  const wxSize sensor = sensor_size();
  if (frame_.GetSize() != sensor) frame_ = wxImage(sensor);
  render(frame_.GetData());
  const wxRect where = image_rect();
  // Around the image, the colour of no events: the letterbox reads as sensor.
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(kNoEventColour));
  dc.DrawRectangle(wxRect(GetClientSize()));
  if (where.GetSize() == sensor) {
    dc.DrawBitmap(wxBitmap(frame_), where.GetTopLeft());
  } else {
    const double scale = static_cast<double>(where.width) / sensor.x;
    dc.SetUserScale(scale, scale);
    dc.DrawBitmap(wxBitmap(frame_), static_cast<int>(where.x / scale),
                  static_cast<int>(where.y / scale));
    dc.SetUserScale(1, 1);
  }
  ++frames_drawn_;
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
    double r = kNoEventColour.Red(), g = kNoEventColour.Green(), b = kNoEventColour.Blue();
    const wxColour* towards = nullptr;
    double t = 0;
    if (v > zero && max > zero) {
      towards = &kOnColour;
      t = std::min(1.0, (v - zero) / (max - zero));
    } else if (v < zero && zero > min) {
      towards = &kOffColour;
      t = std::min(1.0, (zero - v) / (zero - min));
    }
    if (towards) {
      r += t * (towards->Red() - r);
      g += t * (towards->Green() - g);
      b += t * (towards->Blue() - b);
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

namespace {

// A small swatch of a colour with its meaning, for the image's legend.
void add_legend_entry(wxWindow* parent, wxSizer* row, const wxColour& colour,
                      const wxString& meaning) {
  auto* swatch = new wxPanel(parent, wxID_ANY, wxDefaultPosition, parent->FromDIP(wxSize(12, 12)));
  swatch->SetBackgroundColour(colour);
  row->Add(swatch, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
  row->Add(new wxStaticText(parent, wxID_ANY, meaning), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 14);
}

}  // namespace

BenchMainWindow::BenchMainWindow(BenchModel& model, const std::vector<std::string>& modes)
    : MainWindow(nullptr, wxID_ANY, "Pravel - AER sensor bench") {
  menu_bar = new MainMenuBar(this);
  SetMenuBar(menu_bar);
  auto* root = new wxPanel(this);
  build_controls(root, modes);
  auto* image_column = new wxBoxSizer(wxVERTICAL);
  image_panel = new ImagePanel(root, model);
  image_column->Add(image_panel, 1, wxEXPAND);
  auto* legend = new wxBoxSizer(wxHORIZONTAL);
  add_legend_entry(root, legend, kOnColour, "ON (brighter)");
  add_legend_entry(root, legend, kOffColour, "OFF (darker)");
  legend->Add(
      new wxStaticText(root, wxID_ANY, "net events per frame, through the histogram's range"), 0,
      wxALIGN_CENTER_VERTICAL);
  image_column->Add(legend, 0, wxTOP, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(panel_control, 0, wxALL, 5);
  row->Add(image_column, 1, wxEXPAND | wxALL, 5);
  root->SetSizer(row);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(root, 1, wxEXPAND);
  build_status_bar();
  SetSizerAndFit(top);
  SetMinSize(wxSize(std::max(GetMinSize().x, status_min_width_), GetMinSize().y));
  image_panel->fitting(false);
  install_record_key();
  // Coming back to the window (from a tool window) finds its keys working.
  // The first time, a window manager has placed the window by then: all of
  // it is brought onto the screen. So is a window that grows past the
  // screen's edge (its fit to the image, made while it was being placed);
  // a window the user moves is left where it is put.
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    CallAfter([this] { keep_on_screen(); });
    event.Skip();
  });
  Bind(wxEVT_ACTIVATE, [this](wxActivateEvent& event) {
    if (event.GetActive())
      CallAfter([this, first = !activated_] {
        keep_keyboard_focus();
        if (first) keep_on_screen();
      });
    activated_ = activated_ || event.GetActive();
    event.Skip();
  });

  edit_register_device_frame = new ValuesView(this, "Device registers");
  edit_register_chip_frame = new BenchChipEditor(this, model.signals);
  edit_dac_frame = new ValuesView(this, "DACs");
  device_info_frame = new DeviceInfoView(this);
  image_histogram_frame = new BenchHistogramWindow(this, model.histogram);
  serial_control_frame = new SerialView(this);
  // The board's answers are longer than the fields' default width.
  for (wxTextCtrl* field : {serial_control_frame->panel_serial_control->serial_tx_box,
                            serial_control_frame->panel_serial_control->serial_rx_box})
    field->SetMinSize(wxSize(
        field->GetTextExtent("AER-640 sensor board (simulated) SIM-0001").x + FromDIP(24), -1));
  serial_control_frame->panel_serial_control->serial_tx_box->SetToolTip(
      "A line for the board's serial port, e.g. ID?");
  serial_control_frame->panel_serial_control->btn_write->SetToolTip(
      "Send the line; the board's answer shows below");
  for (ValuesView* editor : {edit_register_device_frame, edit_dac_frame})
    editor->panel_values->button_apply->SetToolTip("Write the changed values to the board");
  // Said above the fields when the board has no serial port.
  auto* serial_panel = serial_control_frame->panel_serial_control;
  serial_note = new wxStaticText(serial_panel, wxID_ANY, kNoSerialPortNote);
  serial_note->Hide();
  serial_panel->vsizer->Insert(0, serial_note, 0, wxALL, 5);
  serial_control_frame->GetSizer()->SetSizeHints(serial_control_frame);
  adc_control_frame = new AdcView(this);
}

void BenchMainWindow::build_controls(wxWindow* root, const std::vector<std::string>& modes) {
  panel_control = new ControlPanel(root);
  auto* buttons = new wxBoxSizer(wxVERTICAL);
  auto add = [&](wxButton*& b, const char* label, const char* tip) {
    b = new wxButton(panel_control, wxID_ANY, label);
    b->SetToolTip(tip);
    buttons->Add(b, 0, wxEXPAND | wxALL, 3);
  };
  add(panel_control->button_start_stop, "Start", "Start or stop the board's event stream (F5)");
  add(panel_control->button_capture, "Capture",
      "Write the image as it is shown to captures/, as a PGM file (F6)");
  button_record = new wxToggleButton(panel_control, wxID_ANY, "Record");
  button_record->SetToolTip(
      "Record the board's events to the recordings folder, starting the stream if needed "
      "(Ctrl+R)");
  buttons->Add(button_record, 0, wxEXPAND | wxALL, 3);
  add(panel_control->button_reset, "Reset", "Reset the device: its logic and its clock");
  add(panel_control->button_reset_periphery, "Reset periphery", "Reset the AER periphery");
  add(panel_control->button_reset_chip, "Reset chip", "Reset the chip: its pixels start over");
  wxArrayString labels;
  for (const auto& m : modes) labels.Add(wxString::FromUTF8(m));
  panel_control->modes_box = new wxRadioBox(panel_control, wxID_ANY, "Mode", wxDefaultPosition,
                                            wxDefaultSize, labels, 1, wxRA_SPECIFY_COLS);
  panel_control->modes_box->SetToolTip("The chip's mode: its events, a test pattern, or none");
  buttons->Add(panel_control->modes_box, 0, wxEXPAND | wxALL, 3);
  panel_control->SetSizer(buttons);
}

void BenchMainWindow::build_status_bar() {
  CreateStatusBar(6, wxSTB_DEFAULT_STYLE);
  SetStatusBarPane(-1);  // menu help would overwrite the connection field
  // Each field as wide as its longest usual text; the message takes the rest.
  const wxString longest[] = {"Disconnected", "Bitstream: aer640_stream (flash)",
                              "99.99 Mev/s, 999.9 M lost", "99.9 fps"};
  for (int i = 0; i < 4; ++i)
    fixed_widths_[i] = GetStatusBar()->GetTextExtent(longest[i]).x + FromDIP(20);
  // The message field never shrinks below a usual message, whatever the
  // fields before it show: the window is made wider instead.
  message_room_ =
      GetStatusBar()->GetTextExtent("Recording stopped: stopped by the user").x + FromDIP(20);
  // Wide enough for a recording's or a playback's line beside them and a
  // message after, from the start: a window manager places the window at
  // the width it is first shown with.
  const int longest_line = std::max(
      GetStatusBar()->GetTextExtent("REC 12:34 | 999.9 MiB | 99,999,999 ev | 999,999 dropped").x,
      GetStatusBar()->GetTextExtent("Playback rec_20261208_120000.raw paused at 99.9 / 99.9 s").x);
  status_min_width_ = status_width_for(longest_line + FromDIP(20));
  set_status_widths(FromDIP(16));
  // Help has no menu of its own: the first message says where it is.
  SetStatusText(kFirstMessage, kStatusMessage);
}

int BenchMainWindow::status_width_for(int stream_width) const {
  int total = stream_width + message_room_ + FromDIP(24);  // the size grip and borders
  for (const int width : fixed_widths_) total += width;
  return total;
}

void BenchMainWindow::show_connection(const wxString& text) {
  fixed_widths_[kStatusConnection] = std::max(fixed_widths_[kStatusConnection],
                                              GetStatusBar()->GetTextExtent(text).x + FromDIP(20));
  set_status_widths(stream_width_);
  SetStatusText(text, kStatusConnection);
}

void BenchMainWindow::set_status_widths(int stream_width) {
  stream_width_ = stream_width;
  const int widths[] = {fixed_widths_[0], fixed_widths_[1], fixed_widths_[2],
                        fixed_widths_[3], stream_width,     -1};
  GetStatusBar()->SetStatusWidths(6, widths);
  // Wider fields before the message (a served board's address, a playback's
  // line) widen the window, as far as the screen has room, before they take
  // the message's.
  const int needed = status_width_for(stream_width);
  if (needed > status_min_width_) {
    status_min_width_ = needed;
    SetMinSize(wxSize(std::max(GetMinSize().x, needed), GetMinSize().y));
  }
  if (GetSize().x < needed) {
    const int room = wxGetClientDisplayRect().GetRight() + 1 - GetPosition().x;
    SetSize(std::min(needed, std::max(GetSize().x, room)), GetSize().y);
  }
}

void BenchMainWindow::show_stream(const wxString& line) {
  // Empty, the field keeps a sliver: a field of no width has a negative inside.
  set_status_widths(line.empty() ? FromDIP(16)
                                 : GetStatusBar()->GetTextExtent(line).x + FromDIP(20));
  SetStatusText(line, kStatusStream);
}

void BenchMainWindow::show_message(const wxString& text) {
  // A message longer than its field ends in "..." and shows whole as the
  // field's tooltip (the status bar's own tips).
  SetStatusText(text, kStatusMessage);
}

int BenchMainWindow::command_clicking(wxButton* button) {
  const int command = wxWindow::NewControlId();
  Bind(
      wxEVT_MENU,
      [button](wxCommandEvent&) {
        if (!button->IsEnabled()) return;
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
      },
      command);
  return command;
}

void BenchMainWindow::install_record_key() {
  // Ctrl+R: the Record toggle, as if it were clicked.
  record_command = wxWindow::NewControlId();
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
  wxAcceleratorEntry keys[] = {{wxACCEL_CTRL, 'R', record_command}};
  SetAcceleratorTable(wxAcceleratorTable(1, keys));
}

void BenchMainWindow::fit_when_shown() {
  // Under a window manager the menu bar's height is known only once the
  // window is on screen: fitting then shows the whole image.
  CallAfter([this] {
    image_panel->fitting(true);
    Layout();
    Fit();
    // The window is as wide as its status bar asks: the image takes the
    // height that goes with that width, as far as the screen has room.
    const wxSize image = image_panel->GetSize();
    const wxSize sensor = image_panel->sensor_size();
    const int taller = image.x * sensor.y / sensor.x - image.y;
    const int room = wxGetClientDisplayRect().height - GetSize().y;
    if (taller > 0) SetSize(GetSize() + wxSize(0, std::min(taller, std::max(0, room))));
    image_panel->fitting(false);
    keep_on_screen();
  });
}

void BenchMainWindow::keep_on_screen() {
  // Grown after a window manager placed it, the window may reach past the
  // screen's edge: it is moved back so that all of it shows.
  const wxPoint at = inside(GetRect(), wxGetClientDisplayRect()).GetPosition();
  if (at != GetPosition()) Move(at);
}

void BenchMainWindow::show_serial_port(bool has_one) {
  auto* panel = serial_control_frame->panel_serial_control;
  if (serial_note->IsShown() == !has_one) return;
  serial_note->Show(!has_one);
  panel->serial_tx_box->Enable(has_one);
  panel->btn_write->Enable(has_one);
  panel->Layout();
  serial_control_frame->GetSizer()->SetSizeHints(serial_control_frame);
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
