#include "platform/plot/plot_canvas.h"

#include <gtest/gtest.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

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

TEST(PlotReduction, KeepsEntryLowestHighestAndExitOfEachColumnInOrder) {
  std::vector<wxPoint2DDouble> points = {{0.1, 5}, {0.2, 9}, {0.3, 1}, {0.4, 4}, {1.5, 3}};
  const auto reduced = reduce_per_column(points);
  ASSERT_EQ(reduced.size(), 5u);
  EXPECT_EQ(reduced[1].m_y, 9);
  EXPECT_EQ(reduced[2].m_y, 1);
  std::vector<wxPoint2DDouble> many;
  for (int i = 0; i < 10000; ++i) many.emplace_back(i / 100.0, (i * 37) % 101);
  EXPECT_LE(reduce_per_column(many).size(), 400u);
}

}  // namespace
}  // namespace Zelvar_Core
