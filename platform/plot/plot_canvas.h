// A small line-plot widget: axes with evenly spaced tick labels, axis labels,
// a legend and traces clipped to fixed axis ranges. It renders into any wxDC,
// so it can be drawn into a memory bitmap as well as on screen. Any data
// draws: a non-finite point is a gap in its trace, and axis ranges that are
// not finite or are empty are replaced by finite ones.
#pragma once

#include <wx/colour.h>
#include <wx/dc.h>
#include <wx/window.h>

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace Zelvar_Core {

struct PlotPoint {
  double x;
  double y;
};

class PolySpline {
 public:
  PolySpline(std::vector<PlotPoint> points, const wxString& legend, const wxString& colour,
             int width)
      : points(std::move(points)), legend(legend), colour(colour), width(width) {}

  std::vector<PlotPoint> points;
  wxString legend;
  wxString colour;  // a colour name, such as "blue"
  int width;        // line width in pixels
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
  // The rectangle inside the axes where traces are drawn.
  wxRect PlotArea(const wxSize& size) const;
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
  void OnPaint(wxPaintEvent& event);
  void DrawAxes(wxDC& dc, const wxRect& area) const;
  // False when no trace has a point to draw.
  bool DrawTraces(wxDC& dc, const wxRect& area) const;
  void DrawLegend(wxDC& dc, const wxRect& area) const;
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
  AxisRange x_axis_{0.0, 1.0};
  AxisRange y_axis_{0.0, 1.0};
};

}  // namespace Zelvar_Core
