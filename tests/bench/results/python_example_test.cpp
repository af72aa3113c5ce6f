// The Python example a chip team starts from, run as they run it on a store
// the bench made: one measurement across chips, with the standard library only.
#include <gtest/gtest.h>

#include <cstdio>

#include "bench/results/sqlite_store.h"
#include "tests/support/results_fixture.h"

namespace Zelvar_Core::bench::results {
namespace {

std::string output_of(const std::string& command, int& status) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "popen failed";
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, got);
  status = pclose(pipe);
  return out;
}

TEST(ResultsPythonExample, PrintsOneMeasurementPerChipFromTheBenchsFile) {
  testing_support::ScratchFolder folder;
  const std::string path = folder.file("results.db");
  {
    auto store = open_sqlite_store(path);
    store->save(testing_support::full_record(0, "chip-a"));
    store->save(testing_support::full_record(1, "chip-a"));
    TestRecord high = testing_support::full_record(2, "chip-b");
    high.measurements[0].value = 1.95;
    high.measurements[0].outcome = Outcome::Fail;
    store->save(high);
    TestRecord other = testing_support::full_record(3, "chip-c");
    other.sequence_path = "/lab/sequences/other.json";
    store->save(other);
  }
  const std::string script =
      std::string(ZELVAR_SOURCE_DIR) + "/examples/results/plot_measurement.py";
  int status = -1;
  const std::string out = output_of(
      "python3 '" + script + "' '" + path + "' vdd_mean --sequence bias_check.json 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "vdd_mean (V) in 3 runs on 2 chips\n"
            "dut\truns\tlowest\tmean\thighest\tlast\tlow limit\thigh limit\tfailed\n"
            "chip-a\t2\t1.8\t1.8005\t1.801\t1.801\t1.7\t1.9\t0\n"
            "chip-b\t1\t1.95\t1.95\t1.95\t1.95\t1.7\t1.9\t1\n");
  const std::string none =
      output_of("python3 '" + script + "' '" + path + "' no_such 2>&1", status);
  EXPECT_NE(status, 0);
  EXPECT_EQ(none, "No run in " + path + " measured no_such.\n");
}

}  // namespace
}  // namespace Zelvar_Core::bench::results
