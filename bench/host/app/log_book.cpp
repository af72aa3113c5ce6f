#include "bench/host/app/log_book.h"

#include <spdlog/spdlog.h>

#include <algorithm>

namespace Zelvar_Core::bench {

LogBook& LogBook::instance() {
  static std::shared_ptr<LogBook> book = std::make_shared<LogBook>();
  return *book;
}

void LogBook::attach() {
  static std::shared_ptr<LogBook> shared(&instance(), [](LogBook*) {});
  auto add = [](const std::shared_ptr<spdlog::logger>& logger) {
    auto& sinks = logger->sinks();
    if (std::find(sinks.begin(), sinks.end(), shared) == sinks.end()) sinks.push_back(shared);
  };
  add(spdlog::default_logger());
  spdlog::apply_all(add);
}

std::vector<LogEntry> LogBook::since(std::uint64_t sequence) const {
  std::lock_guard lock(mutex_);
  std::vector<LogEntry> newer;
  for (const auto& entry : entries_)
    if (entry.sequence > sequence) newer.push_back(entry);
  return newer;
}

std::uint64_t LogBook::last_sequence() const {
  std::lock_guard lock(mutex_);
  return sequence_;
}

void LogBook::set_error_listener(std::function<void(const LogEntry&)> listener) {
  std::lock_guard lock(mutex_);
  error_listener_ = std::move(listener);
}

void LogBook::log(const spdlog::details::log_msg& msg) {
  LogEntry entry;
  entry.time = msg.time;
  entry.level = msg.level;
  entry.logger.assign(msg.logger_name.begin(), msg.logger_name.end());
  entry.message.assign(msg.payload.begin(), msg.payload.end());
  std::function<void(const LogEntry&)> listener;
  {
    std::lock_guard lock(mutex_);
    entry.sequence = ++sequence_;
    entries_.push_back(entry);
    if (entries_.size() > kCapacity) entries_.pop_front();
    if (msg.level >= spdlog::level::err) listener = error_listener_;
  }
  if (listener) listener(entry);
}

}  // namespace Zelvar_Core::bench
