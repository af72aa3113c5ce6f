#include "bench/host/windows/histogram_window.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bench/board/text.h"
#include "platform/plot/plot_canvas.h"

namespace Zelvar_Core::bench {

namespace {

std::string trimmed(const wxString& text) { return bench::trimmed(text.utf8_string()); }

}  // namespace

BenchHistogramWindow::BenchHistogramWindow(wxWindow* parent, const SimulatedHistogram& settings)
    : HistogramWindow(parent, wxNewId(), "Image histogram", wxDefaultPosition, wxDefaultSize,
                      wxDEFAULT_FRAME_STYLE ^ wxRESIZE_BORDER ^ wxMAXIMIZE_BOX),
      settings_(settings) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  panel_histogram_plot = new HistogramPlotPanel(this);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  max_field = new wxTextCtrl(panel_histogram_plot, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxTE_PROCESS_ENTER);
  min_field = new wxTextCtrl(panel_histogram_plot, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxTE_PROCESS_ENTER);
  bins_field = new IntCtrl(panel_histogram_plot, wxID_ANY, settings.bins, wxDefaultPosition,
                           wxDefaultSize, wxTE_PROCESS_ENTER);
  panel_histogram_plot->button_scale = new wxButton(panel_histogram_plot, wxID_ANY, "Scale");
  for (auto [label, field] : {std::pair<const char*, wxTextCtrl*>{"Max", max_field},
                              {"Min", min_field},
                              {"Bins", bins_field}}) {
    row->Add(new wxStaticText(panel_histogram_plot, wxID_ANY, label), 0,
             wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
    field->SetMinSize(wxSize(70, -1));
    row->Add(field, 0, wxLEFT, 4);
    bind_setting_field(fields, field, panel_histogram_plot->button_scale,
                       [this] { show_settings(); });
  }
  max_field->SetToolTip("The largest net event count per pixel the histogram shows");
  min_field->SetToolTip("The smallest net event count per pixel the histogram shows");
  bins_field->SetToolTip("How many bars the range is cut into");
  panel_histogram_plot->button_scale->SetToolTip(
      "Apply Max, Min and Bins to the histogram and the image's grey scale (Enter too)");
  row->Add(panel_histogram_plot->button_scale, 0, wxLEFT | wxRIGHT, 8);
  auto* panel_sizer = new wxBoxSizer(wxVERTICAL);
  panel_sizer->Add(row, 0, wxALL, 5);
  plot = new wxPanel(panel_histogram_plot, wxID_ANY, wxDefaultPosition, wxSize(440, 200));
  plot->SetBackgroundStyle(wxBG_STYLE_PAINT);
  plot->Bind(wxEVT_PAINT, [this](wxPaintEvent&) { paint_plot(); });
  panel_sizer->Add(plot, 1, wxEXPAND | wxALL, 5);
  panel_histogram_plot->SetSizer(panel_sizer);
  sizer->Add(panel_histogram_plot, 1, wxEXPAND);
  SetSizerAndFit(sizer);
  show_settings();
}

void BenchHistogramWindow::show_settings() {
  const std::pair<wxTextCtrl*, wxString> shown[] = {
      {max_field, wxString::Format("%g", settings_.max)},
      {min_field, wxString::Format("%g", settings_.min)},
      {bins_field, wxString::Format("%d", settings_.bins)}};
  for (const auto& [field, text] : shown) {
    field->ChangeValue(text);
    fields.show(field, text.utf8_string());
  }
}

void BenchHistogramWindow::refuse(std::initializer_list<wxTextCtrl*> refused,
                                  const std::string& reason) {
  for (auto* field : refused) fields.refuse(field, reason);
  throw std::invalid_argument(reason);
}

BinSettings BenchHistogramWindow::get_bin_settings() {
  // Only what this check refuses is marked refused.
  for (wxTextCtrl* field : {max_field, min_field, static_cast<wxTextCtrl*>(bins_field)})
    fields.show(field, fields.in_force(field));
  auto number = [this](wxTextCtrl* field, const char* name) {
    double value = 0;
    const wxString text = wxString::FromUTF8(trimmed(field->GetValue()));
    if (!text.ToCDouble(&value) || !std::isfinite(value))
      refuse({field}, std::string("Histogram: ") + name + " \"" + field->GetValue().utf8_string() +
                          "\" is not a finite number");
    return value;
  };
  const double max = number(max_field, "Max");
  const double min = number(min_field, "Min");
  if (!(max > min))
    refuse({max_field, min_field}, "Histogram: Max (" + trimmed(max_field->GetValue()) +
                                       ") must be greater than Min (" +
                                       trimmed(min_field->GetValue()) + ")");
  long bins = 0;
  if (!wxString::FromUTF8(trimmed(bins_field->GetValue())).ToLong(&bins))
    refuse({bins_field},
           "Histogram: Bins \"" + bins_field->GetValue().utf8_string() + "\" is not an integer");
  if (bins < 1 || bins > 4096)
    refuse({bins_field}, "Histogram: Bins " + std::to_string(bins) + " is out of range 1..4096");
  return {max, min, static_cast<int>(bins)};
}

void BenchHistogramWindow::scale() {
  show_settings();
  counts.assign(settings_.bins, 0);
  plot->Refresh();
  if (on_scaled) on_scaled();
}

void BenchHistogramWindow::paint_plot() {
  wxAutoBufferedPaintDC dc(plot);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  dc.SetTextForeground(*wxBLACK);
  const wxSize size = plot->GetClientSize();
  const int line = dc.GetTextExtent("0").y;
  const int top = std::max(1, counts.empty() ? 1 : *std::max_element(counts.begin(), counts.end()));
  // Pixels per bin on a square-root scale (the few busy pixels stay visible
  // beside the many quiet ones), with its axis on the left.
  const auto ticks = nice_ticks(0, top, 4);
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1.0;
  int widest = 0;
  for (double t : ticks) widest = std::max(widest, dc.GetTextExtent(tick_label(t, step)).x);
  const wxRect area(line + widest + 10, line / 2, std::max(1, size.x - line - widest - 14),
                    std::max(1, size.y - 2 * line - 10 - line / 2));
  const auto y_of = [&](double count) {
    return area.GetBottom() -
           static_cast<int>(std::sqrt(std::clamp(count / top, 0.0, 1.0)) * (area.height - 1));
  };
  dc.SetPen(*wxBLACK_PEN);
  dc.DrawLine(area.GetLeft(), area.GetBottom(), area.GetRight(), area.GetBottom());
  dc.DrawLine(area.GetLeft(), area.GetTop(), area.GetLeft(), area.GetBottom());
  for (double t : ticks) {
    if (t > top) continue;
    const wxString text = tick_label(t, step);
    const int y = y_of(t);
    dc.DrawLine(area.GetLeft() - 3, y, area.GetLeft(), y);
    dc.DrawText(text, area.GetLeft() - 5 - dc.GetTextExtent(text).x, y - line / 2);
  }
  {
    wxGCDC rotated(dc);  // rotated text wants a graphics context
    const wxString title = wxString::FromUTF8("Pixels (\u221a scale)");
    rotated.SetFont(dc.GetFont());
    rotated.SetTextForeground(*wxBLACK);
    rotated.DrawRotatedText(title, 0,
                            area.GetTop() + (area.height + rotated.GetTextExtent(title).x) / 2, 90);
  }
  const wxString left = wxString::Format("%g", settings_.min);
  const wxString right = wxString::Format("%g", settings_.max);
  const wxString caption = "Net events per pixel";
  dc.DrawText(left, area.GetLeft(), area.GetBottom() + 3);
  dc.DrawText(right, area.GetRight() - dc.GetTextExtent(right).x, area.GetBottom() + 3);
  dc.DrawText(caption, area.GetLeft() + (area.width - dc.GetTextExtent(caption).x) / 2,
              area.GetBottom() + 3 + line);
  if (counts.empty()) return;
  const double w = static_cast<double>(area.width) / static_cast<double>(counts.size());
  dc.SetBrush(wxBrush(wxColour(60, 90, 200)));
  dc.SetPen(*wxTRANSPARENT_PEN);
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const int y = y_of(counts[i]);
    dc.DrawRectangle(area.GetLeft() + 1 + static_cast<int>(static_cast<double>(i) * w), y,
                     std::max(1, static_cast<int>(w) - 1), area.GetBottom() - y);
  }
}

void BenchHistogramWindow::show_histogram(const EventFrame& image) {
  counts.assign(settings_.bins, 0);
  const double span = settings_.max - settings_.min;
  for (auto v : image.counts) {
    if (v == 0) continue;  // the quiet pixels would drown everything else
    const int bin = static_cast<int>(std::floor((v - settings_.min) / span * settings_.bins));
    if (bin >= 0 && bin < settings_.bins) ++counts[bin];
  }
  plot->Refresh();
}

}  // namespace Zelvar_Core::bench
