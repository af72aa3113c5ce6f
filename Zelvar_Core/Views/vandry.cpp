#include "Zelvar_Core/Views/vandry.h"

#include <wx/stattext.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

namespace Zelvar_Core {

// ---- plot window rules ------------------------------------------------------

AxisRange adc_time_window(double t_last) {
  if (t_last < kAdcWindowSeconds) return {0.0, kAdcWindowSeconds};
  return {t_last - kAdcWindowSeconds, t_last};
}

std::size_t adc_window_start(const std::vector<double>& data_t, double xmin) {
  if (data_t.empty()) throw std::out_of_range("ADC channel has no samples");
  const auto first_not_below = std::lower_bound(data_t.begin(), data_t.end(), xmin);
  if (first_not_below == data_t.begin()) return 0;
  const auto before = first_not_below - 1;
  const bool take_before = first_not_below == data_t.end() ||
                           std::fabs(*before - xmin) <= std::fabs(*first_not_below - xmin);
  if (!take_before) return static_cast<std::size_t>(first_not_below - data_t.begin());
  // Equal times are equally near: the first of them wins.
  const auto first_equal = std::lower_bound(data_t.begin(), before, *before);
  return static_cast<std::size_t>(first_equal - data_t.begin());
}

AxisRange adc_value_range(const std::vector<double>& data_y, std::size_t first) {
  if (first >= data_y.size()) throw std::out_of_range("ADC channel has no visible samples");
  // Only finite samples count; with none the range is the one of zero.
  double m = 0, n = 0;
  bool any = false;
  for (std::size_t k = first; k < data_y.size(); ++k) {
    const double y = data_y[k];
    if (!std::isfinite(y)) continue;
    m = any ? std::max(m, y) : y;
    n = any ? std::min(n, y) : y;
    any = true;
  }
  const double ymax = m == 0 ? 0.15 : (m > 0 ? 1.15 * m : 0.85 * m);
  const double ymin = n == 0 ? -0.15 : (n > 0 ? 0.85 * n : 1.15 * n);
  return {ymin, ymax};
}

// ---- AdcPlotCanvas -----------------------------------------------------------

namespace {

// Walks the samples (data_t[k], data_y[k]) as points, so that the vector of
// a window is made in one allocation and one tight copy.
class SamplePoints {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = PlotPoint;
  using difference_type = std::ptrdiff_t;
  using pointer = const PlotPoint*;
  using reference = PlotPoint;

  SamplePoints(const double* t, const double* y) : t_(t), y_(y) {}
  PlotPoint operator*() const { return {*t_, *y_}; }
  SamplePoints& operator++() {
    ++t_, ++y_;
    return *this;
  }
  SamplePoints operator++(int) {
    SamplePoints before = *this;
    ++*this;
    return before;
  }
  bool operator==(const SamplePoints& other) const { return t_ == other.t_; }
  bool operator!=(const SamplePoints& other) const { return t_ != other.t_; }

 private:
  const double* t_;
  const double* y_;
};

// The lowest and highest value of the samples k in [first, last) with a
// finite time and value; low > high when there is none. Histories are
// nearly always all finite, so one pass without a branch takes four samples
// at a time into their own running extremes: a NaN value falls out of them
// by itself, an infinite one shows as an extreme, and a time that is not
// finite makes its probe (t - t summed) NaN. Only when one of those shows
// is the pass made again, sample by sample, leaving such samples out.
std::pair<double, double> drawable_extremes(const std::vector<double>& data_t,
                                            const std::vector<double>& data_y, std::size_t first,
                                            std::size_t last) {
  auto lower = [](double y, double low) { return y < low ? y : low; };
  auto higher = [](double y, double high) { return y > high ? y : high; };
  double low0 = INFINITY, low1 = low0, low2 = low0, low3 = low0;
  double high0 = -INFINITY, high1 = high0, high2 = high0, high3 = high0;
  double probe0 = 0, probe1 = 0, probe2 = 0, probe3 = 0;
  std::size_t k = first;
  for (; k + 4 <= last; k += 4) {
    const double y0 = data_y[k], y1 = data_y[k + 1], y2 = data_y[k + 2], y3 = data_y[k + 3];
    const double t0 = data_t[k], t1 = data_t[k + 1], t2 = data_t[k + 2], t3 = data_t[k + 3];
    probe0 += t0 - t0, probe1 += t1 - t1, probe2 += t2 - t2, probe3 += t3 - t3;
    low0 = lower(y0, low0), low1 = lower(y1, low1), low2 = lower(y2, low2);
    low3 = lower(y3, low3);
    high0 = higher(y0, high0), high1 = higher(y1, high1), high2 = higher(y2, high2);
    high3 = higher(y3, high3);
  }
  for (; k < last; ++k) {
    probe0 += data_t[k] - data_t[k];
    low0 = lower(data_y[k], low0), high0 = higher(data_y[k], high0);
  }
  const double low = lower(lower(low0, low1), lower(low2, low3));
  const double high = higher(higher(high0, high1), higher(high2, high3));
  if (probe0 + probe1 + probe2 + probe3 == 0 && std::isfinite(low) && std::isfinite(high))
    return {low, high};
  double finite_low = INFINITY, finite_high = -INFINITY;
  for (k = first; k < last; ++k) {
    if (!std::isfinite(data_t[k]) || !std::isfinite(data_y[k])) continue;
    finite_low = std::min(finite_low, data_y[k]);
    finite_high = std::max(finite_high, data_y[k]);
  }
  return {finite_low, finite_high};
}

}  // namespace

AdcPlotCanvas::AdcPlotCanvas(wxWindow* parent) : PlotCanvas(parent) {
  SetMinSize(wxSize(300, 100));
  create_layout();
}

void AdcPlotCanvas::create_layout() {
  SetBackgroundColour(wxNullColour);
  enableLegend = true;
}

void AdcPlotCanvas::update_plot(const AdcChannel& channel) {
  const auto& data_t = channel.data_t;
  const auto& data_y = channel.data_y;
  if (data_t.empty()) throw std::out_of_range("ADC channel has no samples");
  // The newest time that is a time sets the window; with none it stays at 0..15.
  const auto newest =
      std::find_if(data_t.rbegin(), data_t.rend(), [](double t) { return std::isfinite(t); });
  const AxisRange x_axis =
      newest == data_t.rend() ? adc_time_window(0.0) : adc_time_window(*newest);
  const std::size_t i_xmin = adc_window_start(data_t, x_axis.first);
  if (i_xmin >= data_y.size()) throw std::out_of_range("ADC channel has no visible samples");

  // Every visible sample goes to the canvas, which reduces a dense trace to
  // its pixel columns when it paints, for the size it paints at. The sample
  // before the window joins them for the segment that crosses into it;
  // older ones cannot be seen. The y range is that of the visible samples
  // that can be drawn (finite time and value).
  const std::size_t count = std::min(data_t.size(), data_y.size());
  const std::size_t from = i_xmin > 0 ? i_xmin - 1 : 0;
  std::vector<PlotPoint> points(SamplePoints(data_t.data() + from, data_y.data() + from),
                                SamplePoints(data_t.data() + count, data_y.data() + count));
  const auto [low, high] = drawable_extremes(data_t, data_y, i_xmin, count);
  const AxisRange y_axis =
      low <= high ? adc_value_range({low, high}, 0) : adc_value_range(data_y, i_xmin);
  PolySpline trace(std::move(points), "CH" + wxString::FromUTF8(to_text(channel.channel)), "blue",
                   1);
  std::vector<PolySpline> traces;
  traces.push_back(std::move(trace));
  Draw(PlotGraphics(std::move(traces), "Time (s)", wxString::FromUTF8(channel.label)), x_axis,
       y_axis);
}

// ---- AdcPlotPanel ------------------------------------------------------------

AdcPlotPanel::AdcPlotPanel(wxWindow* parent) : wxPanel(parent) {
  create_layout();
  init_flag = false;
}

void AdcPlotPanel::create_layout() {
  SetBackgroundColour(wxNullColour);
  hbox = new wxBoxSizer(wxHORIZONTAL);
  vbox = new wxBoxSizer(wxVERTICAL);
  hbox->Add(vbox, 1, wxEXPAND | wxALL, 5);
  canvas_list.clear();
  SetSizer(hbox);
  Layout();
}

void AdcPlotPanel::init_subplots(const AdcValuesMap& values) {
  for (const auto& [key, record] : values) {
    auto* canvas = new AdcPlotCanvas(this);
    canvas_list[record.label] = canvas;
    vbox->Add(canvas, 1, wxEXPAND | wxALL, 5);
  }
  Fit();
  GetParent()->Fit();
}

void AdcPlotPanel::update_subplots(const AdcValuesMap& values) {
  if (init_flag) {
    for (const auto& [key, record] : values) canvas_list.at(record.label)->update_plot(record);
  } else {
    init_subplots(values);
    init_flag = true;
  }
}

void AdcPlotPanel::update_panels(const AdcValuesMap& values) {
  for (const auto& [key, record] : values) {
    auto* canvas = canvas_list.at(record.label);
    if (record.IsEnabled) {
      canvas->Show();
    } else {
      canvas->Hide();
    }
  }
  Layout();
}

// ---- AdcMenuPanel ------------------------------------------------------------

AdcMenuPanel::AdcMenuPanel(wxWindow* parent) : wxPanel(parent) {
  create_layout();
  values_widgets.clear();
  enable_widgets.clear();
  init_flag = false;
}

void AdcMenuPanel::create_layout() {
  SetBackgroundColour(wxNullColour);
  hbox = new wxBoxSizer(wxHORIZONTAL);
  vbox = new wxBoxSizer(wxVERTICAL);
  adc_box = new wxStaticBoxSizer(wxHORIZONTAL, this, "ADC channels");
  grid_register = new wxFlexGridSizer(3, 0, 0);
  adc_box->Add(grid_register, 0, wxEXPAND | wxALL, 10);
  sizer_sampletime = new wxStaticBoxSizer(wxHORIZONTAL, this, "Sample time");
  sampletime_textbox =
      new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_CENTRE);
  button_update = new wxButton(this, wxID_APPLY, "Update");
  sizer_sampletime->Add(sampletime_textbox, 1, wxALIGN_CENTER_VERTICAL | wxALL, 10);
  sizer_sampletime->Add(button_update, 0, wxEXPAND | wxALL, 10);
  vbox->Add(adc_box, 0, wxEXPAND | wxALL, 5);
  vbox->Add(sizer_sampletime, 0, wxEXPAND | wxALL, 5);
  hbox->Add(vbox, 1, wxEXPAND | wxALL, 1);
  SetSizer(hbox);
  Layout();
}

void AdcMenuPanel::update_channels(const AdcValuesMap& values, double ts) {
  if (init_flag) {
    for (const auto& [key, record] : values) {
      auto* field = values_widgets.at(record.label);
      if (record.data_y.empty()) throw std::out_of_range("ADC channel has no samples");
      field->SetValue(wxString::FromUTF8(to_text(record.data_y.back())));
    }
  } else {
    init_adc_values(values);
    init_sampletime_value(ts);
    init_flag = true;
  }
  to_default_color();
}

void AdcMenuPanel::init_adc_values(const AdcValuesMap& values) {
  for (const auto& [key, record] : values) {
    const wxString caption_text = "CH" + wxString::FromUTF8(to_text(record.channel)) + ": " +
                                  wxString::FromUTF8(record.label);
    auto* caption =
        new wxStaticText(this, wxID_ANY, caption_text, wxDefaultPosition, wxDefaultSize, wxCENTER);
    auto* field = new wxTextCtrl(this, wxID_ANY, wxString::FromUTF8(to_text(record.value)),
                                 wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
    auto* check = new wxCheckBox(this, wxID_ANY, "");
    check->SetValue(record.IsEnabled);
    enable_widgets[record.label] = check;
    values_widgets[record.label] = field;
    grid_register->Add(caption, 1, wxEXPAND | wxALIGN_LEFT | wxTOP, 5);
    grid_register->Add(field, 1, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT | wxLEFT | wxTOP, 5);
    grid_register->Add(check, 1, wxEXPAND | wxLEFT | wxTOP, 5);
  }
  Fit();
  GetParent()->Fit();
}

void AdcMenuPanel::init_sampletime_value(double ts) {
  sampletime_textbox->SetValue(wxString::FromUTF8(to_text(ts)));
}

void AdcMenuPanel::update_isenabled(AdcValuesMap& values) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    it.value().IsEnabled = enable_widgets.at(it->second.label)->GetValue();
  }
}

void AdcMenuPanel::on_text_change(wxWindow* widget) { widget->SetBackgroundColour(kEditedColour); }

void AdcMenuPanel::to_default_color() {
  for (const auto& [label, field] : values_widgets) field->SetBackgroundColour(wxNullColour);
  Refresh();
}

// ---- AdcView -----------------------------------------------------------------

AdcView::AdcView(wxWindow* parent)
    : AuxViewBase(parent, wxNewId(), "ADC signals", wxDefaultPosition, wxDefaultSize,
                  wxDEFAULT_FRAME_STYLE ^ wxMAXIMIZE_BOX) {
  SetMinSize(kAdcViewMinSize);
  create_layout();
}

void AdcView::create_layout() {
  SetBackgroundColour(wxNullColour);
  panel_menu = new AdcMenuPanel(this);
  panel_plot = new AdcPlotPanel(this);
  vbox = new wxBoxSizer(wxVERTICAL);
  hbox = new wxBoxSizer(wxHORIZONTAL);
  vbox->Add(hbox, 1, wxEXPAND | wxALL, 5);
  hbox->Add(panel_menu, 0, wxEXPAND, 0);
  hbox->Add(panel_plot, 1, wxEXPAND | wxALL, 10);
  // The monitor's minimum is its sizer's: every fit (the panels fit the
  // window when the channels come) keeps to it.
  vbox->SetMinSize(kAdcViewMinSize);
  SetSizerAndFit(vbox);
  Layout();
}

void AdcView::update_values(const AdcValuesMap& values, double ts) {
  panel_menu->update_channels(values, ts);
  panel_plot->update_subplots(values);
}

void AdcView::update_panels(AdcValuesMap& values) {
  panel_menu->update_isenabled(values);
  panel_plot->update_panels(values);
}

void AdcView::apply() { panel_menu->to_default_color(); }

void AdcView::set_menus_state(bool state) { panel_menu->Enable(state); }

}  // namespace Zelvar_Core
