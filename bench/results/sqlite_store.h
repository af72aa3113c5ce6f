// The bench's own results file: SQLite, in WAL mode, each record written in
// one transaction, so that a bench killed at any moment leaves either the
// whole run or none of it.
#pragma once

#include <memory>
#include <string>

#include "bench/results/record_store.h"

namespace Zelvar_Core::bench::results {

// Opens (making it on first use) the results file at `path` and brings its
// schema up to date. Throws ResultsError, one sentence naming the file,
// when it cannot be opened, written or read, or holds a newer schema.
std::unique_ptr<RecordStore> open_sqlite_store(const std::string& path);

// The connection under it, for the tests that build an older file by hand.
std::unique_ptr<SqlConnection> open_sqlite_connection(const std::string& path);

}  // namespace Zelvar_Core::bench::results
