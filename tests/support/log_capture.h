// Reads back what named spdlog loggers wrote: logger name, level and text.
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/logging.h"

namespace Zelvar_Core::testing_support {

struct LogRecord {
  std::string logger;
  spdlog::level::level_enum level;
  std::string message;
  bool operator==(const LogRecord& other) const {
    return logger == other.logger && level == other.level && message == other.message;
  }
};

class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<LogRecord> records;

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    records.push_back({std::string(msg.logger_name.begin(), msg.logger_name.end()), msg.level,
                       std::string(msg.payload.begin(), msg.payload.end())});
  }
  void flush_() override {}
};

// Attaches a capturing sink to the named loggers for the lifetime of the object.
class LogCapture {
 public:
  explicit LogCapture(std::vector<std::string> names) : names_(std::move(names)) {
    sink_ = std::make_shared<CaptureSink>();
    for (const auto& name : names_) get_logger(name)->sinks().push_back(sink_);
  }
  ~LogCapture() {
    for (const auto& name : names_) {
      auto& sinks = get_logger(name)->sinks();
      sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
    }
  }
  const std::vector<LogRecord>& records() const { return sink_->records; }

 private:
  std::vector<std::string> names_;
  std::shared_ptr<CaptureSink> sink_;
};

inline std::ostream& operator<<(std::ostream& os, const LogRecord& r) {
  return os << "[" << r.logger << "/" << spdlog::level::to_string_view(r.level).data() << "] "
            << r.message;
}

}  // namespace Zelvar_Core::testing_support
