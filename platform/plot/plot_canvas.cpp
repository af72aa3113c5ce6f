#include "platform/plot/plot_canvas.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/settings.h>

#include <algorithm>
#include <cmath>

namespace Zelvar_Core {

namespace {

constexpr int kLeftMargin = 58;
constexpr int kRightMargin = 10;
constexpr int kTopMargin = 8;
constexpr int kBottomMargin = 34;
constexpr double kPixelLimit = 1e6;  // keeps far-off points inside int range

wxString tick_text(double value, double step) {
  if (std::abs(value) < step * 1e-9) value = 0.0;
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  return wxString::Format("%.*f", decimals, value);
}

double to_pixel(double value, double lo, double hi, double p0, double p1) {
  const double span = hi - lo;
  const double p = span == 0.0 ? (p0 + p1) / 2 : p0 + (value - lo) / span * (p1 - p0);
  return std::clamp(p, -kPixelLimit, kPixelLimit);
}

}  // namespace

std::vector<double> nice_ticks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi) || target < 1) return ticks;
  const double raw = (hi - lo) / target;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * magnitude;
    if (step >= raw) break;
  }
  const double first = std::ceil(lo / step - 1e-9) * step;
  for (double t = first; t <= hi + step * 1e-9; t += step) ticks.push_back(t);
  return ticks;
}

std::vector<wxPoint2DDouble> reduce_per_column(const std::vector<wxPoint2DDouble>& points) {
  std::vector<wxPoint2DDouble> reduced;
  size_t i = 0;
  while (i < points.size()) {
    const double column = std::floor(points[i].m_x);
    size_t end = i;
    size_t lowest = i;
    size_t highest = i;
    while (end < points.size() && std::floor(points[end].m_x) == column) {
      if (points[end].m_y < points[lowest].m_y) lowest = end;
      if (points[end].m_y > points[highest].m_y) highest = end;
      ++end;
    }
    // Keep the column's points in their original order so the line between
    // neighbouring columns is unchanged.
    size_t keep[] = {i, std::min(lowest, highest), std::max(lowest, highest), end - 1};
    size_t last = static_cast<size_t>(-1);
    for (size_t k : keep) {
      if (k != last) reduced.push_back(points[k]);
      last = k;
    }
    i = end;
  }
  return reduced;
}

PlotCanvas::PlotCanvas(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &PlotCanvas::OnPaint, this);
}

void PlotCanvas::Draw(PlotGraphics graphics, AxisRange xAxis, AxisRange yAxis) {
  graphics_ = std::move(graphics);
  x_axis_ = xAxis;
  y_axis_ = yAxis;
  Refresh(false);
}

wxRect PlotCanvas::PlotArea(const wxSize& size) const {
  return wxRect(kLeftMargin, kTopMargin, std::max(1, size.x - kLeftMargin - kRightMargin),
                std::max(1, size.y - kTopMargin - kBottomMargin));
}

void PlotCanvas::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC paint_dc(this);
  wxGCDC dc(paint_dc);
  Render(dc, GetClientSize());
}

void PlotCanvas::Render(wxDC& dc, const wxSize& size) const {
  wxColour background = GetBackgroundColour();
  if (!background.IsOk()) background = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
  dc.SetBackground(wxBrush(background));
  dc.Clear();
  if (!graphics_) return;
  dc.SetFont(GetFont().IsOk() ? GetFont() : *wxNORMAL_FONT);
  const wxRect area = PlotArea(size);
  DrawAxes(dc, area);
  DrawTraces(dc, area);
  if (enableLegend) DrawLegend(dc, area);
}

void PlotCanvas::DrawAxes(wxDC& dc, const wxRect& area) const {
  const wxColour ink = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
  dc.SetPen(wxPen(ink, 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.SetTextForeground(ink);
  dc.DrawRectangle(area);

  const double left = area.GetLeft(), right = area.GetRight();
  const double top = area.GetTop(), bottom = area.GetBottom();
  const int text_height = dc.GetCharHeight();

  const auto xticks = nice_ticks(x_axis_.first, x_axis_.second, std::max(2, area.width / 60));
  const double xstep = xticks.size() > 1 ? xticks[1] - xticks[0] : 1.0;
  for (double t : xticks) {
    const int px = wxRound(to_pixel(t, x_axis_.first, x_axis_.second, left, right));
    dc.DrawLine(px, area.GetBottom(), px, area.GetBottom() - 4);
    const wxString text = tick_text(t, xstep);
    const wxSize extent = dc.GetTextExtent(text);
    dc.DrawText(text, px - extent.x / 2, area.GetBottom() + 3);
  }
  const wxSize xlabel = dc.GetTextExtent(graphics_->xLabel);
  dc.DrawText(graphics_->xLabel, area.GetLeft() + (area.width - xlabel.x) / 2,
              area.GetBottom() + 3 + text_height);

  const auto yticks =
      nice_ticks(y_axis_.first, y_axis_.second, std::max(3, area.height / (2 * text_height)));
  const double ystep = yticks.size() > 1 ? yticks[1] - yticks[0] : 1.0;
  int widest = 0;
  for (double t : yticks) {
    const int py = wxRound(to_pixel(t, y_axis_.first, y_axis_.second, bottom, top));
    dc.DrawLine(area.GetLeft(), py, area.GetLeft() + 4, py);
    const wxString text = tick_text(t, ystep);
    const wxSize extent = dc.GetTextExtent(text);
    widest = std::max(widest, extent.x);
    dc.DrawText(text, area.GetLeft() - 3 - extent.x, py - extent.y / 2);
  }
  const wxSize ylabel = dc.GetTextExtent(graphics_->yLabel);
  const int ylabel_x = std::max(0, area.GetLeft() - 6 - widest - text_height);
  dc.DrawRotatedText(graphics_->yLabel, ylabel_x, area.GetTop() + (area.height + ylabel.x) / 2,
                     90.0);
}

void PlotCanvas::DrawTraces(wxDC& dc, const wxRect& area) const {
  wxDCClipper clip(dc, area);
  const double left = area.GetLeft(), right = area.GetRight();
  const double top = area.GetTop(), bottom = area.GetBottom();
  for (const auto& trace : graphics_->traces) {
    if (trace.points.empty()) continue;
    std::vector<wxPoint2DDouble> pixels;
    pixels.reserve(trace.points.size());
    for (const auto& p : trace.points) {
      pixels.emplace_back(to_pixel(p.x, x_axis_.first, x_axis_.second, left, right),
                          to_pixel(p.y, y_axis_.first, y_axis_.second, bottom, top));
    }
    if (pixels.size() > 2 * static_cast<size_t>(area.width)) pixels = reduce_per_column(pixels);
    std::vector<wxPoint> line;
    line.reserve(pixels.size());
    for (const auto& p : pixels) line.emplace_back(wxRound(p.m_x), wxRound(p.m_y));
    dc.SetPen(wxPen(wxColour(trace.colour), trace.width));
    if (line.size() == 1) {
      dc.DrawPoint(line.front());
    } else {
      dc.DrawLines(static_cast<int>(line.size()), line.data());
    }
  }
}

void PlotCanvas::DrawLegend(wxDC& dc, const wxRect& area) const {
  const int line_length = 18;
  int y = area.GetTop() + 4;
  for (const auto& trace : graphics_->traces) {
    if (trace.legend.empty()) continue;
    const wxSize extent = dc.GetTextExtent(trace.legend);
    const int x = area.GetRight() - 6 - extent.x - line_length - 4;
    dc.SetPen(wxPen(wxColour(trace.colour), trace.width));
    dc.DrawLine(x, y + extent.y / 2, x + line_length, y + extent.y / 2);
    dc.DrawText(trace.legend, x + line_length + 4, y);
    y += extent.y + 2;
  }
}

}  // namespace Zelvar_Core
