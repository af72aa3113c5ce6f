// The lab's PostgreSQL database as a module of its own, loaded the first
// time a "postgresql://" store is opened: libpq and the many libraries it
// needs in turn (TLS, Kerberos, LDAP among them) are then loaded with it,
// and a bench that keeps its records only in its own file never loads them.
//
// The module exports one function, kOpenPostgresConnection, of type
// OpenPostgresConnection; everything else in it is hidden.
#pragma once

#include <memory>
#include <string>

#include "bench/results/postgres_store.h"
#include "bench/results/sql_connection.h"

namespace Zelvar_Core::bench::results {

// Sets `connection` to a connection to the database at `url`, made at
// once; throws SqlFailure with the reason (without the password) when it
// cannot be made.
using OpenPostgresConnection = void (*)(const std::string& url, const PostgresTimeouts& timeouts,
                                        std::unique_ptr<SqlConnection>& connection);
inline constexpr char kOpenPostgresConnection[] = "zelvar_open_postgres_connection";

// The module's file name; it is looked for where the bench's other modules
// are: beside the program, in the lib folder beside the program's folder,
// and in the package's own folder under it.
inline constexpr char kPostgresModuleName[] = "pravel_postgres_results.so";

// Loads the module when it is not loaded yet; false, with the reason in
// `why` ("the PostgreSQL module is not installed", ...), when it cannot be.
bool postgres_module_loads(std::string& why);

// The password `url` holds, in its user part or a password= parameter; ""
// when none.
std::string url_password(const std::string& url);

}  // namespace Zelvar_Core::bench::results
