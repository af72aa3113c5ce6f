#include "bench/results/sqlite_store.h"

namespace Zelvar_Core::bench::results {

std::unique_ptr<ResultsStore> open_bench_results(const std::string& data_folder,
                                                 const std::string& shared,
                                                 std::function<void(const std::string&)> tell) {
  (void)shared;
  (void)tell;
  return open_sqlite_store(data_folder + "/results.db");
}

}  // namespace Zelvar_Core::bench::results
