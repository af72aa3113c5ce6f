// The Rates tool: ON and OFF events per second over the last 15 seconds as
// two traces, with the current values and the ON/OFF ratio, from the live
// board or a playback alike.
#pragma once

#include <wx/stattext.h>

#include "bench/host/windows/tool_frame.h"
#include "bench/sequences/rates.h"
#include "platform/plot/plot_canvas.h"

namespace Zelvar_Core::bench {

class RatesTool : public ToolFrame {
 public:
  RatesTool(wxWindow* parent, const RateMeter& meter);
  void open() override;
  // Draws the meter's last 15 seconds and the current values.
  void refresh();

  PlotCanvas* plot;
  wxStaticText* values_text;

 private:
  const RateMeter& meter_;
  void on_tick() override { refresh(); }
};

}  // namespace Zelvar_Core::bench
