// A small line-plot widget: axes with evenly spaced tick labels, axis labels,
// a legend and traces clipped to fixed axis ranges. It renders into any wxDC,
// so it can be drawn into a memory bitmap as well as on screen.
#pragma once

#include <wx/colour.h>
#include <wx/dc.h>
#include <wx/geometry.h>
#include <wx/window.h>

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

// Tick positions between `lo` and `hi` at a step of 1, 2 or 5 times a power
// of ten, about `target` of them.
std::vector<double> nice_ticks(double lo, double hi, int target);

// Reduces a polyline in pixel coordinates, sorted by x, to at most four
// points per pixel column (entry, lowest, highest, exit), which draws the
// same picture as the full line.
std::vector<wxPoint2DDouble> reduce_per_column(const std::vector<wxPoint2DDouble>& points);

class PlotCanvas : public wxWindow {
 public:
  PlotCanvas(wxWindow* parent, wxWindowID id = wxID_ANY);

  // Keeps the graphics and ranges and repaints the canvas with them.
  void Draw(PlotGraphics graphics, AxisRange xAxis, AxisRange yAxis);
  // Draws the current plot into `dc`, as large as `size`.
  void Render(wxDC& dc, const wxSize& size) const;
  // The rectangle inside the axes where traces are drawn.
  wxRect PlotArea(const wxSize& size) const;

  bool HasPlot() const { return graphics_.has_value(); }
  const PlotGraphics* GetGraphics() const { return graphics_ ? &*graphics_ : nullptr; }
  AxisRange GetXAxis() const { return x_axis_; }
  AxisRange GetYAxis() const { return y_axis_; }

  bool enableLegend = false;

 private:
  void OnPaint(wxPaintEvent& event);
  void DrawAxes(wxDC& dc, const wxRect& area) const;
  void DrawTraces(wxDC& dc, const wxRect& area) const;
  void DrawLegend(wxDC& dc, const wxRect& area) const;

  std::optional<PlotGraphics> graphics_;
  AxisRange x_axis_{0.0, 1.0};
  AxisRange y_axis_{0.0, 1.0};
};

}  // namespace Zelvar_Core
