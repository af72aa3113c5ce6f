// Named loggers. A name that has no logger yet gets one, sharing the sinks of
// the default logger, so a caller never receives a null logger.
#pragma once

#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>

namespace Zelvar_Core {

using Logger = std::shared_ptr<spdlog::logger>;

inline Logger get_logger(const std::string& name) {
  static std::mutex creation;
  std::lock_guard<std::mutex> lock(creation);
  if (auto existing = spdlog::get(name)) return existing;
  const auto& defaults = spdlog::default_logger()->sinks();
  auto created = std::make_shared<spdlog::logger>(name, defaults.begin(), defaults.end());
  created->set_level(spdlog::level::trace);
  spdlog::register_logger(created);
  return created;
}

// Logs `format` with its single "%s" replaced by `argument`. The argument is
// never read as a format, so a path holding "{}" or "%s" is logged as it is.
inline std::string substitute_argument(const std::string& format, const std::string& argument) {
  std::string text = format;
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, argument);
  return text;
}

inline void log_error(const Logger& logger, const std::string& format,
                      const std::string& argument) {
  logger->error("{}", substitute_argument(format, argument));
}

}  // namespace Zelvar_Core
