#include "bench/host/tools/rates_tool.h"

#include <fmt/format.h>
#include <wx/panel.h>
#include <wx/sizer.h>

#include <algorithm>
#include <cmath>

#include "bench/board/text.h"
#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

namespace {

constexpr double kWindowSeconds = 15.0;
constexpr std::size_t kCurrentBins = 10;  // "now" is the last second

// The mean of the last bins of the trace's last run, up to a second of them:
// never across a stop, where the rates of two runs would mix.
double recent_mean(const RateMeter::Trace& trace, const std::vector<double>& values) {
  const std::size_t n = std::min(kCurrentBins, values.size() - trace.last_run);
  double sum = 0;
  for (std::size_t i = values.size() - n; i < values.size(); ++i) sum += values[i];
  return n ? sum / n : 0;
}

// A colour as the plot takes it.
wxString colour_name(const wxColour& colour) { return colour.GetAsString(wxC2S_CSS_SYNTAX); }

}  // namespace

RatesTool::RatesTool(wxWindow* parent, const RateMeter& meter)
    : ToolFrame(parent, "Rates", wxSize(640, 360)), meter_(meter) {
  auto* panel = new wxPanel(this);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  values_text = new wxStaticText(panel, wxID_ANY, "No events yet");
  plot = new PlotCanvas(panel);
  plot->SetMinSize(wxSize(600, 280));
  plot->enableLegend = true;
  // ON and OFF in the colours the live image gives them, on its dark ground.
  plot->SetBackgroundColour(kNoEventColour);
  plot->SetForegroundColour(wxColour(225, 225, 225));
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
  const double gap = std::nan("");
  std::size_t next_run = 0, next_skip = 0;
  for (std::size_t i = 0; i < trace.t.size(); ++i) {
    const bool run_starts = next_run < trace.run_starts.size() && trace.run_starts[next_run] == i;
    const bool skip_ends = next_skip < trace.skips.size() && trace.skips[next_skip] == i;
    if (run_starts || skip_ends) {
      // The stream was stopped in between, or the display skipped part of
      // it: nothing was measured there.
      on.push_back({gap, gap});
      off.push_back({gap, gap});
    }
    next_run += run_starts;
    next_skip += skip_ends;
    on.push_back({trace.t[i], trace.on[i]});
    off.push_back({trace.t[i], trace.off[i]});
    top = std::max({top, trace.on[i], trace.off[i]});
  }
  std::vector<PolySpline> traces;
  traces.emplace_back(std::move(on), "ON", colour_name(kOnColour), 2);
  traces.emplace_back(std::move(off), "OFF", colour_name(kOffColour), 2);
  plot->Draw(PlotGraphics(std::move(traces), "Event time (s)", "Events/s"), x,
             {0, top > 0 ? top * 1.15 : 1.0});
  std::string text;
  if (trace.t.empty())
    text = "No events yet";
  else if (trace.last_run == trace.t.size())  // nothing measured of the latest run
    text = trace.stopped ? "Stopped" : "Started again: measuring";
  else {
    const double now_on = recent_mean(trace, trace.on), now_off = recent_mean(trace, trace.off);
    const std::string values =
        fmt::format("ON {}    OFF {}    ON/OFF {}", rate_text(now_on, 3), rate_text(now_off, 3),
                    now_off > 0 ? fmt::format("{:.3f}", now_on / now_off) : "-");
    text = trace.stopped ? fmt::format("Stopped at {:.1f} s; before: {}", last, values) : values;
  }
  // Not lost by the board: this window fell behind it, and its plot has gaps there.
  if (trace.skipped > 0)
    text += fmt::format("    ({} events not shown: the display fell behind)",
                        count_text(trace.skipped));
  values_text->SetLabel(wxString::FromUTF8(text));
}
}  // namespace Zelvar_Core::bench
