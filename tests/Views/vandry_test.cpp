#include "Zelvar_Core/Views/vandry.h"

#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tests/support/gui_harness.h"

namespace Zelvar_Core {
namespace {

const wxColour kEdited(128, 255, 0, 50);

// The window start as a plain scan of every sample: the nearest to xmin,
// the lowest index on equal distances.
size_t linear_window_start(const std::vector<double>& t, double xmin) {
  size_t best = 0;
  for (size_t i = 1; i < t.size(); ++i) {
    if (std::fabs(t[i] - xmin) < std::fabs(t[best] - xmin)) best = i;
  }
  return best;
}

AdcChannel channel(int number, const std::string& label, std::vector<double> t,
                   std::vector<double> y, bool enabled = true) {
  AdcChannel c;
  c.channel = number;
  c.label = label;
  c.value = y.empty() ? 0.0 : y.front();
  c.IsEnabled = enabled;
  c.data_t = std::move(t);
  c.data_y = std::move(y);
  return c;
}

TEST(AdcPlotRules, TimeWindowIsFixedThenSlides) {
  EXPECT_EQ(adc_time_window(7.5), (AxisRange{0, 15}));
  EXPECT_EQ(adc_time_window(15.0), (AxisRange{0, 15}));
  EXPECT_EQ(adc_time_window(42.0), (AxisRange{27, 42}));
}

TEST(AdcPlotRules, ValueRangeAddsFifteenPercentOrPointFifteenAtZero) {
  auto near = [](AxisRange r, double lo, double hi) {
    EXPECT_NEAR(r.first, lo, 1e-12);
    EXPECT_NEAR(r.second, hi, 1e-12);
  };
  near(adc_value_range({0, 0, 0}, 0), -0.15, 0.15);
  near(adc_value_range({2, 3, 4}, 0), 1.7, 4.6);
  near(adc_value_range({-4, -3, -2}, 0), -4.6, -1.7);
  near(adc_value_range({-1, 0, 3}, 0), -1.15, 3.45);
  near(adc_value_range({100, 2, 4}, 1), 1.7, 4.6);  // only visible samples count
  EXPECT_THROW(adc_value_range({1, 2}, 2), std::out_of_range);
}

TEST(AdcPlotRules, WindowStartPrefersTheEarlierOfTwoEqualDistances) {
  EXPECT_EQ(adc_window_start({26, 28, 30}, 27), 0u);
  EXPECT_EQ(adc_window_start({25, 26, 26, 28}, 27), 1u);
  EXPECT_EQ(adc_window_start({1, 2, 3}, 0), 0u);
  EXPECT_EQ(adc_window_start({1, 2, 3}, 10), 2u);
  EXPECT_THROW(adc_window_start({}, 0), std::out_of_range);
}

TEST(AdcPlotRules, BinarySearchAgreesWithTheLinearScanOnRandomData) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> steps(0, 3);  // 0 repeats a time: ties
  std::uniform_real_distribution<double> where(-5, 80);
  for (int run = 0; run < 2000; ++run) {
    std::vector<double> t;
    double now = where(random) / 4;
    const int count = 1 + run % 60;
    for (int i = 0; i < count; ++i) {
      now += steps(random) * 0.5;
      t.push_back(now);
    }
    for (int probe = 0; probe < 5; ++probe) {
      const double xmin = probe == 0 ? t[t.size() / 2] + 0.25 : std::round(where(random) * 2) / 4;
      ASSERT_EQ(adc_window_start(t, xmin), linear_window_start(t, xmin))
          << "run " << run << " xmin " << xmin;
    }
  }
}

class AdcViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = new AdcView(nullptr);
    values["a"] = channel(0, "VDD", {0, 1, 2}, {1.8, 1.79, 1.81});
    values["b"] = channel(1, "Temp", {0, 1, 2}, {25, 26, 27}, false);
  }
  void TearDown() override {
    view->Destroy();
    testing_support::flush_events();
  }
  AdcView* view = nullptr;
  AdcValuesMap values;
};

TEST_F(AdcViewTest, NewMonitorIsEmptyAndLaidOutAsDesigned) {
  EXPECT_EQ(view->GetTitle(), "ADC signals");
  EXPECT_TRUE(view->HasFlag(wxRESIZE_BORDER));
  EXPECT_FALSE(view->HasFlag(wxMAXIMIZE_BOX));
  auto* menu = view->panel_menu;
  EXPECT_FALSE(menu->init_flag);
  EXPECT_TRUE(menu->values_widgets.empty());
  EXPECT_TRUE(menu->enable_widgets.empty());
  EXPECT_TRUE(menu->sampletime_textbox->GetValue().empty());
  EXPECT_EQ(menu->adc_box->GetStaticBox()->GetLabel(), "ADC channels");
  EXPECT_EQ(menu->sizer_sampletime->GetStaticBox()->GetLabel(), "Sample time");
  EXPECT_EQ(menu->button_update->GetLabel(), "Update");
  EXPECT_EQ(menu->button_update->GetId(), wxID_APPLY);
  EXPECT_EQ(menu->grid_register->GetCols(), 3);
  EXPECT_EQ(view->hbox->GetItem(size_t{1})->GetWindow(), view->panel_plot);
  EXPECT_EQ(view->hbox->GetItem(size_t{1})->GetProportion(), 1);
  EXPECT_FALSE(view->panel_plot->init_flag);
  EXPECT_TRUE(view->panel_plot->canvas_list.empty());
}

TEST_F(AdcViewTest, FirstUpdateBuildsRowsAndBlankCanvasesAndShowsTheSampleTime) {
  view->update_values(values, 0.1);
  auto* menu = view->panel_menu;
  EXPECT_TRUE(menu->init_flag);
  EXPECT_EQ(menu->sampletime_textbox->GetValue(), "0.1");
  ASSERT_EQ(menu->grid_register->GetItemCount(), 6u);
  EXPECT_EQ(menu->grid_register->GetItem(size_t{0})->GetWindow()->GetLabel(), "CH0: VDD");
  EXPECT_EQ(menu->grid_register->GetItem(size_t{3})->GetWindow()->GetLabel(), "CH1: Temp");
  EXPECT_EQ(menu->values_widgets.at("VDD")->GetValue(), "1.8");  // the record's value
  EXPECT_FALSE(menu->values_widgets.at("VDD")->IsEditable());
  EXPECT_TRUE(menu->enable_widgets.at("VDD")->GetValue());
  EXPECT_FALSE(menu->enable_widgets.at("Temp")->GetValue());
  auto& canvases = view->panel_plot->canvas_list;
  ASSERT_EQ(canvases.size(), 2u);
  for (auto& [label, canvas] : canvases) {
    EXPECT_FALSE(canvas->HasPlot());
    EXPECT_TRUE(canvas->IsShown());  // even the disabled channel, until update_panels
    EXPECT_EQ(canvas->GetMinSize(), wxSize(300, 100));
    EXPECT_TRUE(canvas->enableLegend);
  }
}

TEST_F(AdcViewTest, LaterUpdatesShowNewestSamplesDrawAndKeepTheSampleTime) {
  view->update_values(values, 0.1);
  view->panel_menu->sampletime_textbox->ChangeValue("0.5");
  view->panel_menu->on_text_change(view->panel_menu->values_widgets.at("Temp"));
  values["a"].data_t.push_back(42);
  values["a"].data_y.push_back(1.7);
  view->update_values(values, 2.0);
  auto* menu = view->panel_menu;
  EXPECT_EQ(menu->values_widgets.at("VDD")->GetValue(), "1.7");
  EXPECT_EQ(menu->values_widgets.at("Temp")->GetValue(), "27");
  EXPECT_EQ(menu->sampletime_textbox->GetValue(), "0.5");
  EXPECT_NE(menu->values_widgets.at("Temp")->GetBackgroundColour(), kEdited);
  auto* vdd = view->panel_plot->canvas_list.at("VDD");
  ASSERT_TRUE(vdd->HasPlot());
  EXPECT_EQ(vdd->GetXAxis(), (AxisRange{27, 42}));
  // Only the sample nearest 27 s (the one at 42 s) and later ones count.
  EXPECT_NEAR(vdd->GetYAxis().first, 0.85 * 1.7, 1e-12);
  EXPECT_NEAR(vdd->GetYAxis().second, 1.15 * 1.7, 1e-12);
  const auto& trace = vdd->GetGraphics()->traces.at(0);
  EXPECT_EQ(trace.legend, "CH0");
  EXPECT_EQ(trace.colour, "blue");
  EXPECT_EQ(trace.width, 1);
  EXPECT_EQ(vdd->GetGraphics()->xLabel, "Time (s)");
  EXPECT_EQ(vdd->GetGraphics()->yLabel, "VDD");
  EXPECT_EQ(view->panel_plot->canvas_list.at("Temp")->GetXAxis(), (AxisRange{0, 15}));
}

TEST_F(AdcViewTest, UpdatePanelsWritesCheckBoxesBackAndShowsOrHidesCanvases) {
  view->update_values(values, 0.1);
  view->panel_menu->enable_widgets.at("VDD")->SetValue(false);
  EXPECT_TRUE(values["a"].IsEnabled);  // nothing changes until update_panels
  view->update_panels(values);
  EXPECT_FALSE(values["a"].IsEnabled);
  EXPECT_FALSE(values["b"].IsEnabled);
  EXPECT_FALSE(view->panel_plot->canvas_list.at("VDD")->IsShown());
  EXPECT_FALSE(view->panel_plot->canvas_list.at("Temp")->IsShown());
  view->panel_menu->enable_widgets.at("Temp")->SetValue(true);
  view->update_panels(values);
  EXPECT_TRUE(values["b"].IsEnabled);
  EXPECT_TRUE(view->panel_plot->canvas_list.at("Temp")->IsShown());
  view->update_values(values, 0.1);  // hidden canvases are redrawn too
  EXPECT_TRUE(view->panel_plot->canvas_list.at("VDD")->HasPlot());
}

TEST_F(AdcViewTest, ApplyClearsChannelMarksOnlyAndMenusStateLeavesPlots) {
  view->update_values(values, 0.1);
  auto* menu = view->panel_menu;
  menu->on_text_change(menu->values_widgets.at("VDD"));
  menu->on_text_change(menu->sampletime_textbox);
  view->apply();
  EXPECT_NE(menu->values_widgets.at("VDD")->GetBackgroundColour(), kEdited);
  EXPECT_EQ(menu->sampletime_textbox->GetBackgroundColour(), kEdited);
  view->set_menus_state(false);
  EXPECT_FALSE(menu->enable_widgets.at("VDD")->IsEnabled());
  EXPECT_FALSE(menu->button_update->IsEnabled());
  EXPECT_FALSE(menu->sampletime_textbox->IsEnabled());
  EXPECT_TRUE(view->panel_plot->IsEnabled());
}

TEST_F(AdcViewTest, MissingKeysAndEmptySamplesFailAtTheirRecord) {
  EXPECT_THROW(view->update_panels(values), std::out_of_range);  // before the first update
  view->update_values(values, 0.1);
  AdcValuesMap changed = values;
  changed["a"].data_y.push_back(9.0);
  changed["a"].data_t.push_back(3.0);
  changed["b"].data_y.clear();
  EXPECT_THROW(view->update_values(changed, 0.1), std::out_of_range);
  EXPECT_EQ(view->panel_menu->values_widgets.at("VDD")->GetValue(), "9");
  EXPECT_FALSE(view->panel_plot->canvas_list.at("VDD")->HasPlot());  // plots not reached
  AdcValuesMap unknown = values;
  unknown["b"].IsEnabled = true;
  unknown["c"] = channel(2, "Ibias", {0}, {1});
  EXPECT_THROW(view->update_panels(unknown), std::out_of_range);
  EXPECT_FALSE(unknown["b"].IsEnabled);  // earlier records took their box's state
}

TEST_F(AdcViewTest, EmptyFirstUpdateStillShowsTheSampleTime) {
  view->update_values({}, 0.25);
  EXPECT_TRUE(view->panel_menu->init_flag);
  EXPECT_EQ(view->panel_menu->sampletime_textbox->GetValue(), "0.25");
  EXPECT_EQ(view->panel_menu->grid_register->GetItemCount(), 0u);
}

TEST_F(AdcViewTest, DuplicateLabelsKeepOnlyTheSecondRowsWidgets) {
  AdcValuesMap twins;
  twins["a"] = channel(0, "VDD", {0}, {1});
  twins["b"] = channel(1, "VDD", {0}, {2}, false);
  view->update_values(twins, 0.1);
  EXPECT_EQ(view->panel_menu->grid_register->GetItemCount(), 6u);
  EXPECT_EQ(view->panel_menu->values_widgets.size(), 1u);
  EXPECT_FALSE(view->panel_menu->enable_widgets.at("VDD")->GetValue());
}

TEST_F(AdcViewTest, OnlyPointsThatCanBeSeenAreHandedToTheCanvas) {
  std::vector<double> t, y;
  for (int i = 0; i <= 1000; ++i) {
    t.push_back(i * 0.1);
    y.push_back(std::sin(i * 0.1));
  }
  values["a"] = channel(0, "VDD", t, y);
  view->update_values(values, 0.1);
  view->update_values(values, 0.1);
  const auto& points = view->panel_plot->canvas_list.at("VDD")->GetGraphics()->traces[0].points;
  ASSERT_FALSE(points.empty());
  EXPECT_LT(points.front().x, 85.0);  // one sample before the window start
  EXPECT_GE(points.front().x, 84.85);
  EXPECT_DOUBLE_EQ(points.back().x, 100.0);
  EXPECT_EQ(points.size(), 152u);
}

TEST_F(AdcViewTest, AResizeBetweenSamplesRepaintsEverySampleForTheNewSize) {
  std::vector<double> t, y;
  for (int i = 0; i < 6000; ++i) {
    t.push_back(14.0 * i / 6000);
    y.push_back(1.8 + 0.1 * std::sin(i * 0.05) + 0.04 * std::sin(i * 1.7));
  }
  values["a"] = channel(0, "VDD", t, y);
  view->update_values(values, 0.1);
  auto* canvas = view->panel_plot->canvas_list.at("VDD");
  canvas->SetSize(wxSize(300, 100));
  view->update_values(values, 0.1);  // the last sample, drawn at 300 px
  auto* every = new PlotCanvas(view->panel_plot);
  every->reduceDenseTraces = false;
  every->enableLegend = true;
  every->SetBackgroundColour(canvas->GetBackgroundColour());
  std::vector<PlotPoint> points;
  for (size_t i = 0; i < t.size(); ++i) points.push_back({t[i], y[i]});
  std::vector<PolySpline> traces;
  traces.emplace_back(points, "CH0", "blue", 1);
  every->Draw(PlotGraphics(std::move(traces), "Time (s)", "VDD"), canvas->GetXAxis(),
              canvas->GetYAxis());
  for (const wxSize size : {wxSize(900, 240), wxSize(300, 100)}) {
    canvas->SetSize(size);
    wxBitmap expected(size), shown(size);
    {
      wxMemoryDC expected_dc(expected), shown_dc(shown);
      every->Render(expected_dc, size);
      canvas->Render(shown_dc, size);
    }
    const wxImage a = expected.ConvertToImage(), b = shown.ConvertToImage();
    long differing = 0;
    for (long i = 0; i < 3L * size.x * size.y; i += 3)
      differing += std::memcmp(a.GetData() + i, b.GetData() + i, 3) != 0;
    EXPECT_EQ(differing, 0) << size.x << " px";
  }
}

TEST(AdcPlotRules, ValueRangeCountsOnlyFiniteSamples) {
  const double nan = std::nan(""), inf = INFINITY;
  const AxisRange range = adc_value_range({nan, 2, inf, 4, -inf}, 0);
  EXPECT_DOUBLE_EQ(range.first, 1.7);
  EXPECT_DOUBLE_EQ(range.second, 4.6);
  EXPECT_EQ(adc_value_range({nan, inf, -inf}, 0), (AxisRange{-0.15, 0.15}));
}

TEST_F(AdcViewTest, OddHistoriesDrawWithFiniteAxes) {
  const double nan = std::nan(""), inf = INFINITY, big = std::ldexp(1.0, 56);
  const std::vector<std::pair<std::vector<double>, std::vector<double>>> histories = {
      {{0, 1, nan}, {1.8, nan, 1.9}},          // a NaN last time
      {{0, 1, inf}, {1.8, 1.7, inf}},          // an infinite last time and value
      {{big - 30, big - 10, big}, {1, 2, 3}},  // a nanosecond clock after 200 days
      {{5}, {1.8}},                            // a single sample
      {{nan, nan}, {nan, nan}},                // nothing finite
  };
  for (const auto& [t, y] : histories) {
    values["a"] = channel(0, "VDD", t, y);
    view->update_values(values, 0.1);
    view->update_values(values, 0.1);
    auto* canvas = view->panel_plot->canvas_list.at("VDD");
    for (double v : {canvas->GetXAxis().first, canvas->GetXAxis().second, canvas->GetYAxis().first,
                     canvas->GetYAxis().second})
      EXPECT_TRUE(std::isfinite(v)) << t.back();
    wxBitmap bitmap(300, 100);
    wxMemoryDC dc(bitmap);
    canvas->Render(dc, wxSize(300, 100));
  }
}

TEST_F(AdcViewTest, TheMonitorsMinimumHoldsAfterFittingAndAfterTheChannelsCome) {
  EXPECT_GE(view->GetMinSize().x, 1000);
  EXPECT_GE(view->GetMinSize().y, 300);
  EXPECT_GE(view->GetSize().x, 1000);
  view->update_values(values, 0.1);
  EXPECT_GE(view->GetMinSize().x, 1000);
  EXPECT_GE(view->GetSize().x, 1000);
  EXPECT_GE(view->GetSize().y, 300);
}

}  // namespace
}  // namespace Zelvar_Core
