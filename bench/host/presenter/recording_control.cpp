#include "bench/host/presenter/recording_control.h"

#include <fmt/format.h>

#include "bench/board/text.h"
#include "bench/sequences/bench_actions.h"

namespace Zelvar_Core::bench {

namespace {

std::string clock_text(double seconds) {
  const auto whole = static_cast<long>(seconds);
  return fmt::format("{}:{:02d}", whole / 60, whole % 60);
}

}  // namespace

RecordingControl::RecordingControl(Board& board, StatusLine& status,
                                   std::shared_ptr<spdlog::logger> logger)
    : board_(board), status_(status), logger_(std::move(logger)) {}

RecordingControl::~RecordingControl() {
  board_.events().unsubscribe(&recorder_);
  if (recorder_.active()) recorder_.stop();
}

std::string RecordingControl::begin(const std::filesystem::path& folder) {
  const std::string path = start_recording(recorder_, folder, board_);
  board_.events().subscribe(&recorder_);  // before the stream starts: nothing is missed
  return path;
}

void RecordingControl::abandon() {
  board_.events().unsubscribe(&recorder_);
  const RecordingStats stats = recorder_.stop();
  std::error_code ignored;
  std::filesystem::remove(stats.path, ignored);
}

void RecordingControl::streaming() {
  path_ = recorder_.progress().path;
  lost_before_ = board_.lost_by_board();
  link_losses_.restart(board_.dropped_by_server(), board_.batches_lost_in_transit());
  logger_->info("Recording started: {}", path_);
  status_.message("Recording to " + path_);
}

void RecordingControl::end(const std::string& why) {
  if (!recorder_.active()) return;
  board_.events().unsubscribe(&recorder_);
  RecordingStats stats = recorder_.stop();
  const LostBetween lost_during = lost_between(lost_before_, board_.lost_by_board());
  stats.lost_by_board = lost_during.lost;
  stats.lost_unknown = lost_during.went_back;
  const std::string file = std::filesystem::path(stats.path).filename().string();
  link_losses_.look(board_.dropped_by_server(), board_.batches_lost_in_transit());
  const std::string lost_text = lost_during_text(stats);
  std::string lost = lost_text.empty() ? "" : "; " + lost_text;
  // A served board's stream: what the server dropped and what never arrived, apart.
  if (link_losses_.dropped() > 0) lost += "; " + dropped_by_server_text(link_losses_.dropped());
  if (link_losses_.transit() > 0) lost += "; " + lost_in_transit_text(link_losses_.transit());
  logger_->info("Recording stopped ({}): {}, {}, {} events, {} dropped, {:.1f} s{}", why,
                stats.path, size_text(stats.bytes), count_text(stats.events),
                count_text(stats.dropped), stats.seconds, lost);
  if (stats.dropped > 0)
    logger_->error("Recording {}: {} events dropped, the disk did not keep up", file,
                   count_text(stats.dropped));
  if (stats.lost_by_board > 0)
    logger_->warn("Recording {}: {} (the file has gaps there)", file,
                  lost_by_board_text(stats.lost_by_board));
  if (!stats.lost_unknown.empty()) logger_->warn("Recording {}: {}", file, stats.lost_unknown);
  if (link_losses_.dropped() > 0)
    logger_->warn("Recording {}: {} (the file has gaps there)", file,
                  dropped_by_server_text(link_losses_.dropped()));
  if (link_losses_.transit() > 0)
    logger_->warn("Recording {}: {} (the file has gaps there)", file,
                  lost_in_transit_text(link_losses_.transit()));
  if (!stats.error.empty()) {
    status_.error("Recording stopped: cannot write " + stats.path + ": " + stats.error +
                  "; what was written stays readable (" + count_text(stats.events) + " events)");
  } else {
    status_.message(fmt::format("Recorded {}: {}, {} events, {} dropped{}", file,
                                size_text(stats.bytes), count_text(stats.events),
                                count_text(stats.dropped), lost));
  }
}

std::string RecordingControl::line() const {
  const RecordingStats stats = recorder_.progress();
  return fmt::format("REC {} | {} | {} ev | {} dropped", clock_text(stats.seconds),
                     size_text(stats.bytes), count_text(stats.events), count_text(stats.dropped));
}

}  // namespace Zelvar_Core::bench
