// The connection to a lab's PostgreSQL database through libpq, built as the
// module pravel_postgres_results.so (postgres_module.h).
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bench/results/postgres_module.h"

namespace Zelvar_Core::bench::results {

namespace {

using Clock = std::chrono::steady_clock;

std::string first_line(std::string text) {
  const auto end = text.find('\n');
  if (end != std::string::npos) text.erase(end);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text;
}

std::string scrub(std::string text, const std::string& password) {
  if (password.empty()) return text;
  for (auto at = text.find(password); at != std::string::npos; at = text.find(password, at))
    text.replace(at, password.size(), "***");
  return text;
}

class PostgresConnection : public SqlConnection {
 public:
  PostgresConnection(const std::string& url, PostgresTimeouts timeouts)
      : url_(url),
        where_(url_without_password(url)),
        password_(url_password(url)),
        timeouts_(timeouts) {
    connect();
  }
  ~PostgresConnection() override { drop(); }

  std::int64_t run(const std::string& sql, const std::vector<SqlValue>& params) override {
    PGresult* result = execute(sql, params);
    const char* changed = PQcmdTuples(result);
    const std::int64_t rows = changed && *changed ? std::strtoll(changed, nullptr, 10) : 0;
    PQclear(result);
    return rows;
  }

  std::vector<SqlRow> query(const std::string& sql, const std::vector<SqlValue>& params) override {
    PGresult* result = execute(sql, params);
    const int count = PQntuples(result), columns = PQnfields(result);
    std::vector<SqlRow> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
      SqlRow row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        if (PQgetisnull(result, r, c))
          row.emplace_back(std::monostate{});
        else
          row.emplace_back(std::string(PQgetvalue(result, r, c),
                                       static_cast<std::size_t>(PQgetlength(result, r, c))));
      }
      rows.push_back(std::move(row));
    }
    PQclear(result);
    return rows;
  }

  void begin() override {
    // A connection lost earlier is made again here, and only here: within a
    // transaction a new connection would write outside it.
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      drop();
      connect();
    }
    PQclear(execute("BEGIN", {}));
    in_transaction_ = true;
  }
  void commit() override {
    PQclear(execute("COMMIT", {}));
    in_transaction_ = false;
  }
  void rollback() noexcept override {
    if (in_transaction_ && conn_) {
      try {
        PQclear(execute("ROLLBACK", {}));
      } catch (const std::exception&) {
        drop();
      }
    }
    in_transaction_ = false;
  }
  std::string schema_lock() const override {
    // Two benches starting at once against a new database: one migrates,
    // the other waits and then finds the schema made.
    return "SELECT pg_advisory_xact_lock(31310001)";
  }
  std::string table_exists_sql() const override {
    return "SELECT count(*) FROM information_schema.tables"
           " WHERE table_schema = current_schema() AND table_name = $1";
  }
  std::string where() const override { return where_; }
  std::string kind() const override { return "database"; }

 private:
  void connect() {
    const std::string connect_timeout = std::to_string(timeouts_.connect_seconds);
    const std::string options =
        "-c statement_timeout=" + std::to_string(timeouts_.statement_seconds * 1000);
    const char* keys[] = {"dbname", "connect_timeout", "options", "application_name", nullptr};
    const char* values[] = {url_.c_str(), connect_timeout.c_str(), options.c_str(), "pravel",
                            nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (!conn_) throw SqlFailure("libpq could not allocate a connection");
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string reason = first_line(PQerrorMessage(conn_));
      drop();
      throw SqlFailure(scrub(reason.empty() ? "it does not answer" : reason, password_));
    }
    if (PQsetnonblocking(conn_, 1) != 0) {
      drop();
      throw SqlFailure("its connection cannot be made non-blocking");
    }
  }

  void drop() noexcept {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
  }

  [[noreturn]] void lost(const std::string& reason) {
    drop();
    throw SqlFailure(scrub(reason, password_));
  }

  // Waits for the socket until the deadline; false when it passed.
  bool wait(short events, Clock::time_point deadline) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd fd{PQsocket(conn_), events, 0};
      const int ready = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 1000)));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR)
        lost(std::string("waiting for it failed: ") + std::strerror(errno));
    }
  }

  PGresult* execute(const std::string& sql, const std::vector<SqlValue>& params) {
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      if (in_transaction_) lost("the connection was lost during a transaction");
      drop();
      connect();
    }
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const auto& value = params[i];
      if (auto n = std::get_if<std::int64_t>(&value)) {
        texts[i] = std::to_string(*n);
      } else if (auto d = std::get_if<double>(&value)) {
        if (std::isnan(*d)) continue;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", *d);
        texts[i] = buffer;
      } else if (auto s = std::get_if<std::string>(&value)) {
        texts[i] = *s;
      } else {
        continue;
      }
      values[i] = texts[i].c_str();
    }
    const auto deadline = Clock::now() + std::chrono::seconds(timeouts_.statement_seconds + 5);
    if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                           values.data(), nullptr, nullptr, 0))
      lost(first_line(PQerrorMessage(conn_)));
    for (;;) {
      const int flushed = PQflush(conn_);
      if (flushed == 0) break;
      if (flushed < 0) lost(first_line(PQerrorMessage(conn_)));
      if (!wait(POLLIN | POLLOUT, deadline)) lost(silence());
      if (!PQconsumeInput(conn_)) lost(first_line(PQerrorMessage(conn_)));
    }
    PGresult* last = nullptr;
    for (;;) {
      while (PQisBusy(conn_)) {
        if (!wait(POLLIN, deadline)) {
          PQclear(last);
          lost(silence());
        }
        if (!PQconsumeInput(conn_)) {
          PQclear(last);
          lost(first_line(PQerrorMessage(conn_)));
        }
      }
      PGresult* result = PQgetResult(conn_);
      if (!result) break;
      PQclear(last);
      last = result;
    }
    if (!last) lost(first_line(PQerrorMessage(conn_)));
    const auto status = PQresultStatus(last);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const std::string reason = first_line(PQresultErrorMessage(last));
      PQclear(last);
      if (PQstatus(conn_) != CONNECTION_OK) lost(reason);
      throw SqlFailure(scrub(reason, password_));
    }
    return last;
  }

  std::string silence() const {
    return "it did not answer within " + std::to_string(timeouts_.statement_seconds + 5) + " s";
  }

  std::string url_, where_, password_;
  PostgresTimeouts timeouts_;
  PGconn* conn_ = nullptr;
  bool in_transaction_ = false;
};

}  // namespace

}  // namespace Zelvar_Core::bench::results

extern "C" __attribute__((visibility("default"))) void zelvar_open_postgres_connection(
    const std::string& url, const Zelvar_Core::bench::results::PostgresTimeouts& timeouts,
    std::unique_ptr<Zelvar_Core::bench::results::SqlConnection>& connection) {
  connection = std::make_unique<Zelvar_Core::bench::results::PostgresConnection>(url, timeouts);
}

// The entry point has the type the bench calls it by.
static_assert(std::is_same_v<decltype(&zelvar_open_postgres_connection),
                             Zelvar_Core::bench::results::OpenPostgresConnection>);
