// The ADC monitor: a channel list with the latest values, a check box per
// channel and the sample time, beside one live plot per channel.
#pragma once

#include <tsl/ordered_map.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <cstddef>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/values.h"
#include "Zelvar_Core/Views/fennick.h"
#include "platform/plot/plot_canvas.h"

namespace Zelvar_Core {

// Width of the visible time window of every ADC plot, in seconds.
inline constexpr double kAdcWindowSeconds = 15.0;
// The ADC monitor is never smaller than this.
inline const wxSize kAdcViewMinSize(1000, 300);

// The (xmin, xmax) window for a history whose newest sample is at `t_last`.
AxisRange adc_time_window(double t_last);
// The index of the sample nearest to `xmin`, the lowest one on ties, found by
// binary search in the ascending `data_t`.
std::size_t adc_window_start(const std::vector<double>& data_t, double xmin);
// The (ymin, ymax) bounds for the visible samples: 15 % beyond the extremes,
// or 0.15 from zero when an extreme is zero. Non-finite samples do not
// count; with no finite one the bounds are those of zero.
AxisRange adc_value_range(const std::vector<double>& data_y, std::size_t first);

class AdcPlotCanvas : public PlotCanvas {
 public:
  explicit AdcPlotCanvas(wxWindow* parent);

  void update_plot(const AdcChannel& channel);

 private:
  void create_layout();
};

class AdcPlotPanel : public wxPanel {
 public:
  explicit AdcPlotPanel(wxWindow* parent);

  void update_subplots(const AdcValuesMap& values);
  void update_panels(const AdcValuesMap& values);

  wxBoxSizer* hbox = nullptr;
  wxBoxSizer* vbox = nullptr;
  tsl::ordered_map<std::string, AdcPlotCanvas*> canvas_list;
  bool init_flag = false;

 private:
  void create_layout();
  void init_subplots(const AdcValuesMap& values);
};

class AdcMenuPanel : public wxPanel {
 public:
  explicit AdcMenuPanel(wxWindow* parent);

  void update_channels(const AdcValuesMap& values, double ts);
  void update_isenabled(AdcValuesMap& values);
  void on_text_change(wxWindow* widget);
  void to_default_color();

  wxBoxSizer* hbox = nullptr;
  wxBoxSizer* vbox = nullptr;
  wxStaticBoxSizer* adc_box = nullptr;
  wxFlexGridSizer* grid_register = nullptr;
  wxStaticBoxSizer* sizer_sampletime = nullptr;
  wxTextCtrl* sampletime_textbox = nullptr;
  wxButton* button_update = nullptr;
  tsl::ordered_map<std::string, wxTextCtrl*> values_widgets;
  tsl::ordered_map<std::string, wxCheckBox*> enable_widgets;
  bool init_flag = false;

 private:
  void create_layout();
  void init_adc_values(const AdcValuesMap& values);
  void init_sampletime_value(double ts);
};

class AdcView : public AuxViewBase {
 public:
  explicit AdcView(wxWindow* parent);

  // `ts` is the sample time in seconds; it is shown only on the first call.
  void update_values(const AdcValuesMap& values, double ts);
  void update_panels(AdcValuesMap& values);
  void apply();
  void set_menus_state(bool state);

  AdcMenuPanel* panel_menu = nullptr;
  AdcPlotPanel* panel_plot = nullptr;
  wxBoxSizer* vbox = nullptr;
  wxBoxSizer* hbox = nullptr;

 private:
  void create_layout();
};

}  // namespace Zelvar_Core
