#include "bench/host/histogram_window.h"

#include <wx/dcbuffer.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bench/board/text.h"

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
  const wxSize size = plot->GetClientSize();
  const int axis = 18;  // room for the range labels
  dc.SetTextForeground(*wxBLACK);
  dc.DrawText(wxString::Format("%g", settings_.min), 2, size.y - axis + 2);
  const wxString right = wxString::Format("%g", settings_.max);
  dc.DrawText(right, size.x - dc.GetTextExtent(right).x - 2, size.y - axis + 2);
  dc.SetPen(*wxBLACK_PEN);
  dc.DrawLine(0, size.y - axis, size.x, size.y - axis);
  if (counts.empty()) return;
  const int top = std::max(1, *std::max_element(counts.begin(), counts.end()));
  const double w = double(size.x) / counts.size();
  const int height = size.y - axis - 4;
  dc.SetBrush(wxBrush(wxColour(60, 90, 200)));
  dc.SetPen(*wxTRANSPARENT_PEN);
  for (size_t i = 0; i < counts.size(); ++i) {
    // Square-root scale: the few busy pixels stay visible beside the many quiet ones.
    const int h = static_cast<int>(std::sqrt(double(counts[i]) / top) * height);
    dc.DrawRectangle(int(i * w), size.y - axis - h, std::max(1, int(w) - 1), h);
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
