// Sweeps and sequences on the simulated board, without a toolkit.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "bench/board/bitstream.h"
#include "bench/sequences/sequence.h"

namespace Zelvar_Core::bench {
namespace {

namespace fs = std::filesystem;

class OnTheBoard : public ::testing::Test {
 protected:
  OnTheBoard() : bench(board, BenchFolders::under(fs::current_path()), aborted) {}
  ~OnTheBoard() override { board.stop_acquisition(); }
  SimulatedDevice board;
  std::atomic<bool> aborted{false};
  BoardBench bench;
};

TEST_F(OnTheBoard, ASweepMeasuresEachValueAndPutsTheParameterBack) {
  board.write_register("VTH_ON", 2500);
  SweepPlan plan{"VTH_ON", {2000, 2400, 2800}, 0.1, 0.4};
  std::vector<std::int64_t> heard;
  const SweepOutcome outcome =
      run_sweep(plan, bench, [&](std::size_t, const SweepRow& row) { heard.push_back(row.value); });
  ASSERT_TRUE(outcome.completed) << outcome.ended;
  EXPECT_EQ(heard, plan.values);
  EXPECT_EQ(outcome.restored, "VTH_ON restored to 2500");
  EXPECT_EQ(board.read_register("VTH_ON"), 2500);
  // The ON rate follows the ON threshold the way the sensor does, and is
  // what the sensor was set to within a few percent; OFF stays put.
  for (std::size_t i = 0; i < outcome.rows.size(); ++i) {
    BiasPoint bias = board.bias_point();
    bias.vth_on = static_cast<int>(outcome.rows[i].value);
    const auto set = expected_rates(sensor_settings(bias, SensorMode::EventStream));
    const Measurement& m = outcome.rows[i].measurement;
    EXPECT_NEAR(m.on_mean / set.on, 1.0, 0.05) << outcome.rows[i].value;
    EXPECT_NEAR(m.off_mean / set.off, 1.0, 0.05) << outcome.rows[i].value;
    EXPECT_NEAR(m.adc_means[0], 1.8, 0.02);
    if (i > 0) {
      EXPECT_LT(m.on_mean, outcome.rows[i - 1].measurement.on_mean);
    }
  }
}

TEST_F(OnTheBoard, AnAbortOrAFailingBoardEndsTheSweepAtItsStepWithTheValueRestored) {
  SweepPlan plan{"VTH_OFF", {700, 800, 900, 1000}, 0.0, 0.3};
  SweepOutcome outcome = run_sweep(plan, bench, [&](std::size_t step, const SweepRow&) {
    if (step == 1) aborted = true;
  });
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(outcome.rows.size(), 2u);
  EXPECT_EQ(outcome.ended, "aborted at step 3 of 4");
  EXPECT_EQ(outcome.restored, "VTH_OFF restored to 800");
  EXPECT_EQ(board.read_register("VTH_OFF"), 800);

  aborted = false;
  outcome = run_sweep(plan, bench, [&](std::size_t step, const SweepRow&) {
    if (step == 0) board.acquisition().fail_next_read();  // the link drops
  });
  EXPECT_EQ(outcome.rows.size(), 1u);
  EXPECT_EQ(outcome.ended, "ended at step 2 of 4: the acquisition stopped during the measurement");
  EXPECT_EQ(board.read_register("VTH_OFF"), 800);

  board.start_acquisition();
  outcome = run_sweep(plan, bench, [&](std::size_t step, const SweepRow&) {
    if (step == 0) board.set_connected(false);  // unplugged: nothing can be put back
  });
  EXPECT_EQ(outcome.ended, "ended at step 2 of 4: No board is connected: VTH_OFF not written");
  EXPECT_EQ(outcome.restored,
            "VTH_OFF not restored to 800: No board is connected: VTH_OFF not written");
}

TEST_F(OnTheBoard, AValueOutOfRangeIsRefusedBeforeTheSweepStarts) {
  SweepPlan plan{"VTH_ON", {2000, 5000}, 0.1, 0.3};
  EXPECT_EQ(check_sweep(plan, bench), "VTH_ON: 5000 is out of range 0..4095");
  EXPECT_THROW(run_sweep(plan, bench, nullptr), std::invalid_argument);
  EXPECT_FALSE(board.acquiring());
  EXPECT_EQ(check_sweep({"NOPE", {1}, 0, 1}, bench),
            "the board has no register, DAC or signal named NOPE");
}

TEST_F(OnTheBoard, TheCsvNamesItsSettingsAndColumns) {
  SweepPlan plan{"VTH_ON", {2000}, 0, 0.3};
  Measurement m;
  m.on_mean = 1234.5;
  m.adc_means = {1.8, 3.3, 31, 12};
  const std::string csv = sweep_csv(plan, {{2000, m}}, bench.settings());
  EXPECT_NE(csv.find("# board Zelvar Labs AER-640 sensor board (simulated) SIM-0001 1.4.2\n"),
            std::string::npos);
  EXPECT_NE(csv.find("# VTH_OFF 800\n"), std::string::npos);
  EXPECT_EQ(csv.find("# VTH_ON "), std::string::npos) << "the swept one is a column";
  EXPECT_NE(csv.find("VTH_ON,on_rate_mean_hz,on_rate_std_hz,off_rate_mean_hz,off_rate_std_hz,"
                     "vdd_mean_v,vddio_mean_v,temperature_mean_c,ibias_mean_ua\n"
                     "2000,1234.5,0.0,0.0,0.0,1.8000,3.3000,31.0000,12.0000\n"),
            std::string::npos)
      << csv;
}

std::string write(const std::string& name, const std::string& text) {
  std::ofstream(name) << text;
  return name;
}

std::string refusal(const std::string& text, BenchActions& bench) {
  try {
    load_sequence(write("refused.json", text), bench);
  } catch (const SequenceError& e) {
    return e.what();
  }
  return "taken";
}

TEST_F(OnTheBoard, ASequenceIsCheckedWholeAndEachRefusalNamesItsStep) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"steps": [{"wait": 1}, {"jump": 3}]})",
       "Step 2: it names no step (program, set, wait, measure, sweep, record, capture or "
       "expect)"},
      {R"({"steps": [{"set": "VTH_ON", "valu": 1}]})",
       "Step 1: unknown field \"valu\" in a set step"},
      {R"({"steps": [{"wait": 0}, {"set": "VTH_ON", "value": 5000}]})",
       "Step 2: VTH_ON: 5000 is out of range 0..4095"},
      {R"({"steps": [{"set": "VTH_OFFF", "value": 1}]})",
       "Step 1: the board has no register, DAC or signal named VTH_OFFF"},
      {R"({"steps": [{"program": "missing.bit"}]})",
       "Step 1: the bitstream " + (fs::current_path() / "missing.bit").string() +
           " does not exist"},
      {R"({"steps": [{"expect": "on_rate_mean", "min": 0, "max": 1}]})",
       "Step 1: expect comes before any measure or sweep"},
      {R"({"steps": [{"sweep": "VTH_ON", "values": [1, 2]}, {"expect": "on_rate_mean", "at": 3, "min": 0, "max": 1}]})",
       "Step 2: the sweep of step 1 has no value 3"},
      {R"({"steps": [{"measure": 1}, {"expect": "speed", "min": 0, "max": 1}]})",
       "Step 2: no measurement is named speed"},
      {R"({"steps": [{"sweep": "VTH_ON", "start": 0, "stop": 5000, "step": 1000}]})",
       "Step 1: VTH_ON: 5000 is out of range 0..4095"},
      {R"({"steps": [{"wait": -1}]})", "Step 1: wait must be 0 to 86400 seconds"},
  };
  for (const auto& [text, said] : cases) EXPECT_EQ(refusal(text, bench), said) << text;
  EXPECT_FALSE(board.acquiring());
  EXPECT_EQ(board.read_register("VTH_ON"), 2400) << "a refused sequence touched the board";
}

TEST_F(OnTheBoard, ARunReportsEveryMeasurementAndEveryExpectation) {
  fs::create_directories("bits");
  std::ofstream("bits/seq.bit", std::ios::binary)
      << make_bitstream("seq_design", std::string(4096, 'x'));
  board.bytes_per_second = 1e9;
  const Sequence sequence = load_sequence(write("run.json", R"({"name": "probe", "steps": [
      {"program": "bits/seq.bit"},
      {"set": "VTH_ON", "value": 2200},
      {"measure": 0.4},
      {"expect": "on_rate_mean", "min": 1e5, "max": 1e8},
      {"expect": "on_rate_mean", "min": 1e8, "max": 1e9},
      {"capture": true}]})"),
                                          bench);
  std::vector<std::string> lines;
  SequenceObserver observer;
  observer.done = [&](const Step& step, const std::string& outcome) {
    lines.push_back(step.describe() + ": " + outcome);
  };
  const SequenceReport report = run_sequence(sequence, bench, observer);
  EXPECT_TRUE(report.completed) << report.ended;
  EXPECT_EQ(report.exit_code(), 1);  // the second expectation cannot hold
  EXPECT_EQ(report.expects, 2);
  EXPECT_EQ(report.failed, 1);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0].substr(lines[0].find(": ")), ": done: the board holds seq_design");
  EXPECT_EQ(lines[4].rfind("expect on_rate_mean in 1e+08..1e+09: FAIL (", 0), 0u) << lines[4];
  EXPECT_FALSE(board.acquiring()) << "the run left the stream it started running";
  const std::string csv = report_csv(sequence, report, bench.settings());
  EXPECT_NE(csv.find("\n3,measure,,,"), std::string::npos);
  EXPECT_NE(csv.find(",on_rate_mean,100000,1e+08,"), std::string::npos);
  EXPECT_NE(csv.find(",fail\n"), std::string::npos);
  EXPECT_NE(csv.find("# result 1 of 2 expectations held"), std::string::npos);

  // A board that fails mid-run ends it at that step: exit status 2.
  std::ofstream("bits/bad.bit") << "";
  const Sequence failing = load_sequence(
      write("fail.json", R"({"steps": [{"measure": 0.3}, {"program": "bits/bad.bit"}]})"), bench);
  const SequenceReport failed = run_sequence(failing, bench, {});
  EXPECT_EQ(failed.exit_code(), 2);
  EXPECT_EQ(failed.ended, "ended at step 2 (program " + fs::absolute("bits/bad.bit").string() +
                              "): The bitstream " + fs::absolute("bits/bad.bit").string() +
                              " is empty");
}

}  // namespace
}  // namespace Zelvar_Core::bench
