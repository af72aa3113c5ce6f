// The little the results store needs of a SQL database: statements with
// numbered parameters ($1, $2, ...; values are never written into the SQL),
// rows back, and transactions. The SQLite file and the PostgreSQL database
// each provide one, so both keep records with the same statements.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace Zelvar_Core::bench::results {

// NULL, an integer, a real number or a text. A NaN real is kept as NULL.
using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;
using SqlRow = std::vector<SqlValue>;

// A statement failed; what() is the database's own reason, without a password.
class SqlFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  // Runs `sql` with `params`; returns the number of rows it changed.
  virtual std::int64_t run(const std::string& sql, const std::vector<SqlValue>& params) = 0;
  virtual std::vector<SqlRow> query(const std::string& sql,
                                    const std::vector<SqlValue>& params) = 0;
  // A transaction that holds the store for writing from its start.
  virtual void begin() = 0;
  virtual void commit() = 0;
  // Never throws: called while another failure is on its way out.
  virtual void rollback() noexcept = 0;
  // A statement that, inside a transaction, keeps any other bench from
  // changing the schema at the same time; "" when begin() already does.
  virtual std::string schema_lock() const = 0;
  // The file's path or the database's address without its password.
  virtual std::string where() const = 0;
  // "file" or "database", for sentences.
  virtual std::string kind() const = 0;
};

std::int64_t sql_int(const SqlValue& value);
double sql_real(const SqlValue& value);  // NaN for NULL
std::string sql_text(const SqlValue& value);
bool sql_null(const SqlValue& value);

}  // namespace Zelvar_Core::bench::results
