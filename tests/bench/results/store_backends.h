// The stores the results tests run on: a SQLite file in a scratch folder,
// and a database of its own on the throwaway PostgreSQL server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/results/record_store.h"
#include "bench/results/sqlite_store.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::testing_support {

class StoreBackend {
 public:
  virtual ~StoreBackend() = default;
  virtual std::unique_ptr<bench::results::RecordStore> open() = 0;
  // The rows a table holds, counted past the store.
  virtual std::int64_t rows_in(const std::string& table) = 0;
};

class SqliteBackend : public StoreBackend {
 public:
  std::unique_ptr<bench::results::RecordStore> open() override {
    return bench::results::open_sqlite_store(path());
  }
  std::int64_t rows_in(const std::string& table) override {
    auto db = bench::results::open_sqlite_connection(path());
    return bench::results::sql_int(db->query("SELECT count(*) FROM " + table, {}).at(0).at(0));
  }
  std::string path() const { return folder_.file("results.db"); }

 private:
  ScratchFolder folder_;
};

inline std::vector<std::string> store_backend_names() { return {"SQLite"}; }

inline std::unique_ptr<StoreBackend> make_store_backend(const std::string& name) {
  if (name == "SQLite") return std::make_unique<SqliteBackend>();
  throw std::runtime_error("no store named " + name);
}

}  // namespace Zelvar_Core::testing_support
