#include "bench/host/presenter/playback_control.h"

#include <fmt/format.h>
#include <wx/progdlg.h>
#include <wx/utils.h>

#include <filesystem>
#include <stdexcept>

#include "bench/board/text.h"
#include "bench/host/presenter/hdf5_export_loader.h"

namespace Zelvar_Core::bench {

PlaybackControl::PlaybackControl(EventHub& hub, StatusLine& status,
                                 std::shared_ptr<spdlog::logger> logger)
    : status_(status), logger_(std::move(logger)), playback_(hub) {}

const RecordingInfo& PlaybackControl::open(const std::string& path) {
  wxBusyCursor busy;
  const RecordingInfo& info = playback_.open(path);  // says why when it cannot be played
  logger_->info("Recording opened: {} ({:.1f} s, {} events)", path, info.duration_seconds(),
                count_text(info.events));
  const auto notes = info.warnings();
  for (const auto& note : notes) logger_->warn("{}: {}", path, note);
  status_.message(fmt::format(
      "Opened {}: {:.1f} s, {} events{}", std::filesystem::path(path).filename().string(),
      info.duration_seconds(), count_text(info.events), notes.empty() ? "" : "; " + notes.front()));
  return info;
}

std::string PlaybackControl::export_to(const std::string& out, wxWindow* parent) {
  if (!playback_.is_open()) throw std::runtime_error("No recording is open: open one first");
  const std::string source = playback_.info().path;
  wxProgressDialog progress("Exporting to HDF5", wxString::FromUTF8("Writing " + out), 1000, parent,
                            wxPD_APP_MODAL | wxPD_AUTO_HIDE | wxPD_CAN_ABORT | wxPD_ELAPSED_TIME);
  const ExportStats stats = export_hdf5_when_loaded(source, out, true, [&](double done) {
    return progress.Update(static_cast<int>(done * 1000));
  });
  const std::string text = fmt::format("Exported {} events to {} in {:.1f} s",
                                       count_text(stats.events), out, stats.seconds);
  logger_->info("{}", text);
  status_.message(text);
  return text;
}

std::string PlaybackControl::line() const {
  if (!playback_.is_open()) return "";
  return fmt::format("Playback {} {} {:.1f} / {:.1f} s",
                     std::filesystem::path(playback_.info().path).filename().string(),
                     playback_.playing() ? "at" : "paused at", playback_.position(),
                     playback_.info().duration_seconds());
}

}  // namespace Zelvar_Core::bench
