// The main window's status bar: the board's presence and design, the rates,
// the line of a recording or a playback, and the outcome of the last
// action. Errors go to the log, whose book puts each one in the message
// field; nothing is written once the bench has closed.
#pragma once

#include <spdlog/logger.h>

#include <cstdint>
#include <memory>
#include <string>

#include "bench/host/windows/main_window.h"

namespace Zelvar_Core::bench {

class StatusLine {
 public:
  explicit StatusLine(std::shared_ptr<spdlog::logger> logger) : logger_(std::move(logger)) {}
  void attach(BenchMainWindow& window) { view_ = &window; }
  void close() { closed_ = true; }

  // The message field: the outcome of the last action.
  void message(const std::string& text);
  // Logged as an error; the log book shows it in the message field.
  void error(const std::string& what);
  // Something the user stopped: information, not an error.
  void cancelled(const std::string& what);
  // `address` names a served board ("" for the one in this process).
  void board(bool connected, const std::string& design, const std::string& address = "");
  void writing_bitstream(const std::string& design);
  // Events/s (and the events the board lost) and frames/s while events
  // stream, "Stopped" otherwise.
  void rates(bool streaming, double events_per_second, double frames_per_second,
             std::uint64_t lost);
  // The recording's or the playback's line, "" for none.
  void stream(const std::string& line);

 private:
  bool shown() const { return view_ != nullptr && !closed_; }

  std::shared_ptr<spdlog::logger> logger_;
  BenchMainWindow* view_ = nullptr;
  bool closed_ = false;
};

}  // namespace Zelvar_Core::bench
