#include "platform/plot/plot_canvas.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/graphics.h>
#include <wx/settings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace Zelvar_Core {

namespace {

constexpr int kLeftMargin = 58;
constexpr int kRightMargin = 20;  // room for half of the last x tick label
constexpr int kTopMargin = 8;
constexpr int kBottomMargin = 38;
constexpr double kPixelLimit = 1e6;    // keeps far-off points inside int range
constexpr double kValueLimit = 1e300;  // keeps a range's width finite
const double kGap = std::numeric_limits<double>::quiet_NaN();

bool finite(double v) { return std::isfinite(v); }

// A tick's label: as many decimals as the step needs; large values in
// thousands, millions or billions ("1.5M"), so the labels stay narrow.
wxString tick_text(double value, double step) {
  if (std::abs(value) < step * 1e-9) return "0";
  const double magnitude = std::max(std::abs(value), step);
  const char* suffix = "";
  double scale = 1;
  if (magnitude >= 1e9) {
    suffix = "G", scale = 1e9;
  } else if (magnitude >= 1e6) {
    suffix = "M", scale = 1e6;
  } else if (magnitude >= 1e4) {
    suffix = "k", scale = 1e3;
  }
  const double scaled_step = step / scale;
  const int decimals =
      std::clamp(static_cast<int>(-std::floor(std::log10(scaled_step) + 1e-9)), 0, 12);
  return wxString::Format("%.*f%s", decimals, value / scale, suffix);
}

// What a column keeps of its points: the first and last, the lowest and
// highest, in their order. Without antialiasing (see DrawTraces) the line
// through them sets exactly the pixels of the line through all of them.
struct Kept {
  double x, y;
  std::size_t index;
};

void emit_column(const Kept& entry, const Kept& low, const Kept& high, const Kept& exit,
                 std::vector<PlotPoint>& out) {
  const Kept& first = low.index < high.index ? low : high;
  const Kept& second = low.index < high.index ? high : low;
  std::size_t last = static_cast<std::size_t>(-1);
  for (const Kept* k : {&entry, &first, &second, &exit}) {
    if (k->index != last) out.push_back({k->x, k->y});
    last = k->index;
  }
}

// Groups points, in the order they come, by the pixel column they are drawn
// in. Works on any data, one point at a time.
class ColumnReducer {
 public:
  ColumnReducer(const AxisMap& x_map, std::vector<PlotPoint>& out) : x_map_(x_map), out_(out) {}
  void add(double x, double y) {
    if (!finite(x) || !finite(y)) {
      flush();
      if (!out_.empty() && finite(out_.back().x)) out_.push_back({kGap, kGap});
      return;
    }
    const int column = x_map_.pixel(x);
    const Kept here{x, y, next_++};
    if (open_ && column == column_) {
      if (y < low_.y) low_ = here;
      if (y > high_.y) high_ = here;
      exit_ = here;
      return;
    }
    flush();
    open_ = true;
    column_ = column;
    entry_ = low_ = high_ = exit_ = here;
  }
  void flush() {
    if (open_) emit_column(entry_, low_, high_, exit_, out_);
    open_ = false;
  }

 private:
  const AxisMap& x_map_;
  std::vector<PlotPoint>& out_;
  bool open_ = false;
  int column_ = 0;
  std::size_t next_ = 0;
  Kept entry_{}, low_{}, high_{}, exit_{};
};

// Two doubles side by side (the compiler's portable vectors): the column
// pass runs two points at a time with no branch.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairMask __attribute__((vector_size(16)));

Pair load_pair(const double* p) {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The running extremes of one lane of a column: values, where each first
// occurred, and a probe that turns NaN at a non-finite time or value.
struct Lane {
  Pair lows, highs, probe;
  PairMask at_lows, at_highs;
  void take(const Pair& y, const Pair& x, const PairMask& index) {
    const PairMask lower = y<lows, higher = y> highs;
    lows = lower ? y : lows;
    highs = higher ? y : highs;
    at_lows = (lower & index) | (~lower & at_lows);
    at_highs = (higher & index) | (~higher & at_highs);
    probe += (y - y) + (x - x);
  }
};

// One column [begin, end) of a history's ascending times, found by binary
// search: one pass, four points at a time in two lanes and without a
// branch, finds its lowest and highest points (the first of equals) and
// checks that every time and value is finite. False when one is not
// (nothing is emitted then).
bool reduce_column(const double* xs, const double* ys, std::size_t begin, std::size_t end,
                   std::vector<PlotPoint>& out) {
  bool odd = !(ys[begin] - ys[begin] == 0) || !(xs[begin] - xs[begin] == 0);
  double low = ys[begin], high = ys[begin];
  std::size_t at_low = begin, at_high = begin;
  std::size_t k = begin + 1;
  if (k + 4 <= end) {
    const auto start = static_cast<long long>(begin);
    Lane lanes[2];
    for (auto& lane : lanes) {
      lane.lows = lane.highs = Pair{low, low};
      lane.probe = Pair{0, 0};
      lane.at_lows = lane.at_highs = PairMask{start, start};
    }
    PairMask index = {static_cast<long long>(k), static_cast<long long>(k + 1)};
    const PairMask two = {2, 2}, four = {4, 4};
    for (; k + 4 <= end; k += 4, index += four) {
      lanes[0].take(load_pair(ys + k), load_pair(xs + k), index);
      lanes[1].take(load_pair(ys + k + 2), load_pair(xs + k + 2), index + two);
    }
    for (const Lane& lane : lanes) {
      odd |= !(lane.probe[0] + lane.probe[1] == 0);
      for (int i = 0; i < 2; ++i) {
        const auto lane_low = static_cast<std::size_t>(lane.at_lows[i]);
        const auto lane_high = static_cast<std::size_t>(lane.at_highs[i]);
        if (lane.lows[i] < low || (lane.lows[i] == low && lane_low < at_low))
          low = lane.lows[i], at_low = lane_low;
        if (lane.highs[i] > high || (lane.highs[i] == high && lane_high < at_high))
          high = lane.highs[i], at_high = lane_high;
      }
    }
  }
  for (; k < end; ++k) {
    odd |= !(ys[k] - ys[k] == 0) || !(xs[k] - xs[k] == 0);
    if (ys[k] < low) low = ys[k], at_low = k;
    if (ys[k] > high) high = ys[k], at_high = k;
  }
  if (odd) return false;
  auto kept = [&](std::size_t i) { return Kept{xs[i], ys[i], i}; };
  emit_column(kept(begin), kept(at_low), kept(at_high), kept(end - 1), out);
  return true;
}

}  // namespace

AxisRange finite_range(AxisRange requested) {
  double lo = requested.first, hi = requested.second;
  if (!finite(lo) && !finite(hi)) return {0.0, 1.0};
  if (!finite(lo)) lo = hi;
  if (!finite(hi)) hi = lo;
  if (hi < lo) std::swap(lo, hi);
  lo = std::clamp(lo, -kValueLimit, kValueLimit);
  hi = std::clamp(hi, -kValueLimit, kValueLimit);
  if (!(hi > lo)) {
    const double half = std::max(0.5, std::abs(lo) * 1e-9);
    lo -= half;
    hi += half;
  }
  return {lo, hi};
}

std::vector<double> nice_ticks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!(hi > lo) || !finite(lo) || !finite(hi) || target < 1) return ticks;
  const double raw = (hi - lo) / target;
  if (!(raw > 0) || !finite(raw)) return ticks;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * magnitude;
    if (step >= raw) break;
  }
  const double first = std::ceil(lo / step - 1e-9);
  const double count = std::floor(hi / step + 1e-9) - first + 1;
  if (!(count >= 1) || count > 4.0 * target + 4) return ticks;
  for (int i = 0; i < static_cast<int>(count); ++i) ticks.push_back((first + i) * step);
  return ticks;
}

double AxisMap::operator()(double value) const {
  const double span = hi - lo;
  const double p = span == 0.0 ? (p0 + p1) / 2 : p0 + (value - lo) / span * (p1 - p0);
  return std::isnan(p) ? p : std::clamp(p, -kPixelLimit, kPixelLimit);
}

int AxisMap::pixel(double value) const { return wxRound((*this)(value)); }

std::vector<PlotPoint> reduce_to_columns(const double* xs, const double* ys, std::size_t first,
                                         std::size_t last, const AxisMap& x_map) {
  std::vector<PlotPoint> out;
  if (last <= first) return out;
  std::size_t begin = first;
  // Ascending finite times (the rule for a history): the columns are found
  // by binary search and each is read once. From where that fails (a
  // non-finite point, times out of order) the rest is taken point by point.
  if (finite(xs[first]) && finite(xs[last - 1])) {
    while (begin < last) {
      const int column = x_map.pixel(xs[begin]);
      const std::size_t end =
          std::partition_point(xs + begin + 1, xs + last,
                               [&](double x) { return finite(x) && x_map.pixel(x) <= column; }) -
          xs;
      // A column whose last time is not in it: the times do not ascend.
      if (!finite(xs[end - 1]) || x_map.pixel(xs[end - 1]) != column) break;
      if (!reduce_column(xs, ys, begin, end, out)) break;
      begin = end;
    }
  }
  ColumnReducer reducer(x_map, out);
  for (std::size_t k = begin; k < last; ++k) reducer.add(xs[k], ys[k]);
  reducer.flush();
  return out;
}

std::vector<PlotPoint> reduce_to_columns(const std::vector<PlotPoint>& points,
                                         const AxisMap& x_map) {
  std::vector<PlotPoint> out;
  ColumnReducer reducer(x_map, out);
  for (const auto& p : points) reducer.add(p.x, p.y);
  reducer.flush();
  return out;
}

PlotCanvas::PlotCanvas(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &PlotCanvas::OnPaint, this);
}

void PlotCanvas::Draw(PlotGraphics graphics, AxisRange xAxis, AxisRange yAxis) {
  graphics_ = std::move(graphics);
  x_axis_ = finite_range(xAxis);
  y_axis_ = finite_range(yAxis);
  Refresh(false);
}

AxisMap PlotCanvas::XMap(AxisRange xAxis, const wxRect& area) {
  const AxisRange x = finite_range(xAxis);
  return {x.first, x.second, static_cast<double>(area.GetLeft()),
          static_cast<double>(area.GetRight())};
}

AxisMap PlotCanvas::YMap(AxisRange yAxis, const wxRect& area) {
  const AxisRange y = finite_range(yAxis);
  return {y.first, y.second, static_cast<double>(area.GetBottom()),
          static_cast<double>(area.GetTop())};
}

PolySpline PlotCanvas::ReducedSpline(const std::vector<double>& xs, const std::vector<double>& ys,
                                     std::size_t first, AxisRange xAxis, const wxString& legend,
                                     const wxString& colour, int width) const {
  const std::size_t count = std::min(xs.size(), ys.size());
  const wxRect area = PlotArea(GetClientSize());
  return PolySpline(
      reduce_to_columns(xs.data(), ys.data(), std::min(first, count), count, XMap(xAxis, area)),
      legend, colour, width);
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
  if (!DrawTraces(dc, area)) {
    const wxString text = "no data";
    const wxSize extent = dc.GetTextExtent(text);
    dc.DrawText(text, area.x + (area.width - extent.x) / 2, area.y + (area.height - extent.y) / 2);
  }
  if (enableLegend) DrawLegend(dc, area);
}

void PlotCanvas::DrawAxes(wxDC& dc, const wxRect& area) const {
  const wxColour ink = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
  dc.SetPen(wxPen(ink, 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.SetTextForeground(ink);
  dc.DrawRectangle(area);

  const AxisMap x_map = XMap(x_axis_, area);
  const AxisMap y_map = YMap(y_axis_, area);
  const int text_height = dc.GetCharHeight();

  const auto xticks = nice_ticks(x_axis_.first, x_axis_.second, std::max(2, area.width / 60));
  const double xstep = xticks.size() > 1 ? xticks[1] - xticks[0] : 1.0;
  for (double t : xticks) {
    const int px = x_map.pixel(t);
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
    const int py = y_map.pixel(t);
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

bool PlotCanvas::DrawTraces(wxDC& dc, const wxRect& area) const {
  wxDCClipper clip(dc, area);
  // Traces are stroked without antialiasing: a pixel is in the trace or
  // not, so the reduced trace sets exactly the pixels of the full one (with
  // antialiasing the shape of the joins would depend on which points are
  // drawn, and a few edge pixels would differ by a shade).
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  const wxAntialiasMode antialias = gc ? gc->GetAntialiasMode() : wxANTIALIAS_NONE;
  if (gc) gc->SetAntialiasMode(wxANTIALIAS_NONE);
  const AxisMap x_map = XMap(x_axis_, area);
  const AxisMap y_map = YMap(y_axis_, area);
  bool drawn = false;
  for (const auto& trace : graphics_->traces) {
    const std::vector<PlotPoint>* points = &trace.points;
    std::vector<PlotPoint> reduced;
    if (reduceDenseTraces && points->size() > 4 * static_cast<std::size_t>(area.width) + 8) {
      reduced = reduce_to_columns(*points, x_map);
      points = &reduced;
    }
    dc.SetPen(wxPen(wxColour(trace.colour), trace.width));
    std::vector<wxPoint> segment;
    auto draw_segment = [&] {
      if (segment.size() == 1) dc.DrawPoint(segment.front());
      if (segment.size() > 1) dc.DrawLines(static_cast<int>(segment.size()), segment.data());
      segment.clear();
    };
    for (const auto& p : *points) {
      if (finite(p.x) && finite(p.y)) {
        segment.emplace_back(x_map.pixel(p.x), y_map.pixel(p.y));
        drawn = true;
      } else {
        draw_segment();  // a gap: the segments on either side are drawn
      }
    }
    draw_segment();
  }
  if (gc) gc->SetAntialiasMode(antialias);
  return drawn;
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
