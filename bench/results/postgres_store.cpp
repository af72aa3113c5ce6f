#include "bench/results/postgres_store.h"

#include <mutex>

#include "bench/modules/module_loader.h"
#include "bench/results/postgres_module.h"

namespace Zelvar_Core::bench::results {

namespace {

// The module's entry, loaded the first time a database is opened and kept
// for the life of the process (its connections run its code until the
// end); nullptr, with the reason in `why`, while it cannot be loaded, and
// looked for again at the next opening.
OpenPostgresConnection module_entry(std::string& why) {
  static std::mutex loading;
  static OpenPostgresConnection entry = nullptr;
  const std::lock_guard lock(loading);
  if (entry) return entry;
  std::string said;
  if (void* found = load_module_entry(kPostgresModuleName, kOpenPostgresConnection, said)) {
    entry = reinterpret_cast<OpenPostgresConnection>(found);
    return entry;
  }
  why = said == "it is not installed"
            ? "the PostgreSQL module is not installed"
            : "the PostgreSQL module " + std::string(kPostgresModuleName) + " cannot be loaded (" +
                  said + ")";
  return nullptr;
}

}  // namespace

bool postgres_module_loads(std::string& why) { return module_entry(why) != nullptr; }

std::unique_ptr<SqlConnection> open_postgres_connection(const std::string& url,
                                                        PostgresTimeouts timeouts) {
  if (!is_postgres_url(url))
    throw ResultsError("The results database " + url_without_password(url) +
                       " is not a postgresql:// address.");
  std::string why;
  const OpenPostgresConnection open = module_entry(why);
  if (!open)
    throw ResultsError("The results database " + url_without_password(url) +
                       " cannot be opened: " + why + ".");
  std::unique_ptr<SqlConnection> connection;
  try {
    open(url, timeouts, connection);
  } catch (const SqlFailure& failure) {
    throw ResultsError("The results database " + url_without_password(url) +
                       " cannot be opened: " + failure.what() + ".");
  }
  return connection;
}

std::unique_ptr<RecordStore> open_postgres_store(const std::string& url,
                                                 PostgresTimeouts timeouts) {
  return std::make_unique<RecordStore>(open_postgres_connection(url, timeouts));
}

}  // namespace Zelvar_Core::bench::results
