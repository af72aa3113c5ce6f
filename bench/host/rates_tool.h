// The Rates tool: ON and OFF events per second over the last 15 seconds as
// two traces, with the current values and the ON/OFF ratio, from the live
// board or a playback alike.
#pragma once

#include <wx/frame.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "Zelvar_Core/Host/presenter.h"
#include "bench/sequences/rates.h"
#include "platform/plot/plot_canvas.h"

namespace Zelvar_Core::bench {

class RatesTool : public wxFrame, public Tool {
 public:
  RatesTool(wxWindow* parent, const RateMeter& meter);
  bool is_shown() override { return IsShown(); }
  void open() override;
  // Draws the meter's last 15 seconds and the current values.
  void refresh();

  PlotCanvas* plot;
  wxStaticText* values_text;

 private:
  const RateMeter& meter_;
  wxTimer timer_;
};

}  // namespace Zelvar_Core::bench
