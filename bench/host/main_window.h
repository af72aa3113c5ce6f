// The bench's main window: the control panel beside the live image, the
// menu bar and the status bar, and the tool windows it owns.
#pragma once

#include <wx/image.h>
#include <wx/panel.h>
#include <wx/tglbtn.h>

#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_window.h"
#include "bench/board/bench_model.h"

namespace Zelvar_Core::bench {

// Net event counts drawn through the histogram range: OFF towards blue, ON
// towards warm white, no events dark.
class ImagePanel : public wxPanel {
 public:
  ImagePanel(wxWindow* parent, const BenchModel& model);
  // Fills `rgb` (3 bytes per pixel) from the model's image.
  void render(unsigned char* rgb) const;
  long frames_drawn() const { return frames_drawn_; }

 private:
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

  ImagePanel* image_panel;
  wxToggleButton* button_record;  // Ctrl+R toggles it too
  int record_command = 0;         // the command Ctrl+R sends
};

}  // namespace Zelvar_Core::bench
