#include "bench/host/tools/rates_tool.h"

#include <fmt/format.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <algorithm>

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

namespace {

constexpr double kWindowSeconds = 15.0;
constexpr std::size_t kCurrentBins = 10;  // "now" is the last second

double recent_mean(const std::vector<double>& values) {
  const std::size_t n = std::min(kCurrentBins, values.size());
  double sum = 0;
  for (std::size_t i = values.size() - n; i < values.size(); ++i) sum += values[i];
  return n ? sum / n : 0;
}

}  // namespace

RatesTool::RatesTool(wxWindow* parent, const RateMeter& meter)
    : ToolFrame(parent, "Rates", wxSize(640, 360)), meter_(meter) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  values_text = new wxStaticText(panel, wxID_ANY, "No events yet");
  plot = new PlotCanvas(panel);
  plot->SetMinSize(wxSize(600, 280));
  plot->enableLegend = true;
  sizer->Add(values_text, 0, wxALL, 8);
  sizer->Add(plot, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  panel->SetSizer(sizer);
}

void RatesTool::open() {
  refresh();
  bring_up(100);  // with the image, give or take a frame
}

void RatesTool::refresh() {
  const RateMeter::Trace trace = meter_.trace();
  const double last = trace.t.empty() ? 0 : trace.t.back();
  const AxisRange x =
      last < kWindowSeconds ? AxisRange{0, kWindowSeconds} : AxisRange{last - kWindowSeconds, last};
  double top = 0;
  std::vector<PlotPoint> on, off;
  for (std::size_t i = 0; i < trace.t.size(); ++i) {
    on.push_back({trace.t[i], trace.on[i]});
    off.push_back({trace.t[i], trace.off[i]});
    top = std::max({top, trace.on[i], trace.off[i]});
  }
  std::vector<PolySpline> traces;
  traces.emplace_back(std::move(on), "ON", "orange red", 2);
  traces.emplace_back(std::move(off), "OFF", "blue", 2);
  plot->Draw(PlotGraphics(std::move(traces), "Event time (s)", "Events/s"), x,
             {0, top > 0 ? top * 1.15 : 1.0});
  if (trace.t.empty()) {
    values_text->SetLabel("No events yet");
    return;
  }
  const double now_on = recent_mean(trace.on), now_off = recent_mean(trace.off);
  values_text->SetLabel(wxString::FromUTF8(
      fmt::format("ON {}    OFF {}    ON/OFF {}", rate_text(now_on, 3), rate_text(now_off, 3),
                  now_off > 0 ? fmt::format("{:.3f}", now_on / now_off) : "-")));
}

}  // namespace Zelvar_Core::bench
