#include "bench/results/record_store.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Zelvar_Core::bench::results {

namespace {

// One outcome column's check, the same in every table.
std::string outcome_check(const std::string& column) {
  return "CHECK (" + column + " IN ('PASS', 'FAIL', 'ERROR', 'ABORTED', 'INCOMPLETE'))";
}

// Where the filter's fields are set, its conditions on the runs table
// (aliased r), and their values as parameters numbered from `next`.
std::string filter_sql(const RunFilter& filter, std::vector<SqlValue>& params) {
  std::string sql;
  auto add = [&](const std::string& condition, SqlValue value) {
    params.push_back(std::move(value));
    sql += " AND " + condition + " $" + std::to_string(params.size());
  };
  if (!filter.dut.empty()) add("r.dut =", filter.dut);
  if (!filter.sequence.empty()) add("r.sequence_name =", filter.sequence);
  if (filter.outcome) add("r.outcome =", std::string(outcome_text(*filter.outcome)));
  if (filter.from) add("r.started >=", *filter.from);
  if (filter.to) add("r.started <", *filter.to);
  return sql;
}

SqlValue optional_real(const std::optional<double>& value) {
  if (!value || std::isnan(*value)) return std::monostate{};
  return *value;
}

std::optional<double> real_or_none(const SqlValue& value) {
  if (sql_null(value)) return std::nullopt;
  return sql_real(value);
}

Outcome outcome_of(const SqlValue& value) {
  return outcome_named(sql_text(value)).value_or(Outcome::Incomplete);
}

}  // namespace

std::int64_t sql_int(const SqlValue& value) {
  if (auto i = std::get_if<std::int64_t>(&value)) return *i;
  if (auto d = std::get_if<double>(&value)) return static_cast<std::int64_t>(*d);
  if (auto s = std::get_if<std::string>(&value)) return std::strtoll(s->c_str(), nullptr, 10);
  return 0;
}

double sql_real(const SqlValue& value) {
  if (auto d = std::get_if<double>(&value)) return *d;
  if (auto i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (auto s = std::get_if<std::string>(&value)) return std::strtod(s->c_str(), nullptr);
  return std::nan("");
}

std::string sql_text(const SqlValue& value) {
  if (auto s = std::get_if<std::string>(&value)) return *s;
  if (auto i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&value)) return std::to_string(*d);
  return "";
}

bool sql_null(const SqlValue& value) { return std::holds_alternative<std::monostate>(value); }

std::string sequence_name_of(const std::string& sequence_path) {
  const auto slash = sequence_path.find_last_of('/');
  return slash == std::string::npos ? sequence_path : sequence_path.substr(slash + 1);
}

const std::vector<std::vector<std::string>>& schema_migrations() {
  // The types are written so that SQLite and PostgreSQL read them alike:
  // BIGINT is SQLite's INTEGER, DOUBLE PRECISION its REAL.
  static const std::vector<std::vector<std::string>> migrations = {
      // 1: the records.
      {"CREATE TABLE runs ("
       " run_id TEXT PRIMARY KEY,"
       " kind TEXT NOT NULL,"
       " started BIGINT NOT NULL,"
       " ended BIGINT NOT NULL,"
       " station TEXT NOT NULL,"
       " operator TEXT NOT NULL,"
       " dut TEXT NOT NULL,"
       " board_identity TEXT NOT NULL,"
       " board_serial TEXT NOT NULL,"
       " design TEXT NOT NULL,"
       " sequence_path TEXT NOT NULL,"
       " sequence_name TEXT NOT NULL,"
       " sequence_sha256 TEXT NOT NULL,"
       " bench_version TEXT NOT NULL,"
       " outcome TEXT NOT NULL " +
           outcome_check("outcome") +
           ","
           " ended_because TEXT NOT NULL)",
       "CREATE TABLE settings ("
       " run_id TEXT NOT NULL REFERENCES runs (run_id) ON DELETE CASCADE,"
       " position INTEGER NOT NULL,"
       " name TEXT NOT NULL,"
       " value TEXT NOT NULL,"
       " PRIMARY KEY (run_id, position))",
       "CREATE TABLE steps ("
       " run_id TEXT NOT NULL REFERENCES runs (run_id) ON DELETE CASCADE,"
       " number INTEGER NOT NULL,"
       " kind TEXT NOT NULL,"
       " what TEXT NOT NULL,"
       " outcome TEXT NOT NULL " +
           outcome_check("outcome") +
           ","
           " started BIGINT NOT NULL,"
           " ended BIGINT NOT NULL,"
           " PRIMARY KEY (run_id, number))",
       "CREATE TABLE measurements ("
       " run_id TEXT NOT NULL REFERENCES runs (run_id) ON DELETE CASCADE,"
       " position INTEGER NOT NULL,"
       " step INTEGER NOT NULL,"
       " name TEXT NOT NULL,"
       " value DOUBLE PRECISION,"
       " unit TEXT NOT NULL,"
       " low DOUBLE PRECISION,"
       " high DOUBLE PRECISION,"
       " outcome TEXT NOT NULL " +
           outcome_check("outcome") +
           ","
           " PRIMARY KEY (run_id, position))",
       "CREATE TABLE files ("
       " run_id TEXT NOT NULL REFERENCES runs (run_id) ON DELETE CASCADE,"
       " position INTEGER NOT NULL,"
       " role TEXT NOT NULL,"
       " path TEXT NOT NULL,"
       " size BIGINT NOT NULL,"
       " sha256 TEXT NOT NULL,"
       " PRIMARY KEY (run_id, position))",
       // The Results window's filters and its measurement across runs.
       "CREATE INDEX runs_started ON runs (started)",
       "CREATE INDEX runs_dut ON runs (dut, started)",
       "CREATE INDEX runs_sequence ON runs (sequence_name, started)",
       "CREATE INDEX runs_outcome ON runs (outcome, started)",
       "CREATE INDEX measurements_name ON measurements (name, run_id)"},
      // 2: the outbox of a bench that sends its records on to a lab's database.
      {"CREATE TABLE outbox ("
       " run_id TEXT PRIMARY KEY REFERENCES runs (run_id) ON DELETE CASCADE,"
       " kept BIGINT NOT NULL)"},
  };
  return migrations;
}

int schema_version() { return static_cast<int>(schema_migrations().size()); }

RecordStore::RecordStore(std::unique_ptr<SqlConnection> connection)
    : connection_(std::move(connection)) {
  auto& db = *connection_;
  int version = 0;
  try {
    db.begin();
    const std::string lock = db.schema_lock();
    if (!lock.empty()) db.query(lock, {});
    if (sql_int(db.query(db.table_exists_sql(), {std::string("schema_version")}).at(0).at(0)) == 0)
      db.run("CREATE TABLE schema_version (version INTEGER NOT NULL)", {});
    const auto rows = db.query("SELECT version FROM schema_version", {});
    if (rows.empty()) {
      db.run("INSERT INTO schema_version (version) VALUES (0)", {});
    } else {
      version = static_cast<int>(sql_int(rows.front().at(0)));
    }
    if (version > schema_version()) {
      db.rollback();
      throw ResultsError("The results " + db.kind() + " " + db.where() +
                         " holds its records in schema version " + std::to_string(version) +
                         ", newer than this bench reads (" + std::to_string(schema_version()) +
                         "): use a newer bench or another results " + db.kind() + ".");
    }
    const auto& migrations = schema_migrations();
    for (int next = version; next < schema_version(); ++next)
      for (const auto& statement : migrations[static_cast<std::size_t>(next)])
        db.run(statement, {});
    if (version < schema_version())
      db.run("UPDATE schema_version SET version = $1", {std::int64_t{schema_version()}});
    db.commit();
  } catch (const ResultsError&) {
    throw;
  } catch (const std::exception& error) {
    db.rollback();
    fail("be opened", error);
  }
}

void RecordStore::fail(const std::string& doing, const std::exception& error) const {
  std::string reason = error.what();
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.' || reason.back() == ' '))
    reason.pop_back();
  throw ResultsError("The results " + connection_->kind() + " " + connection_->where() +
                     " cannot " + doing + ": " + reason + ".");
}

std::string RecordStore::where() const { return connection_->where(); }

void RecordStore::save(const TestRecord& record) { save_record(record, false); }

bool RecordStore::save_pending(const TestRecord& record) { return save_record(record, true); }

void RecordStore::replace(const TestRecord& record) { save_record(record, false, true); }

void RecordStore::replace_pending(const TestRecord& record) { save_record(record, true, true); }

bool RecordStore::save_record(const TestRecord& r, bool pending, bool replace) {
  if (r.run_id.empty()) throw ResultsError("A test record without a run id cannot be kept.");
  std::lock_guard lock(mutex_);
  auto& db = *connection_;
  try {
    db.begin();
    // A run kept as INCOMPLETE (saved while it ran) gives way to the same
    // run saved again, any run to a replace; a run kept with its outcome is
    // otherwise never changed. One still waiting to be sent still waits.
    const auto kept = db.query("SELECT outcome FROM runs WHERE run_id = $1", {r.run_id});
    if (!kept.empty()) {
      if (!replace && sql_text(kept.front().at(0)) != outcome_text(Outcome::Incomplete)) {
        db.commit();
        return false;
      }
      pending = pending || !db.query("SELECT 1 FROM outbox WHERE run_id = $1", {r.run_id}).empty();
      for (const char* table : {"outbox", "files", "measurements", "steps", "settings", "runs"})
        db.run(std::string("DELETE FROM ") + table + " WHERE run_id = $1", {r.run_id});
    }
    const auto added = db.run(
        "INSERT INTO runs (run_id, kind, started, ended, station, operator, dut, board_identity,"
        " board_serial, design, sequence_path, sequence_name, sequence_sha256, bench_version,"
        " outcome, ended_because) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12,"
        " $13, $14, $15, $16) ON CONFLICT (run_id) DO NOTHING",
        {r.run_id, r.kind, r.started, r.ended, r.station, r.operator_name, r.dut, r.board_identity,
         r.board_serial, r.design, r.sequence_path, sequence_name_of(r.sequence_path),
         r.sequence_sha256, r.bench_version, std::string(outcome_text(r.outcome)),
         r.ended_because});
    if (added == 0) {
      db.commit();
      return false;
    }
    std::int64_t position = 0;
    for (const auto& [name, value] : r.settings_before)
      db.run("INSERT INTO settings (run_id, position, name, value) VALUES ($1, $2, $3, $4)",
             {r.run_id, ++position, name, value});
    for (const auto& step : r.steps)
      db.run(
          "INSERT INTO steps (run_id, number, kind, what, outcome, started, ended)"
          " VALUES ($1, $2, $3, $4, $5, $6, $7)",
          {r.run_id, std::int64_t{step.number}, step.kind, step.what,
           std::string(outcome_text(step.outcome)), step.started, step.ended});
    position = 0;
    for (const auto& m : r.measurements)
      db.run(
          "INSERT INTO measurements (run_id, position, step, name, value, unit, low, high,"
          " outcome) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
          {r.run_id, ++position, std::int64_t{m.step}, m.name, optional_real(m.value), m.unit,
           optional_real(m.low), optional_real(m.high), std::string(outcome_text(m.outcome))});
    position = 0;
    for (const auto& f : r.files)
      db.run(
          "INSERT INTO files (run_id, position, role, path, size, sha256)"
          " VALUES ($1, $2, $3, $4, $5, $6)",
          {r.run_id, ++position, f.role, f.path, static_cast<std::int64_t>(f.size), f.sha256});
    if (pending)
      db.run("INSERT INTO outbox (run_id, kept) VALUES ($1, $2)", {r.run_id, utc_now_micros()});
    db.commit();
    return true;
  } catch (const std::exception& error) {
    db.rollback();
    fail((replace ? "replace the run " : "keep the run ") + r.run_id, error);
  }
}

std::vector<RunSummary> RecordStore::list(const RunFilter& filter) {
  std::lock_guard lock(mutex_);
  std::vector<SqlValue> params;
  const std::string sql =
      "SELECT r.run_id, r.started, r.dut, r.station, r.sequence_name, r.kind, r.outcome"
      " FROM runs r WHERE 1 = 1" +
      filter_sql(filter, params) + " ORDER BY r.started DESC, r.run_id DESC";
  try {
    const auto rows = connection_->query(sql, params);
    std::vector<RunSummary> runs;
    runs.reserve(rows.size());
    for (const auto& row : rows)
      runs.push_back({sql_text(row[0]), sql_int(row[1]), sql_text(row[2]), sql_text(row[3]),
                      sql_text(row[4]), sql_text(row[5]), outcome_of(row[6])});
    return runs;
  } catch (const std::exception& error) {
    fail("list its runs", error);
  }
}

std::optional<TestRecord> RecordStore::load(const std::string& run_id) {
  std::lock_guard lock(mutex_);
  auto& db = *connection_;
  try {
    // One transaction, so that the record read is one a save left whole.
    db.begin();
    const auto runs = db.query(
        "SELECT run_id, kind, started, ended, station, operator, dut, board_identity,"
        " board_serial, design, sequence_path, sequence_sha256, bench_version, outcome,"
        " ended_because FROM runs WHERE run_id = $1",
        {run_id});
    if (runs.empty()) {
      db.commit();
      return std::nullopt;
    }
    const auto& row = runs.front();
    TestRecord r;
    r.run_id = sql_text(row[0]);
    r.kind = sql_text(row[1]);
    r.started = sql_int(row[2]);
    r.ended = sql_int(row[3]);
    r.station = sql_text(row[4]);
    r.operator_name = sql_text(row[5]);
    r.dut = sql_text(row[6]);
    r.board_identity = sql_text(row[7]);
    r.board_serial = sql_text(row[8]);
    r.design = sql_text(row[9]);
    r.sequence_path = sql_text(row[10]);
    r.sequence_sha256 = sql_text(row[11]);
    r.bench_version = sql_text(row[12]);
    r.outcome = outcome_of(row[13]);
    r.ended_because = sql_text(row[14]);
    for (const auto& s :
         db.query("SELECT name, value FROM settings WHERE run_id = $1 ORDER BY position", {run_id}))
      r.settings_before.emplace_back(sql_text(s[0]), sql_text(s[1]));
    for (const auto& s :
         db.query("SELECT number, kind, what, outcome, started, ended FROM steps WHERE run_id = $1"
                  " ORDER BY number",
                  {run_id}))
      r.steps.push_back({static_cast<int>(sql_int(s[0])), sql_text(s[1]), sql_text(s[2]),
                         outcome_of(s[3]), sql_int(s[4]), sql_int(s[5])});
    for (const auto& m :
         db.query("SELECT step, name, value, unit, low, high, outcome FROM measurements"
                  " WHERE run_id = $1 ORDER BY position",
                  {run_id}))
      r.measurements.push_back({static_cast<int>(sql_int(m[0])), sql_text(m[1]), sql_real(m[2]),
                                sql_text(m[3]), real_or_none(m[4]), real_or_none(m[5]),
                                outcome_of(m[6])});
    for (const auto& f :
         db.query("SELECT role, path, size, sha256 FROM files WHERE run_id = $1 ORDER BY position",
                  {run_id}))
      r.files.push_back({sql_text(f[0]), sql_text(f[1]), static_cast<std::uint64_t>(sql_int(f[2])),
                         sql_text(f[3])});
    db.commit();
    return r;
  } catch (const std::exception& error) {
    db.rollback();
    fail("read the run " + run_id, error);
  }
}

std::vector<MeasurementPoint> RecordStore::measurement(const std::string& name,
                                                       const RunFilter& filter) {
  std::lock_guard lock(mutex_);
  std::vector<SqlValue> params{name};
  const std::string sql =
      "SELECT r.run_id, r.started, r.dut, m.value, m.unit, m.low, m.high, m.outcome"
      " FROM measurements m JOIN runs r ON r.run_id = m.run_id WHERE m.name = $1" +
      filter_sql(filter, params) + " ORDER BY r.started, r.run_id, m.position";
  try {
    const auto rows = connection_->query(sql, params);
    std::vector<MeasurementPoint> points;
    points.reserve(rows.size());
    for (const auto& row : rows)
      points.push_back({sql_text(row[0]), sql_int(row[1]), sql_text(row[2]), sql_real(row[3]),
                        sql_text(row[4]), real_or_none(row[5]), real_or_none(row[6]),
                        outcome_of(row[7])});
    return points;
  } catch (const std::exception& error) {
    fail("read the measurement " + name, error);
  }
}

std::vector<std::string> RecordStore::measurement_names(const RunFilter& filter) {
  std::lock_guard lock(mutex_);
  std::vector<SqlValue> params;
  const std::string sql =
      "SELECT DISTINCT m.name FROM measurements m JOIN runs r ON r.run_id = m.run_id"
      " WHERE 1 = 1" +
      filter_sql(filter, params);
  try {
    std::vector<std::string> names;
    for (const auto& row : connection_->query(sql, params)) names.push_back(sql_text(row[0]));
    // Sorted here: the databases' collations differ.
    std::sort(names.begin(), names.end());
    return names;
  } catch (const std::exception& error) {
    fail("list its measurements", error);
  }
}

std::vector<std::string> RecordStore::pending() {
  std::lock_guard lock(mutex_);
  try {
    std::vector<std::string> ids;
    for (const auto& row :
         connection_->query("SELECT run_id FROM outbox ORDER BY kept, run_id", {}))
      ids.push_back(sql_text(row[0]));
    return ids;
  } catch (const std::exception& error) {
    fail("list the runs it keeps for the lab's database", error);
  }
}

void RecordStore::mark_sent(const std::string& run_id) {
  std::lock_guard lock(mutex_);
  try {
    connection_->run("DELETE FROM outbox WHERE run_id = $1", {run_id});
  } catch (const std::exception& error) {
    fail("mark the run " + run_id + " as sent", error);
  }
}

void RecordStore::ping() {
  std::lock_guard lock(mutex_);
  try {
    connection_->query("SELECT version FROM schema_version", {});
  } catch (const std::exception& error) {
    fail("be read", error);
  }
}

}  // namespace Zelvar_Core::bench::results
