// What the bench reads off a PostgreSQL address without connecting: whether
// it is one, and its password, which no message may show. Built into the
// results store and into the PostgreSQL module alike.
#include "bench/results/postgres_module.h"

namespace Zelvar_Core::bench::results {

std::string url_password(const std::string& url) {
  std::string password;
  const auto scheme = url.find("://");
  if (scheme != std::string::npos) {
    const auto start = scheme + 3;
    const auto at = url.find('@', start);
    const auto slash = url.find('/', start);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
      const auto colon = url.find(':', start);
      if (colon != std::string::npos && colon < at)
        password = url.substr(colon + 1, at - colon - 1);
    }
  }
  const auto key = url.find("password=");
  if (password.empty() && key != std::string::npos) {
    const auto end = url.find('&', key);
    password = url.substr(key + 9, end == std::string::npos ? std::string::npos : end - key - 9);
  }
  return password;
}

bool is_postgres_url(const std::string& text) {
  return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

std::string url_without_password(const std::string& url) {
  const std::string password = url_password(url);
  if (password.empty()) return url;
  std::string text = url;
  const auto user_part = text.find(":" + password + "@");
  if (user_part != std::string::npos) text.erase(user_part, password.size() + 1);
  const auto key = text.find("password=" + password);
  if (key != std::string::npos) {
    std::size_t from = key, length = 9 + password.size();
    if (key + length < text.size() && text[key + length] == '&') {
      ++length;
    } else if (from > 0 && (text[from - 1] == '&' || text[from - 1] == '?')) {
      --from;
      ++length;
    }
    text.erase(from, length);
  }
  return text;
}

}  // namespace Zelvar_Core::bench::results
