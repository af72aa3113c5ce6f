// The stores the results tests run on: a SQLite file in a scratch folder,
// and a database of its own on the throwaway PostgreSQL server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/results/postgres_store.h"
#include "bench/results/record_store.h"
#include "bench/results/sqlite_store.h"
#include "tests/support/postgres_server.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::testing_support {

class StoreBackend {
 public:
  virtual ~StoreBackend() = default;
  virtual std::unique_ptr<bench::results::RecordStore> open() = 0;
  // The rows a table holds, counted past the store.
  virtual std::int64_t rows_in(const std::string& table) = 0;
  // A connection past the store, for files and databases made by hand.
  virtual std::unique_ptr<bench::results::SqlConnection> raw() = 0;
};

class SqliteBackend : public StoreBackend {
 public:
  std::unique_ptr<bench::results::RecordStore> open() override {
    return bench::results::open_sqlite_store(path());
  }
  std::int64_t rows_in(const std::string& table) override {
    return bench::results::sql_int(raw()->query("SELECT count(*) FROM " + table, {}).at(0).at(0));
  }
  std::unique_ptr<bench::results::SqlConnection> raw() override {
    return bench::results::open_sqlite_connection(path());
  }
  std::string path() const { return folder_.file("results.db"); }

 private:
  ScratchFolder folder_;
};

// One server for the whole test program, started by the first test that
// needs it; each test has a fresh database of its own on it.
inline PostgresServer& shared_postgres_server() {
  static PostgresServer server;
  return server;
}

class PostgresBackend : public StoreBackend {
 public:
  PostgresBackend() {
    static int made = 0;
    database_ = "results_" + std::to_string(getpid()) + "_" + std::to_string(++made);
    auto admin = bench::results::open_postgres_connection(shared_postgres_server().url());
    admin->run("CREATE DATABASE " + database_, {});
  }
  std::unique_ptr<bench::results::RecordStore> open() override {
    return bench::results::open_postgres_store(url());
  }
  std::int64_t rows_in(const std::string& table) override {
    return bench::results::sql_int(raw()->query("SELECT count(*) FROM " + table, {}).at(0).at(0));
  }
  std::unique_ptr<bench::results::SqlConnection> raw() override {
    return bench::results::open_postgres_connection(url());
  }
  std::string url() const { return shared_postgres_server().url(database_); }

 private:
  std::string database_;
};

inline std::vector<std::string> store_backend_names() { return {"SQLite", "PostgreSQL"}; }

inline std::unique_ptr<StoreBackend> make_store_backend(const std::string& name) {
  if (name == "SQLite") return std::make_unique<SqliteBackend>();
  if (name == "PostgreSQL") return std::make_unique<PostgresBackend>();
  throw std::runtime_error("no store named " + name);
}

}  // namespace Zelvar_Core::testing_support
