#include "bench/results/sqlite_store.h"

#include <sqlite3.h>

#include <cmath>
#include <map>

namespace Zelvar_Core::bench::results {

namespace {

// How long a writer waits for another process's transaction (another bench,
// a script reading the file) before it gives up.
constexpr int busy_timeout_ms = 10000;

class SqliteConnection : public SqlConnection {
 public:
  explicit SqliteConnection(const std::string& path) : path_(path) {
    const int opened = sqlite3_open_v2(
        path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    if (opened != SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(opened);
      sqlite3_close(db_);
      db_ = nullptr;
      throw SqlFailure(reason);
    }
    sqlite3_extended_result_codes(db_, 1);
    check(sqlite3_busy_timeout(db_, busy_timeout_ms));
    execute("PRAGMA foreign_keys = ON");
    // WAL: readers (the Results window, a script) never block the bench's
    // writes; FULL: a committed run survives a power cut too.
    const auto mode = query("PRAGMA journal_mode = WAL", {});
    if (mode.empty() || sql_text(mode.front().at(0)) != "wal")
      throw SqlFailure("it cannot be put in write-ahead-log mode");
    execute("PRAGMA synchronous = FULL");
  }

  ~SqliteConnection() override {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }

  std::int64_t run(const std::string& sql, const std::vector<SqlValue>& params) override {
    sqlite3_stmt* statement = prepare(sql, params);
    const int stepped = step_to_end(statement, nullptr);
    if (stepped != SQLITE_DONE) fail_with(stepped);
    return sqlite3_changes64(db_);
  }

  std::vector<SqlRow> query(const std::string& sql, const std::vector<SqlValue>& params) override {
    sqlite3_stmt* statement = prepare(sql, params);
    std::vector<SqlRow> rows;
    const int stepped = step_to_end(statement, &rows);
    if (stepped != SQLITE_DONE) fail_with(stepped);
    return rows;
  }

  void begin() override { execute("BEGIN IMMEDIATE"); }
  void commit() override { execute("COMMIT"); }
  void rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  std::string schema_lock() const override { return ""; }
  std::string where() const override { return path_; }
  std::string kind() const override { return "file"; }

 private:
  void execute(const char* sql) {
    char* message = nullptr;
    const int done = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (done != SQLITE_OK) {
      const std::string reason = message ? message : sqlite3_errstr(done);
      sqlite3_free(message);
      throw SqlFailure(reason);
    }
  }

  void check(int code) {
    if (code != SQLITE_OK) fail_with(code);
  }

  [[noreturn]] void fail_with(int code) {
    const char* message = sqlite3_errmsg(db_);
    throw SqlFailure(message && *message ? message : sqlite3_errstr(code));
  }

  // A statement prepared once per text and kept, its parameters bound anew.
  sqlite3_stmt* prepare(const std::string& sql, const std::vector<SqlValue>& params) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
      sqlite3_stmt* statement = nullptr;
      const int prepared = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size() + 1),
                                              SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
      if (prepared != SQLITE_OK) fail_with(prepared);
      found = statements_.emplace(sql, statement).first;
    }
    sqlite3_stmt* statement = found->second;
    sqlite3_reset(statement);
    check(sqlite3_clear_bindings(statement));
    if (sqlite3_bind_parameter_count(statement) != static_cast<int>(params.size()))
      throw SqlFailure("a statement was given " + std::to_string(params.size()) + " values for " +
                       std::to_string(sqlite3_bind_parameter_count(statement)) + " parameters");
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int index = static_cast<int>(i + 1);
      const auto& value = params[i];
      int bound = SQLITE_OK;
      if (auto n = std::get_if<std::int64_t>(&value)) {
        bound = sqlite3_bind_int64(statement, index, *n);
      } else if (auto d = std::get_if<double>(&value)) {
        bound = std::isnan(*d) ? sqlite3_bind_null(statement, index)
                               : sqlite3_bind_double(statement, index, *d);
      } else if (auto s = std::get_if<std::string>(&value)) {
        bound = sqlite3_bind_text64(statement, index, s->data(), s->size(), SQLITE_TRANSIENT,
                                    SQLITE_UTF8);
      } else {
        bound = sqlite3_bind_null(statement, index);
      }
      check(bound);
    }
    return statement;
  }

  int step_to_end(sqlite3_stmt* statement, std::vector<SqlRow>* rows) {
    for (;;) {
      const int stepped = sqlite3_step(statement);
      if (stepped != SQLITE_ROW) {
        sqlite3_reset(statement);
        return stepped;
      }
      if (!rows) continue;
      const int columns = sqlite3_column_count(statement);
      SqlRow row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(statement, c)) {
          case SQLITE_INTEGER:
            row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(statement, c)));
            break;
          case SQLITE_FLOAT:
            row.emplace_back(sqlite3_column_double(statement, c));
            break;
          case SQLITE_NULL:
            row.emplace_back(std::monostate{});
            break;
          default: {
            const auto* text = sqlite3_column_text(statement, c);
            row.emplace_back(
                std::string(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
          }
        }
      }
      rows->push_back(std::move(row));
    }
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

std::unique_ptr<SqlConnection> open_sqlite_connection(const std::string& path) {
  try {
    return std::make_unique<SqliteConnection>(path);
  } catch (const SqlFailure& failure) {
    throw ResultsError("The results file " + path + " cannot be opened: " + failure.what() + ".");
  }
}

std::unique_ptr<RecordStore> open_sqlite_store(const std::string& path) {
  return std::make_unique<RecordStore>(open_sqlite_connection(path));
}

}  // namespace Zelvar_Core::bench::results
