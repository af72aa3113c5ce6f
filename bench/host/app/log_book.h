// Every log record of this run, from every logger, kept for the Log tool;
// error-level records are handed to a listener so that the user sees each.
#pragma once

#include <spdlog/sinks/sink.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Zelvar_Core::bench {

struct LogEntry {
  std::uint64_t sequence = 0;  // 1, 2, ... in the order they were logged
  std::chrono::system_clock::time_point time;
  spdlog::level::level_enum level = spdlog::level::info;
  std::string logger;
  std::string message;
};

class LogBook : public spdlog::sinks::sink {
 public:
  static constexpr std::size_t kCapacity = 20000;  // the oldest go first

  // The one book of the process.
  static LogBook& instance();
  // Adds the book to the default logger (which every named logger copies
  // when it is made) and to every logger made so far.
  static void attach();

  // The entries after `sequence`, oldest first.
  std::vector<LogEntry> since(std::uint64_t sequence) const;
  std::uint64_t last_sequence() const;
  // Runs on the thread that logged, outside the book's lock.
  void set_error_listener(std::function<void(const LogEntry&)> listener);

  void log(const spdlog::details::log_msg& msg) override;
  void flush() override {}
  void set_pattern(const std::string&) override {}
  void set_formatter(std::unique_ptr<spdlog::formatter>) override {}

 private:
  mutable std::mutex mutex_;
  std::deque<LogEntry> entries_;
  std::uint64_t sequence_ = 0;
  std::function<void(const LogEntry&)> error_listener_;
};

}  // namespace Zelvar_Core::bench
