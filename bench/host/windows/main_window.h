// The bench's main window: the control panel beside the live image, the
// menu bar and the status bar, and the tool windows it owns.
#pragma once

#include <wx/image.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/tglbtn.h>

#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_window.h"
#include "bench/board/bench_model.h"

namespace Zelvar_Core::bench {

// The colours of the image: ON towards warm white, OFF towards blue, no
// events dark.
inline const wxColour kOnColour(255, 236, 150);
inline const wxColour kOffColour(40, 110, 255);
inline const wxColour kNoEventColour(24, 24, 28);

// Net event counts drawn through the histogram range, scaled to the panel
// at the sensor's aspect ratio (1:1 at the window's first size).
class ImagePanel : public wxPanel {
 public:
  ImagePanel(wxWindow* parent, const BenchModel& model);
  // Fills `rgb` (3 bytes per pixel) from the model's image.
  void render(unsigned char* rgb) const;
  long frames_drawn() const { return frames_drawn_; }
  // Where the image is drawn in the panel, letterboxed at the sensor's aspect.
  wxRect image_rect() const;
  // The sensor's pixels across and down: the image's.
  wxSize sensor_size() const;
  // The panel's minimum: the sensor at 1:1 while the window is fitted, half
  // of it after, so that the user may make the window smaller.
  void fitting(bool full);

 private:
  void paint();

  const BenchModel& model_;
  wxImage frame_;
  long frames_drawn_ = 0;
};

// Fields of the main window's status bar.
enum StatusField {
  kStatusConnection,
  kStatusBitstream,
  kStatusEvents,
  kStatusFrames,
  kStatusStream,  // a recording or a playback under way
  kStatusMessage
};

// The serial window's line for a board without a serial port.
inline constexpr const char* kNoSerialPortNote = "This board has no serial port";

// The message field's text until the first action's outcome replaces it.
inline constexpr const char* kFirstMessage = "Press F1 for keys and help";

class BenchMainWindow : public MainWindow {
 public:
  BenchMainWindow(BenchModel& model, const std::vector<std::string>& modes);
  // Ends the window without another close event; the program ends with it.
  void close() override { Destroy(); }
  wxString status(StatusField field) const { return GetStatusBar()->GetStatusText(field); }
  // The controls that need the board, enabled while one is connected.
  void enable_board_controls(bool connected);
  // Puts the focus on a control of the window when it is active and none
  // (or a greyed one) holds it, so that its keys work.
  void keep_keyboard_focus();
  // The stream field (a recording's or a playback's line) takes the room
  // its text needs, and none without one; the message field the rest.
  void show_stream(const wxString& line);
  // The connection field, as wide as its text (a served board's address is long).
  void show_connection(const wxString& text);
  // The message field; a text too long for it shows whole as its tooltip.
  void show_message(const wxString& text);
  // The command that clicks `button` when it is enabled, for a key.
  int command_clicking(wxButton* button);
  // Sizes the window to its content once it is shown (a window manager's
  // frame and the menu bar are known only then).
  void fit_when_shown();

  // The serial window says when the board has no serial port, and then
  // takes no line.
  void show_serial_port(bool has_one);

  ImagePanel* image_panel;
  wxStaticText* serial_note;      // kNoSerialPortNote, shown for a board without one
  wxToggleButton* button_record;  // Ctrl+R toggles it too
  int record_command = 0;         // the command Ctrl+R sends

 private:
  void build_controls(wxWindow* root, const std::vector<std::string>& modes);
  void build_status_bar();
  void install_record_key();
  void set_status_widths(int stream_width);
  // The window's width for every field whole beside a stream field that wide.
  int status_width_for(int stream_width) const;
  int fixed_widths_[4] = {0, 0, 0, 0};  // connection, bitstream, events, frames
  int stream_width_ = 0;
  int message_room_ = 0;      // the message field's least width
  int status_min_width_ = 0;  // the window's width for every field whole
  bool activated_ = false;    // once activated, a window manager has placed it
  void keep_on_screen();
};

}  // namespace Zelvar_Core::bench
