// What the results tests share: a folder of their own, removed after, and
// test records with every field filled, so that a field the store loses or
// mixes up shows.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench/results/test_record.h"

namespace Zelvar_Core::testing_support {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zelvar-results-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// A sequence run on one chip: two steps, three measurements (one without
// limits, one out of them), two files, settings in a set order. `n` moves
// its times and names, so records made with different n differ everywhere.
inline bench::results::TestRecord full_record(int n = 0, const std::string& dut = "chip-0042") {
  using namespace bench::results;
  const UtcMicros t0 = 1'780'000'000'000'000 + std::int64_t{n} * 60'000'000;
  TestRecord r;
  r.run_id = new_run_id();
  r.kind = "sequence";
  r.started = t0;
  r.ended = t0 + 42'500'123;
  r.station = "bench-" + std::to_string(n % 3);
  r.operator_name = "Ada Lovelace";
  r.dut = dut;
  r.board_identity = "AER-640 rev B";
  r.board_serial = "SN-" + std::to_string(1000 + n);
  r.design = "aer640_top v3.1";
  r.sequence_path = "/lab/sequences/bias_check.json";
  r.sequence_sha256 = sha256_hex("sequence " + std::to_string(n));
  r.bench_version = "2.0.0";
  r.settings_before = {{"vdd", "1.80"}, {"bias_pr", "120"}, {"aaa_last", "z"}};
  r.steps = {{1, "program", "The board took aer640_top.bit.", Outcome::Pass, t0, t0 + 1'000'000},
             {2, "measure", "Measured for 2 s; vdd_mean was 1.93 V, above 1.90 V.", Outcome::Fail,
              t0 + 1'000'000, t0 + 42'500'000}};
  r.measurements = {{2, "vdd_mean", 1.80 + n * 0.001, "V", 1.70, 1.90, Outcome::Pass},
                    {2, "rate_on", 12345.5 + n, "ev/s", std::nullopt, std::nullopt, Outcome::Pass},
                    {2, "temp", -3.25, "degC", std::nullopt, 30.0, Outcome::Fail}};
  r.files = {{"report", "/lab/reports/run_" + std::to_string(n) + ".csv", 1234, sha256_hex("a")},
             {"recording", "/lab/recordings/rec_" + std::to_string(n) + ".raw",
              5'000'000'000ULL + static_cast<std::uint64_t>(n), sha256_hex("b")}};
  r.outcome = Outcome::Fail;
  r.ended_because = "Step 2 (measure) failed: vdd_mean 1.93 V above 1.90 V.";
  return r;
}

// Every field of `got` as in `want`, each named when it differs.
inline void expect_same_record(const bench::results::TestRecord& got,
                               const bench::results::TestRecord& want) {
  EXPECT_EQ(got.run_id, want.run_id);
  EXPECT_EQ(got.kind, want.kind);
  EXPECT_EQ(got.started, want.started);
  EXPECT_EQ(got.ended, want.ended);
  EXPECT_EQ(got.station, want.station);
  EXPECT_EQ(got.operator_name, want.operator_name);
  EXPECT_EQ(got.dut, want.dut);
  EXPECT_EQ(got.board_identity, want.board_identity);
  EXPECT_EQ(got.board_serial, want.board_serial);
  EXPECT_EQ(got.design, want.design);
  EXPECT_EQ(got.sequence_path, want.sequence_path);
  EXPECT_EQ(got.sequence_sha256, want.sequence_sha256);
  EXPECT_EQ(got.bench_version, want.bench_version);
  EXPECT_EQ(got.settings_before, want.settings_before);
  ASSERT_EQ(got.steps.size(), want.steps.size());
  for (std::size_t i = 0; i < want.steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    EXPECT_EQ(got.steps[i].number, want.steps[i].number);
    EXPECT_EQ(got.steps[i].kind, want.steps[i].kind);
    EXPECT_EQ(got.steps[i].what, want.steps[i].what);
    EXPECT_EQ(got.steps[i].outcome, want.steps[i].outcome);
    EXPECT_EQ(got.steps[i].started, want.steps[i].started);
    EXPECT_EQ(got.steps[i].ended, want.steps[i].ended);
  }
  ASSERT_EQ(got.measurements.size(), want.measurements.size());
  for (std::size_t i = 0; i < want.measurements.size(); ++i) {
    SCOPED_TRACE("measurement " + std::to_string(i));
    EXPECT_EQ(got.measurements[i].step, want.measurements[i].step);
    EXPECT_EQ(got.measurements[i].name, want.measurements[i].name);
    EXPECT_EQ(got.measurements[i].value, want.measurements[i].value);
    EXPECT_EQ(got.measurements[i].unit, want.measurements[i].unit);
    EXPECT_EQ(got.measurements[i].low, want.measurements[i].low);
    EXPECT_EQ(got.measurements[i].high, want.measurements[i].high);
    EXPECT_EQ(got.measurements[i].outcome, want.measurements[i].outcome);
  }
  ASSERT_EQ(got.files.size(), want.files.size());
  for (std::size_t i = 0; i < want.files.size(); ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    EXPECT_EQ(got.files[i].role, want.files[i].role);
    EXPECT_EQ(got.files[i].path, want.files[i].path);
    EXPECT_EQ(got.files[i].size, want.files[i].size);
    EXPECT_EQ(got.files[i].sha256, want.files[i].sha256);
  }
  EXPECT_EQ(got.outcome, want.outcome);
  EXPECT_EQ(got.ended_because, want.ended_because);
}

}  // namespace Zelvar_Core::testing_support
