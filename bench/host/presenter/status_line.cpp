#include "bench/host/presenter/status_line.h"

#include "bench/board/text.h"

namespace Zelvar_Core::bench {

void StatusLine::message(const std::string& text) {
  if (shown()) view_->show_message(wxString::FromUTF8(text));
}

void StatusLine::error(const std::string& what) { logger_->error("{}", what); }

void StatusLine::cancelled(const std::string& what) {
  logger_->info("{}", what);
  message(what);
}

void StatusLine::board(bool connected, const std::string& design, const std::string& address) {
  if (!shown()) return;
  const std::string state = connected ? "Connected" : "Disconnected";
  view_->show_connection(wxString::FromUTF8(
      address.empty() ? state : state + (connected ? " to " : " from ") + address));
  view_->SetStatusText("Bitstream: " + wxString::FromUTF8(design.empty() ? "none" : design),
                       kStatusBitstream);
}

void StatusLine::writing_bitstream(const std::string& design) {
  if (shown())
    view_->SetStatusText("Bitstream: writing " + wxString::FromUTF8(design) + "...",
                         kStatusBitstream);
}

void StatusLine::rates(bool streaming, double events_per_second, double frames_per_second,
                       std::uint64_t lost) {
  if (!shown()) return;
  if (streaming) {
    view_->SetStatusText(
        wxString::FromUTF8(rate_text(events_per_second) +
                           (lost > 0 ? ", " + short_count_text(lost) + " lost" : "")),
        kStatusEvents);
    view_->SetStatusText(wxString::Format("%.1f fps", frames_per_second), kStatusFrames);
  } else {
    view_->SetStatusText("Stopped", kStatusEvents);
    view_->SetStatusText("", kStatusFrames);
  }
}

void StatusLine::stream(const std::string& line) {
  if (shown()) view_->show_stream(wxString::FromUTF8(line));
}

}  // namespace Zelvar_Core::bench
