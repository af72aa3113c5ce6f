#include "platform/plot/plot_canvas.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/graphics.h>
#include <wx/image.h>
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

// Whether `dc` is `size` pixels large and draws one unit to one pixel from
// its top left corner, so that pixels read back from it can be copied in
// again where they were.
bool draws_unit_pixels(const wxDC& dc, const wxSize& size) {
  double user_x = 0, user_y = 0, logical_x = 0, logical_y = 0;
  dc.GetUserScale(&user_x, &user_y);
  dc.GetLogicalScale(&logical_x, &logical_y);
  return size.x > 0 && size.y > 0 && dc.GetSize() == size && dc.GetContentScaleFactor() == 1 &&
         user_x == 1 && user_y == 1 && logical_x == 1 && logical_y == 1 &&
         dc.GetDeviceOrigin() == wxPoint() && dc.GetLogicalOrigin() == wxPoint();
}

// How far from its line a pen of `width` may set pixels (a width of 0 or
// less draws one pixel wide), held far inside the int range.
int pen_reach(int width) { return std::clamp(width, 1, 1 << 16) / 2 + 1; }

// Reads `size` pixels of `target` back into `pixels`, as they are.
bool read_back(wxDC& target, const wxSize& size, wxBitmap& pixels) {
  pixels = wxBitmap(size, 24);
  if (!pixels.IsOk()) return false;
  wxMemoryDC copy(pixels);
  return copy.IsOk() && copy.Blit(0, 0, size.x, size.y, &target, 0, 0);
}

// The smallest rectangle holding every pixel that differs between `a` and
// `b` (of one size); empty when none does.
wxRect changed_pixels(const wxBitmap& a, const wxBitmap& b) {
  const wxImage first = a.ConvertToImage(), second = b.ConvertToImage();
  const int width = first.GetWidth(), height = first.GetHeight();
  int left = width, top = height, right = -1, bottom = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const long at = 3L * (static_cast<long>(y) * width + x);
      if (std::memcmp(first.GetData() + at, second.GetData() + at, 3) == 0) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  return right < 0 ? wxRect() : wxRect(wxPoint(left, top), wxPoint(right, bottom));
}

// Digits after the point that tell apart values `step` apart (a step of 1,
// 2 or 5 times a power of ten, as nice_ticks makes them).
int decimals_for(double step) {
  return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
}

wxString fixed_text(double value, int decimals, const char* suffix) {
  return wxString::Format("%.*f%s", decimals, value, suffix);
}

// What a column keeps of a run of its points: the first and last, the
// lowest and highest, in their order. Without antialiasing (see DrawTraces)
// the line through them sets exactly the pixels of the line through all of
// them: the run's segments stay inside the column and cover its lowest to
// highest point, and the segments into and out of it are the same.
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

// The samples of a trace as the reducer reads them: times and values in two
// arrays, or side by side in points.
struct SampleArrays {
  const double* xs;
  const double* ys;
  double x(std::size_t k) const { return xs[k]; }
  double y(std::size_t k) const { return ys[k]; }
};

struct SamplePoints {
  const PlotPoint* points;
  double x(std::size_t k) const { return points[k].x; }
  double y(std::size_t k) const { return points[k].y; }
};

// The first index after `begin`, at most `last`, whose time is drawn in
// another column than `column`, for ascending times: a gallop from `begin`,
// then a binary search, so a column of n points costs about 2 log n looks.
// On other data it still ends, with an index the caller's check rejects.
template <class Samples>
std::size_t column_end(const Samples& s, std::size_t begin, std::size_t last, int column,
                       const AxisMap& x_map) {
  auto in_column = [&](std::size_t k) { return x_map.pixel(s.x(k)) == column; };
  std::size_t inside = begin, step = 1;
  while (last - inside > step && in_column(inside + step)) {
    inside += step;
    step *= 2;
  }
  std::size_t lo = inside + 1, hi = std::min(last, inside + step);
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (in_column(mid)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// One column [begin, end) of ascending data, read once: where its lowest
// and highest value first occur, and whether the data holds up (its times
// ascend from `previous` on, which a NaN time fails, and its values are
// numbers). It goes by blocks of samples; within a block four samples are
// taken at a time, each into its own running extremes, without a branch,
// so the compiler keeps them in registers or vectors. A block that holds a
// new extreme is noted, and only those blocks are read again, to find where
// in them the extremes first occur.
struct ColumnScan {
  bool ascending_numbers;
  std::size_t at_low, at_high;
};

template <class Samples>
ColumnScan scan_column(const Samples& s, std::size_t begin, std::size_t end, double previous) {
  constexpr std::size_t kBlock = 64;
  auto lower = [](double y, double low) { return y < low ? y : low; };
  auto higher = [](double y, double high) { return y > high ? y : high; };
  double lowest = s.y(begin), highest = lowest;
  std::size_t low_block = begin, high_block = begin;
  bool out_of_order = false, not_a_number = false;
  for (std::size_t block = begin; block < end; block += kBlock) {
    const std::size_t block_end = std::min(end, block + kBlock);
    double low0 = s.y(block), low1 = low0, low2 = low0, low3 = low0;
    double high0 = low0, high1 = low0, high2 = low0, high3 = low0;
    std::size_t k = block;
    for (; k + 4 <= block_end; k += 4) {
      const double x0 = s.x(k), x1 = s.x(k + 1), x2 = s.x(k + 2), x3 = s.x(k + 3);
      const double y0 = s.y(k), y1 = s.y(k + 1), y2 = s.y(k + 2), y3 = s.y(k + 3);
      out_of_order |= !(x0 >= previous) | !(x1 >= x0) | !(x2 >= x1) | !(x3 >= x2);
      not_a_number |= (y0 != y0) | (y1 != y1) | (y2 != y2) | (y3 != y3);
      previous = x3;
      low0 = lower(y0, low0), low1 = lower(y1, low1), low2 = lower(y2, low2);
      low3 = lower(y3, low3);
      high0 = higher(y0, high0), high1 = higher(y1, high1), high2 = higher(y2, high2);
      high3 = higher(y3, high3);
    }
    for (; k < block_end; ++k) {
      const double x = s.x(k), y = s.y(k);
      out_of_order |= !(x >= previous);
      not_a_number |= y != y;
      previous = x;
      low0 = lower(y, low0), high0 = higher(y, high0);
    }
    const double block_low = lower(lower(low0, low1), lower(low2, low3));
    const double block_high = higher(higher(high0, high1), higher(high2, high3));
    if (block_low < lowest) lowest = block_low, low_block = block;
    if (block_high > highest) highest = block_high, high_block = block;
  }
  // An infinite value is an extreme: it shows here.
  if (out_of_order || not_a_number || !finite(lowest) || !finite(highest)) return {false, 0, 0};
  auto first_of = [&](double value, std::size_t block) {
    while (s.y(block) != value) ++block;  // the block holds it
    return block;
  };
  return {true, first_of(lowest, low_block), first_of(highest, high_block)};
}

// The fast path, for ascending times with every time and value finite:
// each column is found by search and its samples read once, checking the
// data as they go (a time between two finite ascending ones is finite).
// False, with `out` half made, at the first column that shows other data.
template <class Samples>
bool reduce_ascending(const Samples& s, std::size_t first, std::size_t last, const AxisMap& x_map,
                      std::vector<PlotPoint>& out) {
  if (!finite(s.x(first)) || !finite(s.x(last - 1))) return false;
  auto kept = [&](std::size_t k) { return Kept{s.x(k), s.y(k), k}; };
  double previous = s.x(first);
  for (std::size_t begin = first; begin < last;) {
    const std::size_t end = column_end(s, begin, last, x_map.pixel(s.x(begin)), x_map);
    const ColumnScan scan = scan_column(s, begin, end, previous);
    if (!scan.ascending_numbers) return false;
    emit_column(kept(begin), kept(scan.at_low), kept(scan.at_high), kept(end - 1), out);
    previous = s.x(end - 1);
    begin = end;
  }
  return true;
}

// Any data, one point at a time: a run of consecutive points in one column
// is a column's run, a non-finite point a gap.
template <class Samples>
void reduce_point_by_point(const Samples& s, std::size_t first, std::size_t last,
                           const AxisMap& x_map, std::vector<PlotPoint>& out) {
  bool open = false;
  int column = 0;
  Kept entry{}, low{}, high{}, exit{};
  auto flush = [&] {
    if (open) emit_column(entry, low, high, exit, out);
    open = false;
  };
  for (std::size_t k = first; k < last; ++k) {
    const Kept here{s.x(k), s.y(k), k};
    if (!finite(here.x) || !finite(here.y)) {
      flush();
      if (!out.empty() && finite(out.back().x)) out.push_back({kGap, kGap});
      continue;
    }
    const int here_column = x_map.pixel(here.x);
    if (open && here_column == column) {
      if (here.y < low.y) low = here;
      if (here.y > high.y) high = here;
      exit = here;
      continue;
    }
    flush();
    open = true;
    column = here_column;
    entry = low = high = exit = here;
  }
  flush();
}

// The one reducer of every trace: the fast path reads the data once and
// checks it on the way; data it finds odd (a gap, times out of order) is
// taken again from the start, point by point.
template <class Samples>
std::vector<PlotPoint> reduce(const Samples& s, std::size_t first, std::size_t last,
                              const AxisMap& x_map) {
  std::vector<PlotPoint> out;
  if (last <= first) return out;
  if (!reduce_ascending(s, first, last, x_map, out)) {
    out.clear();
    reduce_point_by_point(s, first, last, x_map, out);
  }
  return out;
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

wxString tick_label(double value, double step) {
  if (!finite(value)) return wxString();
  if (!(step > 0) || !finite(step)) return wxString::Format("%g", value);
  if (std::abs(value) < step * 1e-9) return "0";
  const int exponent = static_cast<int>(std::floor(std::log10(std::abs(value))));
  // Powers of ten: as many significant digits as the step leaves distinct.
  auto scientific = [&] {
    const int digits =
        std::clamp(exponent - static_cast<int>(std::floor(std::log10(step) + 1e-9)) + 1, 1, 17);
    return wxString::Format("%.*e", digits - 1, value);
  };
  const int decimals = decimals_for(step);
  if (decimals > 12) return scientific();
  // The plain number, or the shortest of it and its thousands, millions or
  // billions; a tie goes to the larger unit.
  wxString best = fixed_text(value, decimals, "");
  const double magnitude = std::max(std::abs(value), step);
  for (const auto& [scale, suffix] : {std::pair{1e3, "k"}, {1e6, "M"}, {1e9, "G"}}) {
    if (magnitude < (scale == 1e3 ? 1e4 : scale)) continue;
    const wxString scaled = fixed_text(value / scale, decimals_for(step / scale), suffix);
    if (scaled.length() <= best.length()) best = scaled;
  }
  if (best.length() > 16) {
    const wxString short_form = scientific();
    if (short_form.length() < best.length()) return short_form;
  }
  return best;
}

double AxisMap::operator()(double value) const {
  const double span = hi - lo;
  const double p = span == 0.0 ? (p0 + p1) / 2 : p0 + (value - lo) / span * (p1 - p0);
  return std::isnan(p) ? p : std::clamp(p, -kPixelLimit, kPixelLimit);
}

int AxisMap::pixel(double value) const {
  // The place is within +-kPixelLimit, well inside the int range; a value
  // that has none (not a number) is put at 0 rather than handed on.
  const double p = (*this)(value);
  return std::isnan(p) ? 0 : static_cast<int>(std::lround(p));
}

std::vector<PlotPoint> reduce_to_columns(const double* xs, const double* ys, std::size_t first,
                                         std::size_t last, const AxisMap& x_map) {
  return reduce(SampleArrays{xs, ys}, first, last, x_map);
}

std::vector<PlotPoint> reduce_to_columns(const std::vector<PlotPoint>& points,
                                         const AxisMap& x_map) {
  return reduce(SamplePoints{points.data()}, 0, points.size(), x_map);
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
  reduction_ = Reduction{};
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

wxRect PlotCanvas::PlotArea(const wxSize& size) const {
  const int top = kTopMargin + LegendRow();
  return wxRect(kLeftMargin, top, std::max(1, size.x - kLeftMargin - kRightMargin),
                std::max(1, size.y - top - kBottomMargin));
}

int PlotCanvas::LegendRow() const {
  if (!enableLegend || !graphics_) return 0;
  for (const auto& trace : graphics_->traces)
    if (!trace.legend.empty()) return GetCharHeight() + 2;
  return 0;
}

void PlotCanvas::OnPaint(wxPaintEvent&) {
  wxPaintDC paint_dc(this);
  const wxSize size = GetClientSize();
  if (size.x <= 0 || size.y <= 0) return;
  // Drawn into a bitmap of the canvas's own, then shown: a kept background
  // is read back only from there. A window's own surface may hold what
  // another window (or nothing yet) put there.
  if (!shown_.IsOk() || shown_.GetSize() != size) shown_ = wxBitmap(size, 24);
  {
    wxMemoryDC memory(shown_);
    PaintInto(memory, size, true);
  }
  paint_dc.DrawBitmap(shown_, 0, 0);
}

void PlotCanvas::Paint(wxMemoryDC& target, const wxSize& size) { PaintInto(target, size, true); }

template <class TargetDC>
void PlotCanvas::PaintInto(TargetDC& target, const wxSize& size, bool whole_target) {
  reused_background_ = false;
  if (graphics_ && draws_unit_pixels(target, size)) {
    const BackgroundState background = CurrentBackground(target, size);
    if (kept_.valid && kept_.state == background) {
      reused_background_ = true;
    } else {
      // A background is read back when it is drawn a second time alike: one
      // that changes with every new sample (a sliding time window) is drawn
      // as Render draws it, with nothing read back.
      const bool keep = whole_target && last_background_ == background;
      last_background_ = background;
      kept_ = keep ? KeepBackground(target, size, background) : KeptBackground{};
    }
    if (kept_.valid) {
      PaintOverKept(target, size);
      return;
    }
  }
  wxGCDC dc(target);
  Render(dc, size);
}

template <class TargetDC>
PlotCanvas::KeptBackground PlotCanvas::KeepBackground(TargetDC& target, const wxSize& size,
                                                      const BackgroundState& state) const {
  KeptBackground kept;
  kept.state = state;
  {
    wxGCDC dc(target);
    DrawBackground(dc, size);
  }
  if (!read_back(target, size, kept.plain)) return {};
  if (state.legend_shown) {
    wxRect drawn;
    {
      wxGCDC dc(target);
      SetForegroundInk(dc);
      drawn = DrawLegend(dc, PlotArea(size));
    }
    if (!read_back(target, size, kept.with_legend)) return {};
    kept.legend_box = drawn.Union(changed_pixels(kept.plain, kept.with_legend)).Inflate(2);
  }
  kept.valid = true;
  return kept;
}

template <class TargetDC>
void PlotCanvas::PaintOverKept(TargetDC& target, const wxSize& size) const {
  const wxRect area = PlotArea(size);
  const std::vector<PixelTrace> traces = PixelTraces(area);
  // The legend is drawn over the traces: its kept pixels do only where no
  // trace and no "no data" reach them.
  const bool legend_kept =
      kept_.state.legend_shown && AnyPoint(traces) && !Reaches(traces, kept_.legend_box);
  target.DrawBitmap(legend_kept ? kept_.with_legend : kept_.plain, 0, 0);
  wxGCDC dc(target);
  DrawForeground(dc, area, traces, kept_.state.legend_shown && !legend_kept);
}

PlotCanvas::BackgroundState PlotCanvas::CurrentBackground(const wxDC& target,
                                                          const wxSize& size) const {
  BackgroundState state;
  state.size = size;
  state.x_axis = x_axis_;
  state.y_axis = y_axis_;
  state.x_label = graphics_->xLabel;
  state.y_label = graphics_->yLabel;
  state.font = TextFont();
  state.background = Background();
  state.ink = Ink();
  state.legend_shown = enableLegend;
  if (enableLegend) {
    for (const auto& trace : graphics_->traces)
      if (!trace.legend.empty())
        state.legend.emplace_back(trace.legend, trace.colour, trace.width, trace.mark);
  }
  state.target_window = target.GetWindow();
  state.target_depth = target.GetDepth();
  return state;
}

bool PlotCanvas::BackgroundState::operator==(const BackgroundState& other) const {
  return size == other.size && x_axis == other.x_axis && y_axis == other.y_axis &&
         x_label == other.x_label && y_label == other.y_label && font == other.font &&
         background == other.background && ink == other.ink && legend_shown == other.legend_shown &&
         legend == other.legend && target_window == other.target_window &&
         target_depth == other.target_depth;
}

wxColour PlotCanvas::Background() const {
  const wxColour background = GetBackgroundColour();
  return background.IsOk() ? background : wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
}

wxColour PlotCanvas::Ink() const {
  return UseForegroundColour() ? GetForegroundColour()
                               : wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT);
}

wxFont PlotCanvas::TextFont() const { return GetFont().IsOk() ? GetFont() : *wxNORMAL_FONT; }

void PlotCanvas::Render(wxDC& dc, const wxSize& size) const {
  DrawBackground(dc, size);
  if (!graphics_) return;
  const wxRect area = PlotArea(size);
  DrawForeground(dc, area, PixelTraces(area), enableLegend);
}

void PlotCanvas::DrawBackground(wxDC& dc, const wxSize& size) const {
  dc.SetBackground(wxBrush(Background()));
  dc.Clear();
  if (!graphics_) return;
  dc.SetFont(TextFont());
  DrawAxes(dc, PlotArea(size));
}

void PlotCanvas::SetForegroundInk(wxDC& dc) const {
  // The font, pen and colours the axes leave, for a DC that did not draw them.
  dc.SetFont(TextFont());
  dc.SetPen(wxPen(Ink(), 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.SetTextForeground(Ink());
}

void PlotCanvas::DrawForeground(wxDC& dc, const wxRect& area, const std::vector<PixelTrace>& traces,
                                bool legend) const {
  SetForegroundInk(dc);
  StrokeTraces(dc, area, traces);
  if (!AnyPoint(traces)) {
    const wxString text = "no data";
    const wxSize extent = dc.GetTextExtent(text);
    dc.DrawText(text, area.x + (area.width - extent.x) / 2, area.y + (area.height - extent.y) / 2);
  }
  if (legend) DrawLegend(dc, area);
}

void PlotCanvas::DrawAxes(wxDC& dc, const wxRect& area) const {
  dc.SetPen(wxPen(Ink(), 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.SetTextForeground(Ink());
  dc.DrawRectangle(area);

  const AxisMap x_map = XMap(x_axis_, area);
  const AxisMap y_map = YMap(y_axis_, area);
  const int text_height = dc.GetCharHeight();

  const auto xticks = nice_ticks(x_axis_.first, x_axis_.second, std::max(2, area.width / 60));
  const double xstep = xticks.size() > 1 ? xticks[1] - xticks[0] : 1.0;
  for (double t : xticks) {
    const int px = x_map.pixel(t);
    dc.DrawLine(px, area.GetBottom(), px, area.GetBottom() - 4);
    const wxString text = tick_label(t, xstep);
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
    const wxString text = tick_label(t, ystep);
    const wxSize extent = dc.GetTextExtent(text);
    widest = std::max(widest, extent.x);
    dc.DrawText(text, area.GetLeft() - 3 - extent.x, py - extent.y / 2);
  }
  // The y label runs along the whole height if it must, in a smaller font
  // if even that is too short: a label is never cut.
  const int room = area.height + kTopMargin + kBottomMargin - 4;
  const wxFont font = dc.GetFont();
  wxSize ylabel = dc.GetTextExtent(graphics_->yLabel);
  for (double points = font.GetFractionalPointSize(); ylabel.x > room && points > 6;) {
    points = std::max(6.0, points - 0.5);
    wxFont smaller = font;
    smaller.SetFractionalPointSize(points);
    dc.SetFont(smaller);
    ylabel = dc.GetTextExtent(graphics_->yLabel);
  }
  const int ylabel_x = std::max(0, area.GetLeft() - 6 - widest - text_height);
  const int centre = area.GetTop() + area.height / 2;
  const int bottom =
      std::min(area.GetBottom() + kBottomMargin - 2,
               std::max(centre + ylabel.x / 2, area.GetTop() - kTopMargin + 2 + ylabel.x));
  dc.DrawRotatedText(graphics_->yLabel, ylabel_x, bottom, 90.0);
  dc.SetFont(font);
}

std::vector<PlotCanvas::PixelTrace> PlotCanvas::PixelTraces(const wxRect& area) const {
  const AxisMap x_map = XMap(x_axis_, area);
  const AxisMap y_map = YMap(y_axis_, area);
  std::vector<PixelTrace> pixel_traces;
  for (std::size_t i = 0; i < graphics_->traces.size(); ++i) {
    const PolySpline& trace = graphics_->traces[i];
    const std::vector<PlotPoint>* points = &trace.points;
    if (reduceDenseTraces && IsDense(trace, area)) points = &ReducedTraces(area)[i];
    PixelTrace& drawn = pixel_traces.emplace_back();
    drawn.colour = wxColour(trace.colour);
    drawn.width = trace.width;
    std::vector<wxPoint> run;
    for (const auto& p : *points) {
      if (finite(p.x) && finite(p.y)) {
        run.emplace_back(x_map.pixel(p.x), y_map.pixel(p.y));
      } else if (!run.empty()) {  // a gap: the runs on either side are drawn
        drawn.runs.push_back(std::move(run));
        run.clear();
      }
    }
    if (!run.empty()) drawn.runs.push_back(std::move(run));
  }
  return pixel_traces;
}

bool PlotCanvas::AnyPoint(const std::vector<PixelTrace>& traces) {
  return std::any_of(traces.begin(), traces.end(),
                     [](const PixelTrace& trace) { return !trace.runs.empty(); });
}

bool PlotCanvas::Reaches(const std::vector<PixelTrace>& traces, const wxRect& box) {
  // Each stroke stays inside the box of its two ends widened by its pen
  // (and the round caps): a generous bound, never a missed pixel.
  for (const PixelTrace& trace : traces) {
    const int margin = pen_reach(trace.width) + 2;
    const int left = box.GetLeft() - margin, right = box.GetRight() + margin;
    const int top = box.GetTop() - margin, bottom = box.GetBottom() + margin;
    for (const std::vector<wxPoint>& run : trace.runs) {
      wxPoint previous = run.front();
      for (const wxPoint& p : run) {
        const bool clear = std::max(p.x, previous.x) < left || std::min(p.x, previous.x) > right ||
                           std::max(p.y, previous.y) < top || std::min(p.y, previous.y) > bottom;
        if (!clear) return true;
        previous = p;
      }
    }
  }
  return false;
}

void PlotCanvas::StrokeTraces(wxDC& dc, const wxRect& area,
                              const std::vector<PixelTrace>& traces) const {
  wxDCClipper clip(dc, area);
  // Traces are stroked without antialiasing: a pixel is in the trace or
  // not, so the reduced trace sets exactly the pixels of the full one (with
  // antialiasing the shape of the joins would depend on which points are
  // drawn, and a few edge pixels would differ by a shade). It also leaves
  // the pixels outside a trace as they were, which a kept legend relies on.
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  const wxAntialiasMode antialias = gc ? gc->GetAntialiasMode() : wxANTIALIAS_NONE;
  if (gc) gc->SetAntialiasMode(wxANTIALIAS_NONE);
  for (const PixelTrace& trace : traces) {
    dc.SetPen(wxPen(trace.colour, trace.width));
    for (const std::vector<wxPoint>& run : trace.runs) {
      if (run.size() == 1) dc.DrawPoint(run.front());
      if (run.size() > 1) dc.DrawLines(static_cast<int>(run.size()), run.data());
    }
  }
  if (gc) gc->SetAntialiasMode(antialias);
}

bool PlotCanvas::IsDense(const PolySpline& trace, const wxRect& area) const {
  return trace.points.size() > 4 * static_cast<std::size_t>(area.width) + 8;
}

const std::vector<std::vector<PlotPoint>>& PlotCanvas::ReducedTraces(const wxRect& area) const {
  if (reduction_.valid && reduction_.area == area) return reduction_.traces;
  reduction_ = Reduction{true, area, {}};
  const AxisMap x_map = XMap(x_axis_, area);
  for (const auto& trace : graphics_->traces) {
    reduction_.traces.push_back(IsDense(trace, area) ? reduce_to_columns(trace.points, x_map)
                                                     : std::vector<PlotPoint>{});
  }
  return reduction_.traces;
}

// In a row above the plot area, right-aligned: never over a trace.
wxRect PlotCanvas::DrawLegend(wxDC& dc, const wxRect& area) const {
  const int line_length = 18, gap = 4, spacing = 12;
  int width = 0;
  for (const auto& trace : graphics_->traces)
    if (!trace.legend.empty())
      width += (width ? spacing : 0) + line_length + gap + dc.GetTextExtent(trace.legend).x;
  const int y = area.GetTop() - LegendRow();
  int x = area.GetRight() - width;
  wxRect drawn;
  for (const auto& trace : graphics_->traces) {
    if (trace.legend.empty()) continue;
    const wxSize extent = dc.GetTextExtent(trace.legend);
    dc.SetPen(wxPen(wxColour(trace.colour), trace.width));
    const int middle = y + extent.y / 2, centre = x + line_length / 2;
    const int reach = std::max(2, std::min(line_length, extent.y) / 2 - 1);
    switch (trace.mark) {
      case LegendMark::Line:
        dc.DrawLine(x, middle, x + line_length, middle);
        break;
      case LegendMark::Cross:  // as the plot marks a point
        dc.DrawLine(centre - reach, middle, centre + reach + 1, middle);
        dc.DrawLine(centre, middle - reach, centre, middle + reach + 1);
        break;
      case LegendMark::ErrorBar:
        dc.DrawLine(centre, middle - reach, centre, middle + reach + 1);
        dc.DrawLine(centre - reach / 2, middle - reach, centre + reach / 2 + 1, middle - reach);
        dc.DrawLine(centre - reach / 2, middle + reach, centre + reach / 2 + 1, middle + reach);
        break;
    }
    dc.DrawText(trace.legend, x + line_length + gap, y);
    drawn.Union(wxRect(wxPoint(x, middle - reach), wxPoint(x + line_length, middle + reach))
                    .Inflate(pen_reach(trace.width)));
    drawn.Union(wxRect(wxPoint(x + line_length + gap, y), extent));
    x += line_length + gap + extent.x + spacing;
  }
  return drawn;
}

}  // namespace Zelvar_Core
