// A small line-plot widget: axes with evenly spaced tick labels, axis labels,
// a legend and traces clipped to fixed axis ranges, in the colours of the
// canvas when it has its own (SetBackgroundColour, SetForegroundColour). It renders into any wxDC,
// so it can be drawn into a memory bitmap as well as on screen. Any data
// draws: a non-finite point is a gap in its trace, and axis ranges that are
// not finite or are empty are replaced by finite ones.
#pragma once

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/dc.h>
#include <wx/dcmemory.h>
#include <wx/font.h>
#include <wx/window.h>

#include <cstddef>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace Zelvar_Core {

struct PlotPoint {
  double x;
  double y;
};

// How a trace's entry in the legend shows it: a stretch of its line, or
// the mark it draws at each point with its segments (a cross, or an error
// bar with its caps).
enum class LegendMark { Line, Cross, ErrorBar };

class PolySpline {
 public:
  PolySpline(std::vector<PlotPoint> points, const wxString& legend, const wxString& colour,
             int width, LegendMark mark = LegendMark::Line)
      : points(std::move(points)), legend(legend), colour(colour), width(width), mark(mark) {}

  std::vector<PlotPoint> points;
  wxString legend;
  wxString colour;  // a colour name, such as "blue", or "rgb(255, 236, 150)"
  int width;        // line width in pixels
  LegendMark mark;
};

class PlotGraphics {
 public:
  PlotGraphics(std::vector<PolySpline> traces, const wxString& xLabel, const wxString& yLabel)
      : traces(std::move(traces)), xLabel(xLabel), yLabel(yLabel) {}

  std::vector<PolySpline> traces;
  wxString xLabel;
  wxString yLabel;
};

using AxisRange = std::pair<double, double>;  // (minimum, maximum)

// A finite range of positive width for any request: non-finite ends are
// dropped, reversed ends swapped and an empty range widened about its value.
AxisRange finite_range(AxisRange requested);

// The label of a tick at `value` on an axis whose ticks are `step` apart:
// as many digits as tell adjacent ticks apart and no more, in thousands,
// millions or billions ("15k", "1.5M") where that is not longer than the
// plain number, and in powers of ten where both would be very long.
wxString tick_label(double value, double step);

// Tick positions between `lo` and `hi` at a step of 1, 2 or 5 times a power
// of ten, about `target` of them and never more than 4 * target + 4; each is
// computed from its index, so large values cannot make the walk stall.
std::vector<double> nice_ticks(double lo, double hi, int target);

// Where the values of one axis fall on the screen: `lo`..`hi` onto
// `p0`..`p1` pixels, far-off values held inside the int range.
struct AxisMap {
  double lo, hi, p0, p1;
  double operator()(double value) const;
  // The pixel column (or row) a finite value is drawn in.
  int pixel(double value) const;
};

// The points of the polyline (xs[k], ys[k]) for k in [first, last) that a
// plot can show, grouped by the pixel column they are drawn in: of each run
// of consecutive points in one column the first, lowest, highest and last,
// in their order. The canvas strokes traces without antialiasing, so drawing
// them sets the same pixels as drawing every point. A non-finite point
// becomes one gap. Times that ascend, with every time and value finite, are
// read once and their columns found by search; any other data is taken
// point by point.
std::vector<PlotPoint> reduce_to_columns(const double* xs, const double* ys, std::size_t first,
                                         std::size_t last, const AxisMap& x_map);
std::vector<PlotPoint> reduce_to_columns(const std::vector<PlotPoint>& points,
                                         const AxisMap& x_map);

class PlotCanvas : public wxWindow {
 public:
  PlotCanvas(wxWindow* parent, wxWindowID id = wxID_ANY);

  // Keeps the graphics and (finite) ranges and repaints the canvas with them.
  void Draw(PlotGraphics graphics, AxisRange xAxis, AxisRange yAxis);
  // Draws the current plot into `dc`, as large as `size`. Dense traces are
  // reduced for that size when it is drawn, and the reduction is kept until
  // the plot or the size changes.
  void Render(wxDC& dc, const wxSize& size) const;
  // Draws the picture Render draws into `target` the way the window paints
  // itself: what lies under the traces (background, axes, tick and axis
  // labels, and the legend where no trace reaches it) is drawn into the
  // target, read back from it once the same background has been drawn
  // twice in a row, and from then on copied in while it stays the same,
  // with the traces drawn over it. Kept pixels are copied only into the
  // kind of target they came from, since text is drawn differently on a
  // window than in a bitmap. A target of another scale or size than `size`
  // is drawn directly.
  void Paint(wxMemoryDC& target, const wxSize& size);
  // Whether the last paint copied in a kept background.
  bool LastPaintReusedBackground() const { return reused_background_; }
  // The rectangle inside the axes where traces are drawn.
  wxRect PlotArea(const wxSize& size) const;
  int LegendRow() const;  // the height of the legend's row above the area (0 without)
  // The axes' mappings onto a plot area.
  static AxisMap XMap(AxisRange xAxis, const wxRect& area);
  static AxisMap YMap(AxisRange yAxis, const wxRect& area);

  bool HasPlot() const { return graphics_.has_value(); }
  const PlotGraphics* GetGraphics() const { return graphics_ ? &*graphics_ : nullptr; }
  AxisRange GetXAxis() const { return x_axis_; }
  AxisRange GetYAxis() const { return y_axis_; }

  bool enableLegend = false;
  // Dense traces are drawn from their per-column reduction (the same
  // picture); false draws every point, for comparisons.
  bool reduceDenseTraces = true;

 private:
  // Everything the picture under the traces depends on, and the kind of
  // target it is drawn in.
  struct BackgroundState {
    wxSize size;
    AxisRange x_axis, y_axis;
    wxString x_label, y_label;
    wxFont font;
    wxColour background, ink;
    bool legend_shown = false;
    std::vector<std::tuple<wxString, wxString, int, LegendMark>>
        legend;  // text, colour, width, mark
    const wxWindow* target_window = nullptr;
    int target_depth = 0;
    bool operator==(const BackgroundState& other) const;
  };
  // The pixels of one background, read back from a target: with the
  // legend drawn over it (when shown) and without, and the box the legend
  // may change pixels in.
  struct KeptBackground {
    bool valid = false;
    BackgroundState state;
    wxBitmap plain, with_legend;
    wxRect legend_box;
  };
  // A trace as it is stroked: its pen and its runs of pixel points, one
  // run between two gaps.
  struct PixelTrace {
    wxColour colour;
    int width = 1;
    std::vector<std::vector<wxPoint>> runs;
  };

  void OnPaint(wxPaintEvent& event);
  template <class TargetDC>
  void PaintInto(TargetDC& target, const wxSize& size, bool whole_target);
  template <class TargetDC>
  KeptBackground KeepBackground(TargetDC& target, const wxSize& size,
                                const BackgroundState& state) const;
  template <class TargetDC>
  void PaintOverKept(TargetDC& target, const wxSize& size) const;
  BackgroundState CurrentBackground(const wxDC& target, const wxSize& size) const;
  // Render in two parts: the background, then the traces, "no data" when
  // there are none, and the legend when `legend` is true.
  void DrawBackground(wxDC& dc, const wxSize& size) const;
  void DrawForeground(wxDC& dc, const wxRect& area, const std::vector<PixelTrace>& traces,
                      bool legend) const;
  void SetForegroundInk(wxDC& dc) const;
  wxColour Background() const;
  // The colour of axes and text: the canvas's foreground colour when one
  // was set (for a dark background), the platform's text colour otherwise.
  wxColour Ink() const;
  wxFont TextFont() const;
  void DrawAxes(wxDC& dc, const wxRect& area) const;
  std::vector<PixelTrace> PixelTraces(const wxRect& area) const;
  void StrokeTraces(wxDC& dc, const wxRect& area, const std::vector<PixelTrace>& traces) const;
  static bool AnyPoint(const std::vector<PixelTrace>& traces);
  // Whether a stroke of `traces` may set a pixel inside `box`.
  static bool Reaches(const std::vector<PixelTrace>& traces, const wxRect& box);
  // Draws the legend and returns the rectangle of what it drew.
  wxRect DrawLegend(wxDC& dc, const wxRect& area) const;
  bool IsDense(const PolySpline& trace, const wxRect& area) const;
  // The traces' reductions for `area`, made when the area or plot changed.
  const std::vector<std::vector<PlotPoint>>& ReducedTraces(const wxRect& area) const;

  // Per trace, its reduction for `area` (empty for a trace drawn as it is).
  struct Reduction {
    bool valid = false;
    wxRect area;
    std::vector<std::vector<PlotPoint>> traces;
  };

  std::optional<PlotGraphics> graphics_;
  mutable Reduction reduction_;
  KeptBackground kept_;
  std::optional<BackgroundState> last_background_;
  wxBitmap shown_;  // what the last paint of the window showed
  bool reused_background_ = false;
  AxisRange x_axis_{0.0, 1.0};
  AxisRange y_axis_{0.0, 1.0};
};

}  // namespace Zelvar_Core
