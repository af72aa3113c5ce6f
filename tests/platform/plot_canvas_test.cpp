#include "platform/plot/plot_canvas.h"

#include <gtest/gtest.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <tuple>

#include "tests/support/gui_harness.h"

namespace Zelvar_Core {
namespace {

bool is_blue(const wxColour& c) { return c.Blue() > 150 && c.Red() < 120 && c.Green() < 120; }

struct Rendered {
  wxImage image;
  wxRect area;
};

Rendered render(PlotCanvas& canvas, const wxSize& size) {
  wxBitmap bitmap(size);
  {
    wxMemoryDC memory(bitmap);
    wxGCDC dc(memory);
    canvas.Render(dc, size);
  }
  return {bitmap.ConvertToImage(), canvas.PlotArea(size)};
}

class PlotCanvasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = new wxFrame(nullptr, wxID_ANY, "plot");
    canvas = new PlotCanvas(frame);
    canvas->SetBackgroundColour(*wxWHITE);
  }
  void TearDown() override {
    frame->Destroy();
    testing_support::flush_events();
  }
  void draw_line(double y_from, double y_to, bool legend) {
    canvas->enableLegend = legend;
    std::vector<PolySpline> traces;
    traces.emplace_back(std::vector<PlotPoint>{{-10, y_from}, {0, y_from}, {15, y_to}, {30, y_to}},
                        "CH7", "blue", 1);
    canvas->Draw(PlotGraphics(std::move(traces), "Time (s)", "VDD"), {0, 15}, {0, 10});
  }
  wxFrame* frame = nullptr;
  PlotCanvas* canvas = nullptr;
};

TEST_F(PlotCanvasTest, TraceIsBlueInsideAndNothingBlueOutsideThePlotArea) {
  draw_line(2, 8, false);
  const auto [image, area] = render(*canvas, wxSize(400, 200));
  int blue_inside = 0, blue_outside = 0;
  for (int x = 0; x < image.GetWidth(); ++x) {
    for (int y = 0; y < image.GetHeight(); ++y) {
      const bool blue =
          is_blue(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)));
      if (!blue) continue;
      (area.Contains(x, y) ? blue_inside : blue_outside)++;
    }
  }
  EXPECT_GT(blue_inside, area.width / 2);
  EXPECT_EQ(blue_outside, 0);
  // Halfway along x the line is at y = 5, halfway up the area.
  const int mid_x = area.x + area.width / 2;
  const int expected_y = area.y + area.height / 2;
  bool found = false;
  for (int y = expected_y - 3; y <= expected_y + 3; ++y) {
    found |= is_blue(
        wxColour(image.GetRed(mid_x, y), image.GetGreen(mid_x, y), image.GetBlue(mid_x, y)));
  }
  EXPECT_TRUE(found);
}

TEST_F(PlotCanvasTest, LegendDrawsItsSampleOnlyWhenEnabled) {
  draw_line(1, 1, false);  // a flat line low in the area
  auto count_blue_top = [&](const wxImage& image, const wxRect& area) {
    int count = 0;
    for (int x = area.GetRight() - 60; x < area.GetRight(); ++x)
      for (int y = area.y; y < area.y + 20; ++y)
        count += is_blue(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)));
    return count;
  };
  auto plain = render(*canvas, wxSize(400, 200));
  EXPECT_EQ(count_blue_top(plain.image, plain.area), 0);
  draw_line(1, 1, true);
  auto with_legend = render(*canvas, wxSize(400, 200));
  EXPECT_GT(count_blue_top(with_legend.image, with_legend.area), 5);
  // The legend text is drawn in dark ink right of its line sample.
  int dark = 0;
  for (int x = with_legend.area.GetRight() - 40; x < with_legend.area.GetRight(); ++x)
    for (int y = with_legend.area.y; y < with_legend.area.y + 22; ++y)
      dark += with_legend.image.GetRed(x, y) < 90 && with_legend.image.GetBlue(x, y) < 90;
  EXPECT_GT(dark, 5);
}

TEST_F(PlotCanvasTest, BlankUntilTheFirstDraw) {
  const auto [image, area] = render(*canvas, wxSize(300, 100));
  for (int x = 0; x < image.GetWidth(); x += 7)
    for (int y = 0; y < image.GetHeight(); y += 7) EXPECT_EQ(image.GetRed(x, y), 255);
}

TEST(PlotTicks, EvenlySpacedRoundSteps) {
  EXPECT_EQ(nice_ticks(0, 15, 5), (std::vector<double>{0, 5, 10, 15}));
  const auto ticks = nice_ticks(27, 42, 5);
  ASSERT_GE(ticks.size(), 3u);
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i] - ticks[i - 1], 5, 1e-9);
  EXPECT_TRUE(nice_ticks(1, 1, 5).empty());
}

TEST(PlotTicks, BoundedAndExactForTimesAsLargeAsANanosecondClock) {
  for (double last : {std::ldexp(1.0, 56), 1.8e16, 1.4e17, 1e300}) {
    const AxisRange range = finite_range({last - 15, last});
    const auto ticks = nice_ticks(range.first, range.second, 5);
    EXPECT_LE(ticks.size(), 24u) << last;
    for (double t : ticks) EXPECT_TRUE(std::isfinite(t));
  }
  EXPECT_EQ(nice_ticks(0, 1e-300, 5).size(), 6u);
}

TEST(PlotRanges, AnyRequestBecomesAFiniteRangeOfPositiveWidth) {
  const double nan = std::nan(""), inf = INFINITY;
  EXPECT_EQ(finite_range({nan, nan}), (AxisRange{0, 1}));
  EXPECT_EQ(finite_range({-inf, inf}), (AxisRange{0, 1}));
  EXPECT_EQ(finite_range({2, nan}), (AxisRange{1.5, 2.5}));
  EXPECT_EQ(finite_range({5, 3}), (AxisRange{3, 5}));
  const AxisRange huge = finite_range({std::ldexp(1.0, 56), std::ldexp(1.0, 56)});
  EXPECT_GT(huge.second, huge.first);
  const AxisRange widest = finite_range({-1e308, 1e308});
  EXPECT_TRUE(std::isfinite(widest.second - widest.first));
}

// The columns a reduced trace is drawn in are those of the full trace: the
// same picture, drawn through a GC as on screen and through a plain DC.
class ReducedTrace : public PlotCanvasTest,
                     public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(ReducedTrace, IsPixelForPixelTheFullTrace) {
  const auto [points, width] = GetParam();
  const wxSize size(width, 160);
  canvas->SetSize(size);
  auto* full_canvas = new PlotCanvas(frame);
  full_canvas->SetBackgroundColour(*wxWHITE);
  full_canvas->reduceDenseTraces = false;
  std::vector<double> t, y;
  for (int i = 0; i < points; ++i) {
    t.push_back(15.0 * i / points + 3);  // a window from 3 s, the first point left of it
    y.push_back(1.8 + 0.1 * std::sin(i * 0.05) + 0.03 * std::sin(i * 1.7) + (i % 97 == 0) * 0.2);
  }
  const AxisRange x_axis{4, 19}, y_axis{1.5, 2.2};
  std::vector<PlotPoint> every;
  for (int i = 0; i < points; ++i) every.push_back({t[i], y[i]});
  std::vector<PolySpline> full, reduced;
  full.emplace_back(every, "CH0", "blue", 1);
  reduced.push_back(canvas->ReducedSpline(t, y, 0, x_axis, "CH0", "blue", 1));
  EXPECT_LE(reduced.front().points.size(), 4u * width);
  full_canvas->Draw(PlotGraphics(std::move(full), "Time (s)", "VDD"), x_axis, y_axis);
  canvas->Draw(PlotGraphics(std::move(reduced), "Time (s)", "VDD"), x_axis, y_axis);
  for (bool through_gc : {true, false}) {
    wxBitmap a(size), b(size);
    {
      wxMemoryDC ma(a), mb(b);
      if (through_gc) {
        wxGCDC ga(ma), gb(mb);
        full_canvas->Render(ga, size);
        canvas->Render(gb, size);
      } else {
        full_canvas->Render(ma, size);
        canvas->Render(mb, size);
      }
    }
    const wxImage ia = a.ConvertToImage(), ib = b.ConvertToImage();
    const long bytes = 3L * size.x * size.y;
    long differing = 0;
    for (long i = 0; i < bytes; i += 3) {
      const bool differs = std::memcmp(ia.GetData() + i, ib.GetData() + i, 3) != 0;
      if (differs && differing < 5)
        ADD_FAILURE() << "at " << (i / 3) % size.x << "," << (i / 3) / size.x << ": "
                      << int(ia.GetData()[i]) << "/" << int(ia.GetData()[i + 1]) << "/"
                      << int(ia.GetData()[i + 2]) << " vs " << int(ib.GetData()[i]) << "/"
                      << int(ib.GetData()[i + 1]) << "/" << int(ib.GetData()[i + 2]);
      differing += differs;
    }
    EXPECT_EQ(differing, 0) << points << " points, " << width << " px, gc " << through_gc;
  }
}

INSTANTIATE_TEST_SUITE_P(RatesAndWidths, ReducedTrace,
                         ::testing::Combine(::testing::Values(1500, 15000, 150000),
                                            ::testing::Values(300, 457, 1000)));

TEST_F(PlotCanvasTest, OddDataDrawsWithFiniteAxesAndGapsWithoutHanging) {
  const double nan = std::nan(""), inf = INFINITY;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const std::vector<std::vector<PlotPoint>> cases = {
      {},                                            // an empty trace
      {{3, 2}},                                      // a single sample
      {{nan, 1}, {1, nan}, {inf, 2}, {2, -inf}},     // nothing finite
      {{0, 1}, {1, 2}, {nan, 3}, {3, 4}, {4, inf}},  // gaps in time and value
  };
  for (const auto& points : cases) {
    std::vector<PolySpline> traces;
    traces.emplace_back(points, "CH0", "blue", 1);
    canvas->Draw(PlotGraphics(std::move(traces), "t", "v"), {nan, inf}, {-inf, nan});
    EXPECT_TRUE(std::isfinite(canvas->GetXAxis().first) &&
                std::isfinite(canvas->GetXAxis().second));
    EXPECT_TRUE(std::isfinite(canvas->GetYAxis().first) &&
                std::isfinite(canvas->GetYAxis().second));
    render(*canvas, wxSize(300, 120));
  }
  // Many points with NaN times: the reduction advances and stays small.
  std::vector<PlotPoint> many;
  for (int i = 0; i < 200000; ++i)
    many.push_back({i % 5 == 0 ? nan : i * 1e-4, std::sin(i * 0.01)});
  std::vector<PolySpline> traces;
  traces.emplace_back(many, "CH0", "blue", 1);
  canvas->Draw(PlotGraphics(std::move(traces), "t", "v"), {0, 20}, {-1, 1});
  render(*canvas, wxSize(300, 120));
  const wxRect area = canvas->PlotArea({300, 120});
  EXPECT_LT(reduce_to_columns(many, PlotCanvas::XMap({0, 20}, area)).size(), many.size());
  EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "odd data took too long";
}

TEST_F(PlotCanvasTest, AGapLeavesTheSegmentsOnEitherSideAndNothingDrawsNoData) {
  std::vector<PolySpline> traces;
  traces.emplace_back(std::vector<PlotPoint>{{0, 2}, {5, 2}, {std::nan(""), 5}, {10, 8}, {15, 8}},
                      "", "blue", 1);
  canvas->Draw(PlotGraphics(std::move(traces), "t", "v"), {0, 15}, {0, 10});
  const auto [image, area] = render(*canvas, wxSize(400, 200));
  auto blue_in_column = [&, &image = image, &area = area](double t) {
    const int x = area.x + static_cast<int>(t / 15 * area.width);
    int count = 0;
    for (int y = area.y; y < area.GetBottom(); ++y)
      count += is_blue(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)));
    return count;
  };
  EXPECT_GT(blue_in_column(2.5), 0);
  EXPECT_GT(blue_in_column(12.5), 0);
  EXPECT_EQ(blue_in_column(7.5), 0) << "a line was drawn across the gap";

  std::vector<PolySpline> nothing;
  nothing.emplace_back(std::vector<PlotPoint>{{std::nan(""), 1}}, "", "blue", 1);
  canvas->Draw(PlotGraphics(std::move(nothing), "t", "v"), {0, 15}, {0, 10});
  const auto [blank, blank_area] = render(*canvas, wxSize(400, 200));
  int dark = 0;  // the words "no data" in the middle of the area
  for (int x = blank_area.x + blank_area.width / 2 - 30;
       x < blank_area.x + blank_area.width / 2 + 30; ++x)
    for (int y = blank_area.y + blank_area.height / 2 - 8;
         y < blank_area.y + blank_area.height / 2 + 8; ++y)
      dark += blank.GetRed(x, y) < 100;
  EXPECT_GT(dark, 10);
}

}  // namespace
}  // namespace Zelvar_Core
