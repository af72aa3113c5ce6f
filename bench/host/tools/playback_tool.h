// The Playback tool: opens a recording (header, duration, events, whatever
// is odd about it) and plays it in the board's place, with speed, seek and
// loop; exports it to HDF5.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include "bench/host/presenter/bench_presenter.h"
#include "bench/host/windows/result_line.h"
#include "bench/host/windows/tool_frame.h"

namespace Zelvar_Core::bench {

class PlaybackTool : public ToolFrame {
 public:
  PlaybackTool(wxWindow* parent, BenchPresenter& presenter);
  void open() override;
  // Opens the dialog on the recordings folder with the newest recording chosen.
  void on_open();
  // Opens the recording at `path` as the Open button does after its dialog.
  // When it cannot be opened, the tool shows that no recording is open (the
  // one open before is closed) and the error goes on to the caller.
  void open_recording(const std::string& path);
  // Exports the open recording to `out` as the Export button does after its
  // dialog, and tells what it came to in the window.
  void export_to(const std::string& out);
  // The speed choices, in recorded seconds per second (0: as fast as possible).
  static const std::vector<std::pair<wxString, double>>& speeds();

  wxButton* button_open;
  wxButton* button_export;
  wxTextCtrl* info_text;
  wxToggleButton* button_play;
  wxChoice* speed_choice;
  wxCheckBox* loop_box;
  wxSlider* seek_slider;
  wxStaticText* position_text;
  ResultLine* result_line;  // what the last export came to

 private:
  void explain_controls();
  void on_export();
  void on_play();
  void on_seek();
  void refresh_position();
  // Shows what is open: the controls follow it.
  void enable_controls(bool open);

  BenchPresenter& presenter_;
  void on_tick() override { refresh_position(); }
};

}  // namespace Zelvar_Core::bench
