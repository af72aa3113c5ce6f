#include "platform/plot/plot_canvas.h"

#include <gtest/gtest.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <string>
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

TEST_F(PlotCanvasTest, TheLegendSitsInARowAboveThePlotAreaNeverOverATrace) {
  draw_line(9.8, 9.8, false);  // a flat line just under the top of the area
  auto count = [](const wxImage& image, const wxRect& where, auto&& is) {
    int n = 0;
    for (int x = where.GetLeft(); x <= where.GetRight(); ++x)
      for (int y = where.GetTop(); y <= where.GetBottom(); ++y)
        n += is(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)));
    return n;
  };
  const auto dark = [](const wxColour& c) { return c.Red() < 90 && c.Blue() < 90; };
  const auto blue = [](const wxColour& c) { return is_blue(c); };
  auto plain = render(*canvas, wxSize(400, 200));
  const wxRect above_plain(0, 0, 400, plain.area.y);
  EXPECT_EQ(count(plain.image, above_plain, blue), 0);

  draw_line(9.8, 9.8, true);
  auto with_legend = render(*canvas, wxSize(400, 200));
  const int row = with_legend.area.y - plain.area.y;
  EXPECT_EQ(row, canvas->GetCharHeight() + 2) << "the area moves down by one text row";
  const wxRect legend_row(with_legend.area.GetRight() - 80, plain.area.y, 81, row);
  EXPECT_GT(count(with_legend.image, legend_row, blue), 5) << "the line sample";
  EXPECT_GT(count(with_legend.image, legend_row, dark), 5) << "the text \"CH7\"";
  // Inside the area's frame, along its top: the trace, and no text over it.
  const wxRect top_of_area(with_legend.area.GetRight() - 80, with_legend.area.y + 1, 79, row);
  EXPECT_GT(count(with_legend.image, top_of_area, blue), 40);
  EXPECT_EQ(count(with_legend.image, top_of_area, dark), 0);
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

TEST(PlotTicks, LabelsCarryTheDigitsThatTellNeighboursApartAndNoMore) {
  EXPECT_EQ(tick_label(9995, 5), "9995");
  EXPECT_EQ(tick_label(10005, 5), "10005");
  EXPECT_EQ(tick_label(10006, 1), "10006");
  EXPECT_EQ(tick_label(10006.5, 0.5), "10006.5");
  EXPECT_EQ(tick_label(15000, 5000), "15k");
  EXPECT_EQ(tick_label(12500, 500), "12.5k");
  EXPECT_EQ(tick_label(-40000, 20000), "-40k");
  EXPECT_EQ(tick_label(1.5e6, 5e5), "1.5M");
  EXPECT_EQ(tick_label(1501000, 1000), "1501k");
  EXPECT_EQ(tick_label(1000001, 1), "1000001");
  EXPECT_EQ(tick_label(2e9, 1e9), "2G");
  EXPECT_EQ(tick_label(2.5, 0.5), "2.5");
  EXPECT_EQ(tick_label(-0.25, 0.05), "-0.25");
  EXPECT_EQ(tick_label(0.0001, 0.0001), "0.0001");
  EXPECT_EQ(tick_label(1e-17, 0.1), "0");
  EXPECT_EQ(tick_label(5e-13, 1e-13), "5e-13");
  EXPECT_EQ(tick_label(std::ldexp(1.0, 56), 16), "72057594037927936");
  EXPECT_EQ(tick_label(1e300, 1e290), "1.0000000000e+300");
  EXPECT_EQ(tick_label(std::nan(""), 1), "");
}

TEST(PlotTicks, AdjacentLabelsDifferAndReadBackAsTheirTicks) {
  const std::vector<AxisRange> ranges = {
      {0, 15},        {27, 42},   {9991, 10006},  {9995, 10010},  {-7.5, 7.5},    {999990, 1000005},
      {1.5e6, 1.6e6}, {0, 1e-12}, {1e299, 1e300}, {86385, 86400}, {2.9e9, 3.1e9}, {-1e5, 1e5}};
  for (const auto& [lo, hi] : ranges) {
    for (int target : {3, 5, 15}) {
      const auto ticks = nice_ticks(lo, hi, target);
      ASSERT_GE(ticks.size(), 2u) << lo << ".." << hi;
      const double step = ticks[1] - ticks[0];
      std::set<std::string> seen;
      for (double t : ticks) {
        const std::string text = tick_label(t, step).utf8_string();
        EXPECT_TRUE(seen.insert(text).second) << text << " twice on " << lo << ".." << hi;
        std::size_t used = 0;
        double read = std::stod(text, &used);
        const std::string suffix = text.substr(used);
        read *= suffix == "k" ? 1e3 : suffix == "M" ? 1e6 : suffix == "G" ? 1e9 : 1;
        EXPECT_TRUE(suffix.empty() || suffix == "k" || suffix == "M" || suffix == "G") << text;
        EXPECT_NEAR(read, t, step * 1e-6) << text << " on " << lo << ".." << hi;
      }
    }
  }
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

// Pixels that differ; the first `reported` of them are test failures.
long differing_pixels(const wxImage& a, const wxImage& b, long reported = 5) {
  if (a.GetSize() != b.GetSize()) {
    ADD_FAILURE() << "pictures of different sizes";
    return -1;
  }
  const long bytes = 3L * a.GetWidth() * a.GetHeight();
  long differing = 0;
  for (long i = 0; i < bytes; i += 3) {
    const bool differs = std::memcmp(a.GetData() + i, b.GetData() + i, 3) != 0;
    if (differs && differing < reported)
      ADD_FAILURE() << "at " << (i / 3) % a.GetWidth() << "," << (i / 3) / a.GetWidth() << ": "
                    << int(a.GetData()[i]) << "/" << int(a.GetData()[i + 1]) << "/"
                    << int(a.GetData()[i + 2]) << " vs " << int(b.GetData()[i]) << "/"
                    << int(b.GetData()[i + 1]) << "/" << int(b.GetData()[i + 2]);
    differing += differs;
  }
  return differing;
}

// The pictures of two canvases, through a GC as on screen and through a
// plain DC, differ in no pixel.
void expect_same_pictures(const PlotCanvas& expected, const PlotCanvas& shown, const wxSize& size,
                          const std::string& what) {
  for (bool through_gc : {true, false}) {
    wxBitmap a(size), b(size);
    {
      wxMemoryDC ma(a), mb(b);
      if (through_gc) {
        wxGCDC ga(ma), gb(mb);
        expected.Render(ga, size);
        shown.Render(gb, size);
      } else {
        expected.Render(ma, size);
        shown.Render(mb, size);
      }
    }
    EXPECT_EQ(differing_pixels(a.ConvertToImage(), b.ConvertToImage()), 0)
        << what << ", " << size.x << " px, gc " << through_gc;
  }
}

// What a trace's samples can look like.
enum class Shape { kAscending, kClockSteppedBack, kSwappedPair, kNaNTimes, kNaNValues, kInfinite };

void PrintTo(Shape shape, std::ostream* os) {
  static const char* const names[] = {"ascending", "clock stepped back", "swapped pair",
                                      "NaN times", "NaN values",         "infinite"};
  *os << names[static_cast<int>(shape)];
}

struct Samples {
  std::vector<double> t, y;
};

// `points` samples over 15 s from 3 s on (the first one left of a 4..19 s
// window), in `shape`.
Samples samples(int points, Shape shape) {
  Samples s;
  for (int i = 0; i < points; ++i) {
    s.t.push_back(15.0 * i / points + 3);
    s.y.push_back(1.8 + 0.1 * std::sin(i * 0.05) + 0.03 * std::sin(i * 1.7) + (i % 97 == 0) * 0.2);
  }
  const int n = points;
  const double nan = std::nan("");
  switch (shape) {
    case Shape::kAscending:
      break;
    case Shape::kClockSteppedBack:
      for (int i = n / 2; i < n / 2 + n / 10; ++i) s.t[i] -= 2.5;
      break;
    case Shape::kSwappedPair:
      std::swap(s.t[n / 5], s.t[4 * n / 5]);
      break;
    case Shape::kNaNTimes:  // one at the start of a column somewhere in each run
      for (int i = n / 3; i < n / 3 + 40; i += 7) s.t[i] = nan;
      break;
    case Shape::kNaNValues:
      for (int i = n / 3; i < n / 3 + 40; i += 7) s.y[i] = nan;
      break;
    case Shape::kInfinite:
      s.y[n / 4] = INFINITY;
      s.t[n / 2] = -INFINITY;
      s.y[3 * n / 4] = 1e300;
      break;
  }
  return s;
}

// The trace reduced from the arrays and the trace the canvas reduces when
// it paints both show the pixels of every point drawn.
class ReducedTrace : public PlotCanvasTest {
 protected:
  void expect_reductions_draw_every_point(const Samples& s, int width, const std::string& what) {
    const wxSize size(width, 160);
    const AxisRange x_axis{4, 19}, y_axis{1.5, 2.2};
    std::vector<PlotPoint> every;
    for (std::size_t i = 0; i < s.t.size(); ++i) every.push_back({s.t[i], s.y[i]});
    auto* full = new PlotCanvas(frame);
    full->SetBackgroundColour(*wxWHITE);
    full->reduceDenseTraces = false;
    std::vector<PolySpline> full_traces, painted_traces, reduced_traces;
    full_traces.emplace_back(every, "CH0", "blue", 1);
    painted_traces.emplace_back(every, "CH0", "blue", 1);
    const AxisMap x_map = PlotCanvas::XMap(x_axis, canvas->PlotArea(size));
    reduced_traces.emplace_back(reduce_to_columns(s.t.data(), s.y.data(), 0, s.t.size(), x_map),
                                "CH0", "blue", 1);
    EXPECT_LE(reduced_traces.front().points.size(), 5u * width + 40) << what;
    full->Draw(PlotGraphics(std::move(full_traces), "Time (s)", "VDD"), x_axis, y_axis);
    canvas->Draw(PlotGraphics(std::move(reduced_traces), "Time (s)", "VDD"), x_axis, y_axis);
    expect_same_pictures(*full, *canvas, size, what + ", reduced from the arrays");
    canvas->Draw(PlotGraphics(std::move(painted_traces), "Time (s)", "VDD"), x_axis, y_axis);
    expect_same_pictures(*full, *canvas, size, what + ", reduced when painted");
  }
};

class ReducedRates : public ReducedTrace,
                     public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(ReducedRates, IsPixelForPixelTheFullTrace) {
  const auto [points, width] = GetParam();
  expect_reductions_draw_every_point(samples(points, Shape::kAscending), width,
                                     std::to_string(points) + " points");
}

INSTANTIATE_TEST_SUITE_P(RatesAndWidths, ReducedRates,
                         ::testing::Combine(::testing::Values(1500, 15000, 150000),
                                            ::testing::Values(300, 457, 1000)));

class ReducedShapes : public ReducedTrace,
                      public ::testing::WithParamInterface<std::tuple<Shape, int>> {};

TEST_P(ReducedShapes, OddDataIsPixelForPixelTheFullTraceToo) {
  const auto [shape, width] = GetParam();
  expect_reductions_draw_every_point(samples(15000, shape), width,
                                     "shape " + std::to_string(static_cast<int>(shape)));
}

INSTANTIATE_TEST_SUITE_P(ShapesAndWidths, ReducedShapes,
                         ::testing::Combine(::testing::Values(Shape::kClockSteppedBack,
                                                              Shape::kSwappedPair, Shape::kNaNTimes,
                                                              Shape::kNaNValues, Shape::kInfinite),
                                            ::testing::Values(300, 1000)));

TEST_F(ReducedTrace, ANaNTimeAnywhereInAColumnIsAGap) {
  // About 13 samples share a column: one of these places starts one.
  for (int at = 1500; at < 1520; ++at) {
    Samples s = samples(3000, Shape::kAscending);
    s.t[at] = std::nan("");
    expect_reductions_draw_every_point(s, 300, "NaN time at " + std::to_string(at));
  }
}

TEST_F(ReducedTrace, APlotIsReducedForEachSizeItIsPaintedAtAndAgainForNewData) {
  auto* full = new PlotCanvas(frame);
  full->SetBackgroundColour(*wxWHITE);
  full->reduceDenseTraces = false;
  for (double phase : {0.0, 0.7}) {  // the second plot comes at a size painted before
    std::vector<PlotPoint> every;
    for (int i = 0; i < 20000; ++i)
      every.push_back({15.0 * i / 20000, std::sin(i * 0.01 + phase) + 0.3 * std::sin(i * 1.3)});
    std::vector<PolySpline> a, b;
    a.emplace_back(every, "CH0", "blue", 1);
    b.emplace_back(every, "CH0", "blue", 1);
    full->Draw(PlotGraphics(std::move(a), "t", "v"), {0, 15}, {-1.5, 1.5});
    canvas->Draw(PlotGraphics(std::move(b), "t", "v"), {0, 15}, {-1.5, 1.5});
    for (const wxSize size : {wxSize(300, 120), wxSize(900, 200), wxSize(300, 120)})
      expect_same_pictures(*full, *canvas, size, "phase " + std::to_string(phase));
  }
}

// ---- the kept background ------------------------------------------------------

// A canvas painted as its window paints, beside fresh canvases that draw the
// same plot with Render, the picture each paint must equal.
class KeptBackground : public ReducedTrace {
 protected:
  static wxImage paint(PlotCanvas& canvas, const wxSize& size) {
    wxBitmap bitmap(size);
    {
      wxMemoryDC memory(bitmap);
      canvas.Paint(memory, size);
    }
    return bitmap.ConvertToImage();
  }
  // What a new canvas showing the canvas's plot draws.
  wxImage fresh_picture(const wxSize& size) {
    auto* fresh = new PlotCanvas(frame);
    fresh->SetBackgroundColour(canvas->GetBackgroundColour());
    fresh->SetFont(canvas->GetFont());
    fresh->enableLegend = canvas->enableLegend;
    fresh->Draw(*canvas->GetGraphics(), canvas->GetXAxis(), canvas->GetYAxis());
    wxImage picture = render(*fresh, size).image;
    fresh->Destroy();
    return picture;
  }
  // Paints until the background is kept (the third paint of one plot at
  // one size), each paint compared with the fresh canvas's picture.
  void expect_paints_show_the_plot(const wxSize& size, const std::string& what) {
    const wxImage expected = fresh_picture(size);
    for (int paints = 1; paints <= 3; ++paints) {
      EXPECT_EQ(differing_pixels(expected, paint(*canvas, size)), 0)
          << what << ", " << size.x << "x" << size.y << " px, paint " << paints;
      EXPECT_EQ(canvas->LastPaintReusedBackground(), paints == 3) << what << ", paint " << paints;
    }
  }
  void show(std::vector<PolySpline> traces, AxisRange x_axis, AxisRange y_axis,
            const wxString& x_label = "Time (s)", const wxString& y_label = "VDD") {
    canvas->Draw(PlotGraphics(std::move(traces), x_label, y_label), x_axis, y_axis);
  }
  static std::vector<PolySpline> one_trace(const Samples& s, const wxString& legend = "CH0",
                                           const wxString& colour = "blue", int width = 1) {
    std::vector<PlotPoint> points;
    for (std::size_t i = 0; i < s.t.size(); ++i) points.push_back({s.t[i], s.y[i]});
    std::vector<PolySpline> traces;
    traces.emplace_back(std::move(points), legend, colour, width);
    return traces;
  }
};

TEST_F(KeptBackground, EveryPaintIsThePictureOfRenderForSizesRangesOddDataAndTheLegend) {
  const Samples through_the_legend{{4, 19}, {2.15, 2.15}};  // along the top, under the legend's row
  const Samples nothing_finite{{std::nan(""), 5}, {1.8, std::nan("")}};
  const std::vector<std::pair<std::string, Samples>> data = {
      {"ascending", samples(15000, Shape::kAscending)},
      {"clock stepped back", samples(15000, Shape::kClockSteppedBack)},
      {"NaN times", samples(15000, Shape::kNaNTimes)},
      {"infinite", samples(15000, Shape::kInfinite)},
      {"sparse", samples(40, Shape::kAscending)},
      {"through the legend", through_the_legend},
      {"nothing finite", nothing_finite}};
  const std::vector<std::pair<AxisRange, AxisRange>> ranges = {{{4, 19}, {1.5, 2.2}},
                                                               {{9991, 10006}, {-0.15, 2.5}}};
  for (const auto& [name, s] : data) {
    for (const auto& [x_axis, y_axis] : ranges) {
      for (bool legend : {false, true}) {
        canvas->enableLegend = legend;
        show(one_trace(s), x_axis, y_axis);
        for (const wxSize size : {wxSize(300, 100), wxSize(457, 160), wxSize(120, 60)})
          expect_paints_show_the_plot(size, name + (legend ? ", legend" : ""));
      }
    }
  }
}

TEST_F(KeptBackground, ATraceReachingTheKeptLegendHasTheLegendDrawnOverIt) {
  canvas->enableLegend = true;
  const wxSize size(300, 120);
  std::vector<PolySpline> traces = one_trace(samples(3000, Shape::kAscending));
  traces.emplace_back(std::vector<PlotPoint>{{4, 2.2}, {19, 2.2}}, "", "red", 9);
  show(std::move(traces), {4, 19}, {1.5, 2.2});
  expect_paints_show_the_plot(size, "a red band along the top, reaching the legend's row");
}

TEST_F(KeptBackground, ItIsDrawnAgainWhenTheSizeRangesLabelsLegendFontOrColoursChange) {
  const Samples s = samples(15000, Shape::kAscending);
  canvas->enableLegend = true;
  show(one_trace(s), {4, 19}, {1.5, 2.2});
  expect_paints_show_the_plot({300, 100}, "first");
  const std::vector<std::pair<std::string, std::function<void()>>> changes = {
      {"size", [] {}},
      {"x range",
       [&] {
         show(one_trace(s), {5, 20}, {1.5, 2.2});
       }},
      {"y range",
       [&] {
         show(one_trace(s), {5, 20}, {1.5, 2.3});
       }},
      {"x label",
       [&] {
         show(one_trace(s), {5, 20}, {1.5, 2.3}, "Time (min)");
       }},
      {"y label",
       [&] {
         show(one_trace(s), {5, 20}, {1.5, 2.3}, "Time (min)", "VBIAS");
       }},
      {"legend text",
       [&] {
         show(one_trace(s, "CH12"), {5, 20}, {1.5, 2.3});
       }},
      {"legend colour",
       [&] {
         show(one_trace(s, "CH0", "red"), {5, 20}, {1.5, 2.3});
       }},
      {"legend width",
       [&] {
         show(one_trace(s, "CH0", "blue", 3), {5, 20}, {1.5, 2.3});
       }},
      {"legend off", [&] { canvas->enableLegend = false; }},
      {"legend on", [&] { canvas->enableLegend = true; }},
      {"font", [&] { canvas->SetFont(wxFontInfo(13).Bold()); }},
      {"background", [&] { canvas->SetBackgroundColour(wxColour(250, 240, 200)); }}};
  for (const auto& [what, change] : changes) {
    change();
    const wxSize size(300, 140);              // from the second change on, a size painted before
    expect_paints_show_the_plot(size, what);  // the first paint after the change keeps nothing
  }
}

TEST_F(KeptBackground, APlotMovedToOtherRangesIsNeverPaintedOverTheOldAxes) {
  const Samples s = samples(15000, Shape::kAscending);
  const wxSize size(300, 100);
  show(one_trace(s), {4, 19}, {1.5, 2.2});
  expect_paints_show_the_plot(size, "before");
  const wxImage before = fresh_picture(size);
  show(one_trace(s), {4.5, 19.5}, {1.5, 2.2});  // the same samples, half a second later
  const wxImage expected = fresh_picture(size);
  // The axes moved: the old background would show in the margins.
  long moved = 0;
  for (int x = 0; x < size.x; ++x)
    for (int y = canvas->PlotArea(size).GetBottom() + 2; y < size.y; ++y)
      moved += before.GetRed(x, y) != expected.GetRed(x, y);
  ASSERT_GT(moved, 20);
  EXPECT_EQ(differing_pixels(expected, paint(*canvas, size)), 0);
  EXPECT_FALSE(canvas->LastPaintReusedBackground());
}

TEST_F(KeptBackground, ATargetOfAnotherSizeIsDrawnDirectly) {
  show(one_trace(samples(3000, Shape::kAscending)), {4, 19}, {1.5, 2.2});
  expect_paints_show_the_plot({300, 100}, "kept");
  wxBitmap larger(wxSize(320, 110));
  wxImage shown, expected;
  {
    wxMemoryDC memory(larger);
    canvas->Paint(memory, {300, 100});  // the plot in part of a larger bitmap
  }
  EXPECT_FALSE(canvas->LastPaintReusedBackground());
  shown = larger.ConvertToImage();
  {
    wxMemoryDC memory(larger);
    wxGCDC dc(memory);
    canvas->Render(dc, {300, 100});
  }
  expected = larger.ConvertToImage();
  EXPECT_EQ(differing_pixels(expected, shown), 0);
}

// The window's own paints read their background back from the window and
// copy it in again; one kept from a bitmap is never copied into the window
// (text is drawn differently there), nor one of other ranges.
TEST_F(KeptBackground, TheWindowKeepsItsBackgroundUntilTheRangesChange) {
  using namespace std::chrono_literals;
  int paints = 0;
  canvas->Bind(wxEVT_PAINT, [&](wxPaintEvent& event) {
    ++paints;
    event.Skip();  // the canvas paints
  });
  show(one_trace(samples(3000, Shape::kAscending)), {4, 19}, {1.5, 2.2});
  frame->Show();
  auto painted_again = [&] {
    const int before = paints;
    canvas->Refresh(false);
    return testing_support::pump_until([&] { return paints > before; }, 10s);
  };
  // The window paints through a bitmap of its own: its third paint alike
  // reuses the background kept from there.
  ASSERT_TRUE(painted_again());
  EXPECT_FALSE(canvas->LastPaintReusedBackground());
  ASSERT_TRUE(painted_again());
  ASSERT_TRUE(painted_again());
  EXPECT_TRUE(canvas->LastPaintReusedBackground()) << "the window did not keep its background";
  show(one_trace(samples(3000, Shape::kAscending)), {5, 20}, {1.5, 2.2});
  ASSERT_TRUE(painted_again());
  EXPECT_FALSE(canvas->LastPaintReusedBackground()) << "the old background after the change";
}

TEST_F(PlotCanvasTest, OddDataDrawsWithFiniteAxesAndGapsWithoutHanging) {
  const double nan = std::nan(""), inf = INFINITY;
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
  // How long it takes is measured in benchmarks/adc_plot_benchmark.cpp (BM_ReduceOddTimes).
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
