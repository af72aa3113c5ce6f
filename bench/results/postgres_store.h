// A lab's shared results database: PostgreSQL through libpq, the same schema
// and statements as the bench's file. Every value goes as a parameter, a
// frozen server is noticed by a deadline on each call, and the address the
// messages show never holds the URL's password. The connection itself is in
// a module (postgres_module.h) loaded the first time a database is opened:
// when it cannot be loaded, opening throws ResultsError saying so.
#pragma once

#include <memory>
#include <string>

#include "bench/results/record_store.h"

namespace Zelvar_Core::bench::results {

struct PostgresTimeouts {
  int connect_seconds = 10;  // the whole connection, each time one is made
  // The server ends a statement running longer; the bench drops the
  // connection when no answer at all comes this long after that.
  int statement_seconds = 30;
};

// True for "postgresql://..." and "postgres://...".
bool is_postgres_url(const std::string& text);
// The URL without its password (in the user part or a password= parameter).
std::string url_without_password(const std::string& url);

// Connects, and brings the database's schema up to date. Throws ResultsError
// naming the database (without its password) when it does not answer, refuses
// or holds a newer schema.
std::unique_ptr<RecordStore> open_postgres_store(const std::string& url,
                                                 PostgresTimeouts timeouts = {});
// The connection alone, for the tests and the benchmarks that prepare a
// database (CREATE DATABASE runs outside a transaction).
std::unique_ptr<SqlConnection> open_postgres_connection(const std::string& url,
                                                        PostgresTimeouts timeouts = {});

}  // namespace Zelvar_Core::bench::results
