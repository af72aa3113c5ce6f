// The host's histogram window: Max, Min and Bins with the Scale button, and
// the counts of the image's pixels per bin. A refused setting is marked and
// explained; the setting in force stays and comes back when the user leaves
// the field or presses Escape; Enter scales like the button.
#pragma once

#include <wx/panel.h>
#include <wx/textctrl.h>

#include <functional>
#include <vector>

#include "Zelvar_Core/Host/windows.h"
#include "bench/board/bench_model.h"
#include "bench/host/presenter/field_state.h"
#include "platform/intctrl/int_ctrl.h"

namespace Zelvar_Core::bench {

class BenchHistogramWindow : public HistogramWindow {
 public:
  BenchHistogramWindow(wxWindow* parent, const SimulatedHistogram& settings);
  // The three settings, each checked; a bad one is marked and refused.
  BinSettings get_bin_settings() override;
  // The settings were taken: every mark goes and the plot starts again.
  void scale() override;
  void open() override { Show(); }
  void close() override { Hide(); }
  // Counts the image's pixels per bin of the current settings and redraws.
  void show_histogram(const EventFrame& image);
  // The fields show the settings in force, unmarked.
  void show_settings();

  wxTextCtrl* max_field;
  wxTextCtrl* min_field;
  IntCtrl* bins_field;
  wxPanel* plot;
  std::vector<int> counts;
  std::function<void()> on_scaled;  // after every rescale, for the log
  FieldStates fields;               // Max, Min and Bins: in force, edited or refused

 private:
  void paint_plot();
  [[noreturn]] void refuse(std::initializer_list<wxTextCtrl*> fields, const std::string& reason);
  const SimulatedHistogram& settings_;
};

}  // namespace Zelvar_Core::bench
