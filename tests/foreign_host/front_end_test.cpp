// The front end inside a host that routes neither the toolkit's log nor its
// assertions (see foreign_host_main.cpp): odd data and odd files must not
// raise anything there, and the plot must still show what it would show
// with every sample drawn.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dcgraph.h>
#include <wx/dcmemory.h>
#include <wx/dcsvg.h>
#include <wx/frame.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Zelvar_Core/Views/tolmar.h"
#include "Zelvar_Core/Views/vandry.h"

namespace Zelvar_Core {
namespace {

namespace fs = std::filesystem;

wxImage paint(const PlotCanvas& canvas, const wxSize& size, bool through_gc) {
  wxBitmap bitmap(size);
  {
    wxMemoryDC memory(bitmap);
    if (through_gc) {
      wxGCDC dc(memory);
      canvas.Render(dc, size);
    } else {
      canvas.Render(memory, size);
    }
  }
  return bitmap.ConvertToImage();
}

long differing_pixels(const wxImage& a, const wxImage& b) {
  if (a.GetSize() != b.GetSize()) return -1;
  long differing = 0;
  const long bytes = 3L * a.GetWidth() * a.GetHeight();
  for (long i = 0; i < bytes; i += 3)
    differing += std::memcmp(a.GetData() + i, b.GetData() + i, 3) != 0;
  return differing;
}

long blue_pixels(const wxImage& image) {
  long count = 0;
  const long bytes = 3L * image.GetWidth() * image.GetHeight();
  for (long i = 0; i < bytes; i += 3) {
    const unsigned char* p = image.GetData() + i;
    count += p[2] > 150 && p[0] < 120 && p[1] < 120;
  }
  return count;
}

AdcChannel history(std::vector<double> t) {
  AdcChannel c;
  c.channel = 0;
  c.label = "VDD";
  for (std::size_t i = 0; i < t.size(); ++i)
    c.data_y.push_back(1.8 + 0.1 * std::sin(i * 0.05) + 0.04 * std::sin(i * 1.7));
  c.data_t = std::move(t);
  c.value = c.data_y.back();
  return c;
}

// `count` samples spread over the first 14 s, all inside the first window.
std::vector<double> times(int count) {
  std::vector<double> t;
  for (int i = 0; i < count; ++i) t.push_back(14.0 * i / count);
  return t;
}

class ForeignHost : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = new wxFrame(nullptr, wxID_ANY, "host");
    monitor = new AdcPlotCanvas(frame);
    monitor->SetSize(wxSize(300, 100));
  }
  void TearDown() override {
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
  }
  // Every sample of `c` drawn as it is, on the axes the monitor chose.
  PlotCanvas* every_point_of(const AdcChannel& c) {
    auto* full = new PlotCanvas(frame);
    full->reduceDenseTraces = false;
    full->enableLegend = true;
    full->SetBackgroundColour(monitor->GetBackgroundColour());
    std::vector<PlotPoint> points;
    for (std::size_t k = 0; k < c.data_t.size(); ++k) points.push_back({c.data_t[k], c.data_y[k]});
    std::vector<PolySpline> traces;
    traces.emplace_back(std::move(points), "CH0", "blue", 1);
    full->Draw(PlotGraphics(std::move(traces), "Time (s)", "VDD"), monitor->GetXAxis(),
               monitor->GetYAxis());
    return full;
  }
  void expect_same_picture(const PlotCanvas& full, const wxSize& size) {
    for (bool through_gc : {true, false}) {
      const wxImage expected = paint(full, size, through_gc);
      const wxImage shown = paint(*monitor, size, through_gc);
      EXPECT_GT(blue_pixels(shown), size.x / 2) << "no trace at " << size.x << " px";
      EXPECT_EQ(differing_pixels(expected, shown), 0)
          << size.x << "x" << size.y << " px, gc " << through_gc;
    }
    // As the window paints: drawn, drawn and read back, then copied in.
    const wxImage expected = paint(full, size, true);
    for (int paints = 1; paints <= 3; ++paints) {
      wxBitmap bitmap(size);
      {
        wxMemoryDC memory(bitmap);
        monitor->Paint(memory, size);
      }
      EXPECT_EQ(differing_pixels(expected, bitmap.ConvertToImage()), 0)
          << size.x << "x" << size.y << " px, paint " << paints;
    }
  }
  wxFrame* frame = nullptr;
  AdcPlotCanvas* monitor = nullptr;
};

TEST_F(ForeignHost, ANaNTimeAmongThousandsOfSamplesDrawsAGapAndRaisesNothing) {
  // About 18 samples share a pixel column here: one of these places is the
  // first of its column, one is in the middle of one.
  for (int at = 1230; at < 1260; ++at) {
    std::vector<double> t = times(4000);
    t[at] = std::nan("");
    const AdcChannel c = history(t);
    monitor->update_plot(c);
    expect_same_picture(*every_point_of(c), {300, 100});
  }
}

TEST_F(ForeignHost, OutOfOrderTimesSetThePixelsOfEveryPointDrawn) {
  std::vector<double> t = times(4000);
  for (int i = 2000; i < 2400; ++i) t[i] -= 3.0;  // the clock stepped back, then caught up
  std::swap(t[100], t[3000]);                     // and two samples came in swapped
  const AdcChannel c = history(t);
  monitor->update_plot(c);
  expect_same_picture(*every_point_of(c), {300, 100});
}

TEST_F(ForeignHost, AResizeBetweenSamplesPaintsTheTraceForTheNewSize) {
  const AdcChannel c = history(times(6000));
  monitor->update_plot(c);
  PlotCanvas* full = every_point_of(c);
  monitor->SetSize(wxSize(900, 240));  // no new sample comes before the paint
  expect_same_picture(*full, {900, 240});
  monitor->SetSize(wxSize(300, 100));
  expect_same_picture(*full, {300, 100});
}

TEST_F(ForeignHost, TheShownMonitorReadsItsBackgroundBackAndRaisesNothing) {
  int paints = 0;
  monitor->Bind(wxEVT_PAINT, [&](wxPaintEvent& event) {
    ++paints;
    event.Skip();  // the canvas paints
  });
  monitor->update_plot(history(times(6000)));
  frame->Show();
  // Paints until the window copies its kept background in; a limit instead
  // of a hang if it never does.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!monitor->LastPaintReusedBackground() && std::chrono::steady_clock::now() < limit) {
    monitor->Refresh(false);
    wxYield();
    wxMilliSleep(5);
  }
  EXPECT_TRUE(monitor->LastPaintReusedBackground()) << paints << " paints";
}

// The texts an SVG drawing of `canvas` holds.
std::vector<std::string> drawn_texts(const PlotCanvas& canvas, const wxSize& size) {
  const std::string file = "labels.svg";
  {
    wxSVGFileDC svg(file, size.x, size.y);
    canvas.Render(svg, size);
  }
  std::ifstream in(file);
  std::stringstream content;
  content << in.rdbuf();
  const std::string svg = content.str();
  std::vector<std::string> texts;
  const std::regex text_element("<text[^>]*>([^<]*)</text>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text_element);
       it != std::sregex_iterator(); ++it) {
    std::string text = (*it)[1];
    text.erase(0, text.find_first_not_of(" \n"));
    text.erase(text.find_last_not_of(" \n") + 1);
    texts.push_back(text);
  }
  return texts;
}

TEST_F(ForeignHost, TickLabelsPastTenThousandSecondsShowTheSecondsPlainly) {
  std::vector<double> t;
  for (int i = 0; i <= 1500; ++i) t.push_back(10006.0 - 0.01 * (1500 - i));
  monitor->SetSize(wxSize(1000, 300));
  monitor->update_plot(history(t));
  ASSERT_EQ(monitor->GetXAxis(), (AxisRange{9991, 10006}));
  const std::vector<std::string> texts = drawn_texts(*monitor, {1000, 300});
  const std::set<std::string> drawn(texts.begin(), texts.end());
  for (int second = 9991; second <= 10006; ++second)
    EXPECT_TRUE(drawn.count(std::to_string(second))) << second << " s has no plain label";
  for (const auto& text : texts)
    EXPECT_FALSE(std::regex_match(text, std::regex("[0-9]+\\.[0-9]+k"))) << text;
}

class ForeignHostRecentFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all("tmp");
    fs::create_directories("tmp");
  }
  void TearDown() override { fs::remove_all("tmp"); }
};

std::vector<std::string> shown_history(const MainMenuBar& bar) {
  std::vector<std::string> files;
  const auto& history = *bar.menu_device->program_history;
  for (std::size_t i = 0; i < history.GetCount(); ++i)
    files.push_back(history.GetHistoryFile(i).utf8_string());
  return files;
}

TEST_F(ForeignHostRecentFiles, GarbageLinesAreSkippedAndTheEntriesReadInOrder) {
  const char junk[] = "\xff\xfe\x00\x01junk\x80=\x81\n";
  {
    std::ofstream file("tmp/.Pravel_recent_files", std::ios::binary);
    file << "file3=/lab/third.bit\n"
         << "=\n"
         << "a line without an equals sign\n"
         << std::string(junk, sizeof junk - 1) << "[broken header\n"
         << "file1=/lab/first.bit\n"
         << "file2=/" << std::string(100000, 'x') << ".bit\n"
         << "file5=/lab/fifth.bit\n"
         << "[another group]\n"
         << "file4=/lab/not the history's.bit\n";
  }
  const auto written = fs::last_write_time("tmp/.Pravel_recent_files");
  MainMenuBar bar(nullptr);
  EXPECT_EQ(shown_history(bar),
            (std::vector<std::string>{"/lab/first.bit", "/lab/third.bit", "/lab/fifth.bit"}));
  EXPECT_EQ(bar.menu_device->item_program_history->GetMenuItemCount(), 3u);
  // Reading wrote nothing: the file is as it was, and alone in its folder.
  EXPECT_EQ(fs::last_write_time("tmp/.Pravel_recent_files"), written);
  EXPECT_EQ(std::distance(fs::directory_iterator("tmp"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace Zelvar_Core
