// Sweeps and sequences without a toolkit: their logic against a bench the
// test scripts (every measurement known in advance), their order of calls
// against a mock, and one run on the simulated board itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "Zelvar_Core/version.h"
#include "bench/board/bitstream.h"
#include "bench/board/lost_events.h"
#include "bench/sequences/csv.h"
#include "bench/sequences/run_record.h"
#include "bench/sequences/sequence_report.h"
#include "tests/support/eventually.h"
#include "tests/support/stream_stall.h"

namespace Zelvar_Core::bench {
namespace {

namespace fs = std::filesystem;
using ::testing::DoubleEq;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::Return;

// The rates as first computed: a division for every event, bins kept as
// they come (the last still filling), all dropped when time goes back.
struct PlainRates {
  void on_events(const std::vector<Event>& events) {
    for (const Event& e : events) {
      const std::int64_t index = e.t / kRateBinUs;
      if (bins.empty() || index > bins.back()[0]) {
        bins.push_back({index, 0, 0});
        while (bins.size() > keep + 1) bins.erase(bins.begin());
      } else if (index < bins.back()[0]) {
        bins.assign(1, {index, 0, 0});
      }
      ++bins.back()[e.p ? 1 : 2];
    }
  }
  RateMeter::Trace trace() const {
    RateMeter::Trace trace;
    for (std::size_t i = 0; i + 1 < bins.size(); ++i) {
      trace.t.push_back(static_cast<double>((bins[i][0] + 1) * kRateBinUs) * 1e-6);
      trace.on.push_back(static_cast<double>(bins[i][1]) * 10);
      trace.off.push_back(static_cast<double>(bins[i][2]) * 10);
    }
    return trace;
  }
  std::size_t keep;
  std::vector<std::array<std::int64_t, 3>> bins;
};

TEST(RateMeter, CountsAsADivisionPerEventWouldAcrossBinsGapsAndTimeGoingBack) {
  std::mt19937_64 random(11);
  RateMeter meter(2.0);  // 20 bins kept
  PlainRates plain{20, {}};
  auto feed = [&](const std::vector<Event>& batch) {
    meter.on_events(batch.data(), batch.size());
    plain.on_events(batch);
    const auto got = meter.trace(), expected = plain.trace();
    ASSERT_EQ(got.t, expected.t);
    ASSERT_EQ(got.on, expected.on);
    ASSERT_EQ(got.off, expected.off);
  };
  // Batches in time order: some within a bin, some across several, some
  // empty, some leaping bins; then times that go back, within a bin and to
  // an earlier one; then times before zero, whose bin 0 is twice as wide.
  std::int64_t t = 0;
  auto batch_from = [&](std::size_t count, std::int64_t step) {
    std::vector<Event> batch;
    for (std::size_t i = 0; i < count; ++i, t += static_cast<std::int64_t>(random() % step))
      batch.push_back({t, 1, 1, static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : 1)});
    return batch;
  };
  for (int round = 0; round < 60; ++round) {
    feed(batch_from(random() % 3000, 1 + static_cast<std::int64_t>(random() % 400)));
    if (round % 7 == 0) feed({});
    if (round % 11 == 0) t += 350000;  // a gap of bins without events
    EXPECT_LE(meter.trace().t.size(), 20u);
  }
  // Events on each side of bin edges.
  std::vector<Event> edges;
  const std::int64_t edge = (t / kRateBinUs + 1) * kRateBinUs;
  for (std::int64_t k = 0; k < 4; ++k)
    for (const std::int64_t d : {-1, 0, 1})
      edges.push_back({edge + k * kRateBinUs + d, 1, 1, static_cast<std::uint8_t>(d == 0)});
  feed(edges);
  t = edges.back().t;
  std::vector<Event> back = batch_from(500, 300);
  back.push_back({back.back().t - 10, 2, 2, 1});      // a step back within the bin
  back.push_back({back.back().t - 250000, 2, 2, 0});  // back to an earlier bin
  feed(back);
  t = -350000;
  feed(batch_from(4000, 200));  // from -350 ms to about +50 ms: bin 0 from -100 ms
  auto trace = meter.trace();
  ASSERT_FALSE(trace.t.empty());
  EXPECT_EQ(trace.t.back(), 0.0);  // the bin of -199.9..-100 ms, ending at bin 0
  std::vector<Event> around_zero;
  for (const std::int64_t at : {-200001, -200000, -199999, -100001, -100000, -99999, -1, 0, 1,
                                99999, 100000, 100001, 200000})
    around_zero.push_back({at, 1, 1, static_cast<std::uint8_t>(at % 2 == 0)});
  feed(around_zero);
  trace = meter.trace();
  EXPECT_THAT(trace.t, ElementsAre(DoubleEq(-0.1), 0.0, DoubleEq(0.1), DoubleEq(0.2)));
  EXPECT_EQ(trace.on, (std::vector<double>{10, 10, 10, 10}));
  EXPECT_EQ(trace.off, (std::vector<double>{10, 20, 40, 10}));  // bin 0: -99999 to 99999
}

TEST(RateMeter, BinsTheDisplaySkippedIntoAreLeftOutWithAGapAndTheSkipCounted) {
  RateMeter meter;
  // 1,000 events per 100 ms, 1 in 4 OFF, from 0 to 1 s; the display skips
  // 0.25 s to 0.55 s of them.
  std::vector<Event> events;
  for (std::int64_t t = 0; t < 1000000; t += 100)
    events.push_back({t, 1, 1, static_cast<std::uint8_t>(t % 400 != 0)});
  const auto at = [&](std::int64_t t) { return events.begin() + t / 100; };
  const std::vector<Event> before(events.begin(), at(250000)), after(at(550000), events.end());
  meter.on_events(before.data(), before.size());
  meter.on_skipped(250000, 549900, 3000);
  meter.on_events(after.data(), after.size());
  const RateMeter::Trace trace = meter.trace();
  // 0.0-0.1 and 0.1-0.2 whole; 0.2-0.3 and 0.5-0.6 held part of their
  // events only; 0.6 to 0.9 whole; 0.9-1.0 still filling.
  EXPECT_THAT(trace.t, ElementsAre(DoubleEq(0.1), DoubleEq(0.2), DoubleEq(0.7), DoubleEq(0.8),
                                   DoubleEq(0.9)));
  EXPECT_EQ(trace.on, std::vector<double>(5, 7500));
  EXPECT_EQ(trace.off, std::vector<double>(5, 2500));
  EXPECT_EQ(trace.skips, std::vector<std::size_t>{2});
  EXPECT_TRUE(trace.run_starts.empty());
  EXPECT_EQ(trace.last_run, 0u);  // not a stop: the run goes on across the skip
  EXPECT_EQ(trace.skipped, 3000u);
  meter.clear();
  EXPECT_EQ(meter.trace().skipped, 0u);
}

// A bench whose board is a register file and whose measurements are what
// the sensor model gives for the registers in force: exact, whatever the
// machine's speed. Every call is noted in order.
class ScriptedBench : public BenchActions {
 public:
  void program(const std::string& path) override {
    calls.push_back("program " + fs::path(path).filename().string());
    design = fs::path(path).stem().string();
  }
  void set(const std::string& name, std::int64_t value) override {
    calls.push_back(name + "=" + std::to_string(value));
    if (fail_set_at == static_cast<int>(calls.size())) throw NoBoard(name + " not written");
    registers.write(name, value);
  }
  std::int64_t get(const std::string& name) override { return registers.read(name); }
  Register register_named(const std::string& name) override { return registers.find(name); }
  void wait(double seconds) override {
    calls.push_back("wait " + std::to_string(static_cast<int>(seconds * 1000)));
    if (abort_at == static_cast<int>(calls.size())) throw Aborted("aborted");
  }
  Measurement measure(double seconds) override {
    calls.push_back("measure");
    Measurement m;
    m.seconds = seconds;
    m.intervals = intervals;
    const auto rates = expected_rates(sensor_settings(bias(), SensorMode::EventStream));
    m.on_mean = rates.on;
    m.off_mean = rates.off;
    m.on_std = m.off_std = intervals > 1 ? 10.0 : std::nan("");
    m.adc_means = {1.8, 3.3, 31.0, 12.0};
    m.in_force = in_force();
    return m;
  }
  RecordingStats record(double) override {
    calls.push_back("record");
    RecordingStats stats;
    stats.path = "/r/rec.raw";
    stats.bytes = 2048;
    stats.events = 500;
    stats.dropped = 3;
    stats.lost_by_board = 7800000;
    return stats;
  }
  std::string capture() override {
    calls.push_back("capture");
    return "/c/capture_001.pgm";
  }
  bool connected() override { return true; }
  Settings settings() override {
    Settings all = {{"date", "2026-12-08 10:00:00"}, {"board", "scripted"}};
    for (auto& s : in_force()) all.push_back(s);
    return all;
  }
  Settings in_force() override {
    Settings now = {{"design", design}, {"mode", "Event stream"}};
    for (const auto& r : registers.all()) now.emplace_back(r.name, std::to_string(r.value));
    return now;
  }
  void finish() override { calls.push_back("finish"); }
  void abort() override {}

  BiasPoint bias() const {
    BiasPoint b;
    b.vth_on = static_cast<int>(registers.read("VTH_ON"));
    b.vth_off = static_cast<int>(registers.read("VTH_OFF"));
    b.bias_gain = static_cast<int>(registers.read("BIAS_GAIN"));
    return b;
  }

  RegisterFile registers;
  std::string design = "aer640_stream (flash)";
  std::vector<std::string> calls;
  int intervals = 5;
  int fail_set_at = -1, abort_at = -1;  // the call (1-based) that fails
};

class MockBench : public BenchActions {
 public:
  MOCK_METHOD(void, program, (const std::string&), (override));
  MOCK_METHOD(void, set, (const std::string&, std::int64_t), (override));
  MOCK_METHOD(std::int64_t, get, (const std::string&), (override));
  MOCK_METHOD(Register, register_named, (const std::string&), (override));
  MOCK_METHOD(void, wait, (double), (override));
  MOCK_METHOD(Measurement, measure, (double), (override));
  MOCK_METHOD(RecordingStats, record, (double), (override));
  MOCK_METHOD(std::string, capture, (), (override));
  MOCK_METHOD(bool, connected, (), (override));
  MOCK_METHOD(Settings, settings, (), (override));
  MOCK_METHOD(Settings, in_force, (), (override));
  MOCK_METHOD(void, finish, (), (override));
  MOCK_METHOD(void, abort, (), (override));
};

// ---- sweeps ----------------------------------------------------------------------------

TEST(Sweep, EachValueIsWrittenSettledAndMeasuredThenTheParameterGoesBack) {
  MockBench bench;
  EXPECT_CALL(bench, register_named("VTH_ON"))
      .WillRepeatedly(Return(Register{"VTH_ON", 2500, 0, 4095}));
  Measurement first, second;
  first.on_mean = 2e6;
  second.on_mean = 1e6;
  {
    InSequence order;
    EXPECT_CALL(bench, get("VTH_ON")).WillOnce(Return(2500));
    EXPECT_CALL(bench, set("VTH_ON", 2000));
    EXPECT_CALL(bench, wait(0.1));
    EXPECT_CALL(bench, measure(0.4)).WillOnce(Return(first));
    EXPECT_CALL(bench, set("VTH_ON", 2400));
    EXPECT_CALL(bench, wait(0.1));
    EXPECT_CALL(bench, measure(0.4)).WillOnce(Return(second));
    EXPECT_CALL(bench, set("VTH_ON", 2500));  // put back
  }
  std::vector<std::int64_t> heard;
  const SweepOutcome outcome =
      run_sweep({"VTH_ON", {2000, 2400}, 0.1, 0.4}, bench,
                [&](std::size_t, const SweepRow& row) { heard.push_back(row.value); });
  ASSERT_TRUE(outcome.completed) << outcome.ended;
  EXPECT_EQ(heard, (std::vector<std::int64_t>{2000, 2400}));
  EXPECT_EQ(outcome.rows[1].measurement.on_mean, 1e6);
  EXPECT_EQ(outcome.restored, "VTH_ON restored to 2500");
}

TEST(Sweep, AnAbortOrAFailingBoardEndsItAtItsStepWithTheValueRestored) {
  ScriptedBench bench;
  const SweepPlan plan{"VTH_OFF", {700, 800, 900, 1000}, 0.0, 0.3};
  bench.abort_at = 5;  // the second value's settling: 700, wait, measure, 800, wait
  SweepOutcome outcome = run_sweep(plan, bench, nullptr);
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(outcome.rows.size(), 1u);
  EXPECT_EQ(outcome.ended, "aborted at step 2 of 4");
  EXPECT_EQ(outcome.restored, "VTH_OFF restored to 800");
  EXPECT_EQ(bench.calls.back(), "VTH_OFF=800");

  ScriptedBench unplugged;
  unplugged.fail_set_at = 4;  // the second write fails, and so would the restore...
  outcome = run_sweep(plan, unplugged, nullptr);
  EXPECT_EQ(outcome.ended, "ended at step 2 of 4: No board is connected: VTH_OFF not written");
  EXPECT_EQ(outcome.restored, "VTH_OFF restored to 800");  // ...but the board answers again
  EXPECT_EQ(unplugged.registers.read("VTH_OFF"), 800);
}

TEST(Sweep, RangesAreCheckedAgainstTheParameterBeforeAnyValueIsMade) {
  const Register vth{"VTH_ON", 2400, 0, 4095};
  EXPECT_EQ(SweepPlan::range(vth, 2000, 2800, 400), (std::vector<std::int64_t>{2000, 2400, 2800}));
  EXPECT_EQ(SweepPlan::range(vth, 2800, 2000, -300), (std::vector<std::int64_t>{2800, 2500, 2200}));
  const std::tuple<std::int64_t, std::int64_t, std::int64_t, std::string> refused[] = {
      {0, INT64_MIN, -1, "VTH_ON: -9223372036854775808 is out of range 0..4095"},
      {INT64_MAX, 0, INT64_MIN, "VTH_ON: 9223372036854775807 is out of range 0..4095"},
      {0, 4095, 0, "the step is zero"},
      {0, 4095, -1, "the step goes away from stop"},
  };
  for (const auto& [start, stop, step, said] : refused) {
    try {
      SweepPlan::range(vth, start, stop, step);
      ADD_FAILURE() << "taken: " << start << ".." << stop << " by " << step;
    } catch (const std::logic_error& e) {  // RangeError for the ends, invalid_argument else
      EXPECT_EQ(e.what(), said);
    }
  }
  // The widest parameter: the ends of 64 bits neither overflow nor loop.
  const Register wide{"WIDE", 0, INT64_MIN, INT64_MAX};
  EXPECT_EQ(SweepPlan::range(wide, INT64_MIN, INT64_MAX, INT64_MAX),
            (std::vector<std::int64_t>{INT64_MIN, -1, INT64_MAX - 1}));
  EXPECT_EQ(SweepPlan::range(wide, INT64_MAX, INT64_MIN, INT64_MIN),
            (std::vector<std::int64_t>{INT64_MAX, -1}));
  EXPECT_THROW(SweepPlan::range(wide, INT64_MIN, INT64_MAX, 1), std::invalid_argument);
  try {
    SweepPlan::range(wide, 0, 100000, 1);
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "100,001 values are more than the 100,000 a sweep may have");
  }
}

TEST(Sweep, TheCsvNamesItsSettingsColumnsAndWhatWasInForceForEachRow) {
  ScriptedBench bench;
  Measurement m = bench.measure(0.3);
  m.on_mean = 1234.5;
  m.on_std = std::nan("");  // one interval: no spread
  const std::string csv =
      sweep_csv({"VTH_ON", {2000}, 0, 0.3}, {{2000, m}}, bench.settings(), bench.declaration());
  EXPECT_NE(csv.find("# board scripted\n"), std::string::npos);
  EXPECT_NE(csv.find("# VTH_OFF 800\n"), std::string::npos);
  EXPECT_EQ(csv.find("# VTH_ON "), std::string::npos) << "the swept one is a column";
  // The columns with the units the board declares: its four ADC channels,
  // and each register that has a unit.
  EXPECT_NE(csv.find("\nVTH_ON (counts),on_rate_mean_hz,on_rate_std_hz,off_rate_mean_hz,"
                     "off_rate_std_hz,vdd_mean (V),vddio_mean (V),temperature_mean (\u00b0C),"
                     "ibias_mean (\u00b5A),design,mode,CTRL,FIFO_THRESHOLD (events),"
                     "TIMESTAMP_DIV (clock cycles),ROI_X0 (px),ROI_Y0 (px),VBIAS_PR (counts),"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\n2000,1234.5,,"), std::string::npos) << csv;
  // The swept register's unit as the board gives it.
  SweepPlan with_unit{"VTH_ON", {2000}, 0, 0.3};
  with_unit.unit = "mV";
  EXPECT_NE(sweep_csv(with_unit, {{2000, m}}, bench.settings(), bench.declaration())
                .find("# swept VTH_ON (mV), settle 0 s, measure 0.3 s\n"),
            std::string::npos);
  EXPECT_NE(csv.find("# swept VTH_ON (counts), settle 0 s, measure 0.3 s\n"), std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",1.8000,3.3000,31.0000,12.0000,aer640_stream (flash),Event stream,1,"),
            std::string::npos)
      << csv;
}

// Another board's report has its channels, in its order, and its units.
TEST(Sweep, TheCsvOfAnotherBoardHasItsOwnAdcChannelsAndUnits) {
  const BoardDeclaration aer320 = declaration_of(SimulatedSensor::Aer320);
  Measurement m;
  m.on_mean = m.off_mean = 100;
  m.adc_channels = aer320.adc_channels;
  m.adc_means = {1.2, 31.0};
  m.in_force = {{"design", "none"}, {"mode", "Event stream"}, {"CTRL", "1"}, {"PR_BIAS", "600"}};
  Settings settings = {{"date", "2026-12-08 10:00:00"}, {"board", "AER-320"}};
  settings.insert(settings.end(), m.in_force.begin(), m.in_force.end());
  const std::string csv = sweep_csv({"THR_ON", {650}, 0, 0.3}, {{650, m}}, settings, aer320);
  EXPECT_NE(csv.find("\n# swept THR_ON (mV), settle 0 s, measure 0.3 s\n"
                     "THR_ON (mV),on_rate_mean_hz,on_rate_std_hz,off_rate_mean_hz,off_rate_std_hz,"
                     "vdd_mean (V),temperature_mean (\u00b0C),design,mode,CTRL,PR_BIAS (mV)\n"
                     "650,100.0,0.0,100.0,0.0,1.2000,31.0000,none,Event stream,1,600\n"),
            std::string::npos)
      << csv;
  // An expect names the board's channels: its temperature is its second.
  EXPECT_EQ(m.value("temperature_mean"), 31.0);
  EXPECT_THROW(m.value("vddio_mean"), std::invalid_argument);
  EXPECT_EQ(Measurement::names(aer320.adc_channels).back(), "temperature_mean");
}

// Each row's settings, by the report's keys: in their order, "" for one the
// row does not hold, the first of two, quoted where CSV needs it; and a
// board of very many registers takes one pass per row, not one per key.
TEST(Sweep, EachRowsSettingsAreWrittenInTheOrderOfTheKeys) {
  const Settings in_force = {{"B", "2"}, {"A", "x,y"}, {"B", "3"}};
  EXPECT_EQ(settings_cells(in_force, {"A", "B", "C"}), ",\"x,y\",2,");
  EXPECT_EQ(settings_cells(in_force, {}), "");
  Settings many;
  std::vector<std::string> keys;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    many.emplace_back("R" + std::to_string(i), std::to_string(i % 7));
    keys.push_back("R" + std::to_string(99999 - i));
    expected += "," + std::to_string((99999 - i) % 7);
  }
  EXPECT_EQ(settings_cells(many, keys), expected);
}

// ---- sequences -------------------------------------------------------------------------

std::string write(const std::string& name, const std::string& text) {
  std::ofstream(name) << text;
  return name;
}

std::string refusal(const std::string& path, BenchActions& bench) {
  try {
    load_sequence(path, bench);
  } catch (const SequenceError& e) {
    return e.what();
  }
  return "taken";
}

TEST(Sequence, IsCheckedWholeAndEachRefusalNamesItsStep) {
  ScriptedBench bench;
  fs::create_directories("a_folder.bit");
  const std::pair<std::string, std::string> cases[] = {
      {R"({"steps": [{"wait": 1}, {"jump": 3}]})",
       "Step 2: it names no step (program, set, wait, measure, sweep, record, capture or "
       "expect)"},
      {R"({"steps": [{"set": "VTH_ON", "valu": 1}]})",
       "Step 1: unknown field \"valu\" in a set step"},
      {R"({"steps": [{"wait": 0}, {"set": "VTH_ON", "value": 5000}]})",
       "Step 2: VTH_ON: 5000 is out of range 0..4095"},
      {R"({"steps": [{"set": "VTH_ON", "value": 18446744073709551615}]})",
       "Step 1: VTH_ON: 18446744073709551615 is out of range 0..4095"},
      {R"({"steps": [{"set": "VTH_ON", "value": 1e30}]})",
       "Step 1: VTH_ON: 1e+30 is out of range 0..4095"},
      {R"({"steps": [{"set": "VTH_ON", "value": 2.5}]})", "Step 1: VTH_ON must be an integer"},
      {R"({"steps": [{"wait": 1}, {"measure": 1e400}]})",
       "Step 2: the number 1e400 is too large for any setting"},
      {R"({"steps": [{"set": "VTH_OFFF", "value": 1}]})",
       "Step 1: the board has no register, DAC or signal named VTH_OFFF"},
      {R"({"steps": [{"program": "missing.bit"}]})",
       "Step 1: the bitstream " + (fs::current_path() / "missing.bit").string() +
           " does not exist; pravel --sample-bitstream " +
           (fs::current_path() / "missing.bit").string() + " writes a sample one there"},
      {R"({"steps": [{"program": "a_folder.bit"}]})",
       "Step 1: the bitstream " + (fs::current_path() / "a_folder.bit").string() + " is a folder"},
      {R"({"steps": [{"program": "/dev/zero"}]})",
       "Step 1: the bitstream /dev/zero is not a regular file"},
      {R"({"steps": [{"expect": "on_rate_mean", "min": 0, "max": 1}]})",
       "Step 1: expect comes before any measure or sweep"},
      {R"({"steps": [{"sweep": "VTH_ON", "values": [1, 2]}, {"expect": "on_rate_mean", "at": 3, "min": 0, "max": 1}]})",
       "Step 2: the sweep of step 1 has no value 3"},
      {R"({"steps": [{"measure": 1}, {"expect": "speed", "min": 0, "max": 1}]})",
       "Step 2: no measurement is named speed"},
      {R"({"steps": [{"sweep": "VTH_ON", "start": 0, "stop": 5000, "step": 1000}]})",
       "Step 1: VTH_ON: 5000 is out of range 0..4095"},
      {R"({"steps": [{"sweep": "VTH_ON", "start": 0, "stop": -9223372036854775808, "step": -1}]})",
       "Step 1: VTH_ON: -9223372036854775808 is out of range 0..4095"},
      {R"({"steps": [{"sweep": "VTH_ON", "start": 0, "stop": 10, "step": 18446744073709551615}]})",
       "Step 1: step: 18446744073709551615 is out of range "
       "-9223372036854775808..9223372036854775807"},
      {R"({"steps": [{"wait": -1}]})", "Step 1: wait must be 0 to 86400 seconds"},
  };
  for (const auto& [text, said] : cases)
    EXPECT_EQ(refusal(write("refused.json", text), bench), said) << text;
  EXPECT_TRUE(bench.calls.empty()) << "a refused sequence reached the board";
}

TEST(Sequence, FilesThatAreNoSequenceAreRefusedWithoutBlocking) {
  ScriptedBench bench;
  const std::string here = fs::current_path().string();
  fs::create_directories("folder.json");
  ::unlink("pipe.json");
  ASSERT_EQ(::mkfifo("pipe.json", 0600), 0);
  std::ofstream("big.json") << std::string(5 << 20, ' ');
  const std::pair<std::string, std::string> cases[] = {
      {"missing.json", "Cannot read the sequence missing.json: no such file"},
      {"folder.json", "Cannot read the sequence folder.json: it is a folder"},
      {"pipe.json", "Cannot read the sequence pipe.json: it is not a regular file"},
      {"/dev/zero", "Cannot read the sequence /dev/zero: it is not a regular file"},
      {"big.json", "The sequence big.json is larger than 4.0 MiB: it is not a test sequence"},
      {write("text.json", "steps: wait 1"), "The sequence text.json is not valid JSON (at byte 1)"},
      {write("named.json", R"({"name": 5, "steps": [{"wait": 1}]})"),
       "The sequence named.json has a \"name\" that is not a text"},
      {write("none.json", R"({"steps": []})"), "The sequence none.json has no steps"},
  };
  for (const auto& [path, said] : cases) EXPECT_EQ(refusal(path, bench), said) << path;
}

TEST(Sequence, TheReportRecordsWhatEachStepDidAndTheSettingsInForceForEachRow) {
  ScriptedBench bench;
  fs::create_directories("bits");
  std::ofstream("bits/aer640_sample.bit") << "bits";
  const Sequence sequence = load_sequence(write("run.json", R"({"name": "probe", "steps": [
      {"program": "bits/aer640_sample.bit"},
      {"set": "VTH_ON", "value": 1750},
      {"set": "BIAS_GAIN", "value": 7},
      {"measure": 0.4},
      {"expect": "on_rate_mean", "min": 1, "max": 1e12},
      {"expect": "on_rate_mean", "min": 1e12, "max": 1e13},
      {"record": 1},
      {"capture": true}]})"),
                                          bench);
  const Settings before = bench.settings();
  std::vector<std::string> lines;
  SequenceObserver observer;
  observer.done = [&](const Step& step, const std::string& outcome) {
    lines.push_back(step.describe() + ": " + outcome);
  };
  const SequenceReport report = run_sequence(sequence, bench, observer);
  EXPECT_TRUE(report.completed) << report.ended;
  EXPECT_EQ(report.exit_code(), 1);  // the second expectation cannot hold
  EXPECT_EQ(report.failed, 1);
  EXPECT_EQ(bench.calls.back(), "finish");
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0].substr(lines[0].find(": ")), ": done: the board holds aer640_sample");
  EXPECT_EQ(lines[6],
            "record 1 s: /r/rec.raw (2 KiB, 500 events, 3 dropped); 7,800,000 events "
            "lost by the board during the recording");
  const std::string csv = report_csv(sequence, report, before, bench.declaration());
  // The header tells what held before the run; the rows what held for them.
  EXPECT_NE(csv.find("# before the run: design aer640_stream (flash), mode Event stream, CTRL 1,"),
            std::string::npos)
      << csv;
  const auto row_of = [&](const std::string& start) {
    const auto at = csv.find("\n" + start);
    return at == std::string::npos ? "" : csv.substr(at + 1, csv.find('\n', at + 1) - at - 1);
  };
  const std::string measured = row_of("4,measure,");
  const auto set = expected_rates(sensor_settings(bench.bias(), SensorMode::EventStream));
  EXPECT_EQ(measured.rfind(fmt::format("4,measure,,,{:.1f},10.0,", set.on), 0), 0u) << measured;
  EXPECT_NE(measured.find(",aer640_sample,Event stream,"), std::string::npos) << measured;
  EXPECT_NE(measured.find(",1750,800,1200,1,1,0,7"), std::string::npos) << measured;
  EXPECT_NE(row_of("2,set,VTH_ON,1750,").find(",1750,"), std::string::npos);
  EXPECT_EQ(row_of("6,expect,")
                .find(fmt::format(",on_rate_mean,1e+12,1e+13,{:g},events/s,fail,", set.on)),
            std::string("6,expect,,").size() +
                measurement_columns(bench.declaration().adc_channels).size())
      << csv;
  EXPECT_NE(row_of("7,record,")
                .find("\"/r/rec.raw (2 KiB, 500 events, 3 dropped); 7,800,000 events "
                      "lost by the board during the recording\""),
            std::string::npos)
      << csv;
  EXPECT_NE(row_of("8,capture,").find("/c/capture_001.pgm"), std::string::npos);
  EXPECT_NE(csv.find("\n# result 1 of 2 expectations held (1 of 2 rows in range)\n"),
            std::string::npos)
      << csv;
  // Each expect line says the unit of what it tests, in its limits and its value.
  EXPECT_EQ(lines[5], fmt::format("expect on_rate_mean in 1e+12..1e+13 events/s: FAIL ({:g} "
                                  "events/s)",
                                  set.on));
}

TEST(Sequence, ASpreadFromOneIntervalIsUnavailableAndHoldsNoExpectation) {
  ScriptedBench bench;
  bench.intervals = 1;
  const Sequence sequence = load_sequence(write("spread.json", R"({"steps": [
      {"measure": 0.2}, {"expect": "on_rate_std", "min": 0, "max": 1e9}]})"),
                                          bench);
  std::vector<std::string> lines;
  SequenceObserver observer;
  observer.done = [&](const Step&, const std::string& outcome) { lines.push_back(outcome); };
  const SequenceReport report = run_sequence(sequence, bench, observer);
  EXPECT_EQ(report.failed, 1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("(sd unavailable)"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "FAIL (unavailable)");
  EXPECT_NE(report_csv(sequence, report, bench.settings(), bench.declaration())
                .find(",on_rate_std,0,1e+09,,events/s,fail,"),
            std::string::npos);
}

TEST(Sequence, TheResultCountsExpectStepsAndTheRowsTheyCheckedEachInItsUnit) {
  ScriptedBench bench;
  // Two expect steps: one on a single row of the sweep, one on each of its
  // three rows; then one on the ADC's supply.
  const Sequence sequence = load_sequence(write("counted.json", R"({"steps": [
      {"sweep": "VTH_ON", "values": [2000, 2200, 2400], "settle": 0, "measure": 0.2},
      {"expect": "on_rate_mean", "at": 2200, "min": 1, "max": 1e12},
      {"expect": "off_rate_mean", "min": 1e12, "max": 1e13},
      {"measure": 0.2},
      {"expect": "vdd_mean", "min": 1.7, "max": 1.9}]})"),
                                          bench);
  std::vector<std::string> lines;
  SequenceObserver observer;
  observer.done = [&](const Step& step, const std::string& outcome) {
    lines.push_back(step.describe() + ": " + outcome);
  };
  const SequenceReport report = run_sequence(sequence, bench, observer);
  ASSERT_TRUE(report.completed) << report.ended;
  EXPECT_EQ(expectations_text(report), "2 of 3 expectations held (2 of 5 rows in range)");
  EXPECT_NE(report_csv(sequence, report, bench.settings(), bench.declaration())
                .find("\n# result 2 of 3 expectations held (2 of 5 rows in range)\n"),
            std::string::npos);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].rfind("expect on_rate_mean in 1..1e+12 events/s at 2200: pass (", 0), 0u)
      << lines[1];
  EXPECT_NE(lines[1].find("pass (events/s at VTH_ON 2200: "), std::string::npos) << lines[1];
  EXPECT_EQ(lines[4], "expect vdd_mean in 1.7..1.9 V: pass (1.8 V)");
  EXPECT_EQ(Measurement::unit("temperature_mean"), "\u00b0C");
  EXPECT_EQ(Measurement::unit("ibias_mean"), "\u00b5A");
  EXPECT_EQ(Measurement::unit("on_off_ratio"), "ON/OFF");
}

TEST(Sequence, AFailureEndsTheRunAtItsStep) {
  ScriptedBench bench;
  bench.fail_set_at = 2;
  const Sequence sequence = load_sequence(
      write("fails.json", R"({"steps": [{"wait": 0}, {"set": "VTH_ON", "value": 100}]})"), bench);
  const SequenceReport report = run_sequence(sequence, bench, {});
  EXPECT_EQ(report.exit_code(), 2);
  EXPECT_EQ(report.ended,
            "ended at step 2 (set VTH_ON 100): No board is connected: VTH_ON not written");
  EXPECT_EQ(bench.calls.back(), "finish");
}

// ---- on the simulated board --------------------------------------------------------------

class OnTheBoard : public ::testing::Test {
 protected:
  OnTheBoard() : bench(board, BenchFolders::under(fs::current_path()), aborted) {}
  ~OnTheBoard() override { board.stop_acquisition(); }
  SimulatedDevice board;
  std::atomic<bool> aborted{false};
  BoardBench bench;
};

TEST_F(OnTheBoard, ARunProgramsMeasuresRecordsAndCapturesOnTheBoardItself) {
  fs::create_directories("bits");
  std::ofstream("bits/seq.bit", std::ios::binary)
      << make_bitstream("seq_design", std::string(4096, 'x'));
  board.bytes_per_second = 1e9;
  const Sequence sequence = load_sequence(write("board.json", R"({"steps": [
      {"program": "bits/seq.bit"}, {"set": "VTH_ON", "value": 2200}, {"measure": 0.3},
      {"record": 0.2}, {"capture": true}]})"),
                                          bench);
  const SequenceReport report = run_sequence(sequence, bench, {});
  ASSERT_TRUE(report.completed) << report.ended;
  EXPECT_EQ(board.design(), "seq_design");
  ASSERT_EQ(report.rows.size(), 5u);
  const Measurement& m = *report.rows[2].measurement;
  EXPECT_GT(m.on_mean, 0);
  EXPECT_EQ(setting(m.in_force, "VTH_ON"), "2200");
  EXPECT_EQ(setting(m.in_force, "design"), "seq_design");
  EXPECT_EQ(report.rows[3].note.rfind((fs::current_path() / "recordings/rec_").string(), 0), 0u)
      << report.rows[3].note;
  EXPECT_TRUE(fs::exists(report.rows[4].note));
  EXPECT_FALSE(board.acquiring()) << "the run left the stream it started running";
}

using Stall = testing_support::StreamStall;

using testing_support::eventually;

TEST_F(OnTheBoard, WhatTheBoardLosesIsToldAsSoonAsAWaitSeesItOnceAndWithItsCount) {
  std::vector<std::string> heard;
  bench.on_loss = [&](const std::string& news) { heard.push_back(news); };
  Stall stall;
  Subscription hear(board.events(), stall);
  board.start_acquisition();
  ASSERT_TRUE(eventually([&] { return stall.holding(); }));
  // More of the board's time than its FIFO holds goes by with the stream held.
  const std::int64_t from = board.clock().now_us();
  ASSERT_TRUE(eventually(
      [&] { return board.clock().now_us() > from + 2 * Acquisition::kMaxLagMicroseconds; }));
  stall.let_go();
  ASSERT_TRUE(eventually([&] { return board.lost_by_board() > 0; }));
  board.stop_acquisition();
  const std::uint64_t lost = board.lost_by_board();
  EXPECT_TRUE(heard.empty()) << "told before any wait looked";
  bench.wait(0);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], "The board lost " + count_text(lost) + " events (" + count_text(lost) +
                          " since its stream started)");
  bench.wait(0);
  EXPECT_EQ(heard.size(), 1u) << "the same loss told twice";
}

// A board whose events begin half a second after its start is answered, as
// a served board's first batch comes a moment after the server says started.
class LateStreamingBoard : public SimulatedDevice {
 public:
  ~LateStreamingBoard() override { LateStreamingBoard::stop_acquisition(); }
  void start_acquisition() override {
    asked_ = true;
    starter_ = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      SimulatedDevice::start_acquisition();
    });
  }
  void stop_acquisition() override {
    if (starter_.joinable()) starter_.join();
    asked_ = false;
    SimulatedDevice::stop_acquisition();
  }
  bool acquiring() const override { return asked_ || SimulatedDevice::acquiring(); }

 private:
  std::atomic<bool> asked_{false};
  std::thread starter_;
};

TEST(OnALateStream, AMeasurementOrCaptureThatStartsTheStreamBeginsWhenItsEventsFlow) {
  LateStreamingBoard board;
  std::atomic<bool> aborted{false};
  BoardBench bench(board, BenchFolders::under(fs::current_path()), aborted);
  const Measurement m = bench.measure(0.2);
  EXPECT_GT(m.on_mean, 0) << "the window closed before the first events came";
  bench.finish();
  ASSERT_FALSE(board.acquiring());
  fs::create_directories("captures");
  const std::string capture = bench.capture();
  bench.finish();
  std::ifstream in(capture, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(image.find("# no events"), std::string::npos) << "captured before the events came";
}

TEST(LostEvents, ACountThatGoesBackIsToldAsAFaultNeverAsAHugeLoss) {
  // A served board whose count restarted between the two readings of a recording.
  EventHub hub;
  Recorder recorder;
  start_recording(recorder, fs::current_path() / "went_back", Settings{{"board", "scripted"}});
  const std::uint64_t counts[] = {87, 0};  // before the wait, and after it
  std::size_t read = 0;
  const RecordingStats stats = record_stream(
      hub, recorder, [] {}, [&] { return counts[read++]; }, [] {});
  EXPECT_EQ(stats.lost_by_board, 0u);
  EXPECT_EQ(lost_during_text(stats),
            "the board's count of lost events went back from 87 to 0, so how many it lost "
            "meanwhile is not known");
  LossWatch watch;
  watch.restart(500);
  EXPECT_EQ(watch.look(80),
            "The board's count of lost events went back from 500 to 80, so how many it lost "
            "meanwhile is not known");
  EXPECT_EQ(watch.look(80), "");
  EXPECT_EQ(watch.look(81), "The board lost 1 event (81 since its stream started)");
}

TEST_F(OnTheBoard, ARecordStepCutShortKeepsItsFileAndTheRunNamesItReadBack) {
  const Sequence sequence =
      load_sequence(write("cut.json", R"({"steps": [{"record": 60}, {"wait": 1}]})"), bench);
  fs::remove_all("recordings");
  // The run is aborted once the recording holds events.
  std::thread abort([&] {
    eventually(
        [&] {
          std::error_code error;
          for (const auto& entry : fs::directory_iterator("recordings", error))
            if (fs::file_size(entry.path(), error) > (64 << 10)) return true;
          return false;
        },
        std::chrono::seconds(20));
    aborted = true;
  });
  const SequenceReport report = run_sequence(sequence, bench, {});
  abort.join();
  ASSERT_FALSE(report.completed);
  const std::string kept =
      "; the recording so far is kept: " + (fs::current_path() / "recordings/rec_").string();
  EXPECT_EQ(report.ended.rfind("aborted at step 1 (record 60 s)" + kept, 0), 0u) << report.ended;
  EXPECT_THAT(report.ended, ::testing::ContainsRegex(" events\\), readable$")) << report.ended;
  ASSERT_EQ(report.rows.size(), 1u);
  EXPECT_EQ(report.rows[0].kind, "record");
  EXPECT_EQ(report.rows[0].note, "cut short: " + report.ended.substr(report.ended.find(kept) + 2));
}

// ---- test records ------------------------------------------------------------------------

using results::Outcome;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(RunRecord, EveryStepMeasurementAndLimitIsKeptAndAFailedExpectNamesItsStep) {
  ScriptedBench bench;
  fs::create_directories("bits");
  std::ofstream("bits/aer640_sample.bit") << "bits";
  const std::string path = write("recorded.json", R"({"name": "probe", "steps": [
      {"program": "bits/aer640_sample.bit"},
      {"set": "VTH_ON", "value": 1750},
      {"measure": 0.4},
      {"expect": "on_rate_mean", "min": 1, "max": 1e12},
      {"expect": "on_rate_mean", "min": 1e12, "max": 1e13},
      {"expect": "vdd_mean", "min": 1.7, "max": 1.9}]})");
  const Sequence sequence = load_sequence(path, bench);
  std::vector<results::TestRecord> kept;
  SequenceRecord record(record_start("run-1", "sequence", bench, {"bench-7", "ada", "chip-42"}),
                        sequence, [&](const results::TestRecord& r) { kept.push_back(r); });
  const SequenceReport report = run_sequence(sequence, bench, record.observer({}));
  std::ofstream("recorded.csv") << "the report";
  const results::TestRecord& r = record.finish(report, {{"report", "recorded.csv"}});

  EXPECT_EQ(r.run_id, "run-1");
  EXPECT_EQ(r.kind, "sequence");
  EXPECT_EQ(r.station, "bench-7");
  EXPECT_EQ(r.operator_name, "ada");
  EXPECT_EQ(r.dut, "chip-42");  // the scripted board gives no chip id
  EXPECT_EQ(r.board_identity, "scripted");
  EXPECT_EQ(r.design, "aer640_stream (flash)");  // as it was when the run started
  EXPECT_EQ(r.sequence_path, fs::absolute(path).string());
  EXPECT_EQ(r.sequence_sha256, results::sha256_hex(contents(path)));
  EXPECT_EQ(r.bench_version, kVersion);
  EXPECT_EQ(setting(r.settings_before, "VTH_ON"), "2400");  // before the set to 1750
  EXPECT_LE(r.started, r.ended);

  ASSERT_EQ(r.steps.size(), 6u);
  std::vector<std::string> kinds;
  for (const auto& step : r.steps) kinds.push_back(step.kind);
  EXPECT_THAT(kinds, ElementsAre("program", "set", "measure", "expect", "expect", "expect"));
  EXPECT_EQ(r.steps[1].what, "set VTH_ON 1750: done");
  EXPECT_EQ(r.steps[3].outcome, Outcome::Pass);
  EXPECT_EQ(r.steps[4].outcome, Outcome::Fail);
  EXPECT_EQ(r.steps[4].what.rfind("expect on_rate_mean in 1e+12..1e+13 events/s: FAIL (", 0), 0u)
      << r.steps[4].what;
  EXPECT_EQ(r.outcome, Outcome::Fail);
  EXPECT_EQ(r.ended_because, "step 5 (" + r.steps[4].what + ")");

  // The measure's values with their units; the limits on the value each expect tested.
  const auto set = expected_rates(sensor_settings(bench.bias(), SensorMode::EventStream));
  std::vector<std::string> names;
  for (const auto& m : r.measurements) names.push_back(m.name + "@" + std::to_string(m.step));
  EXPECT_THAT(names, ElementsAre("on_rate_mean@3", "on_rate_std@3", "off_rate_mean@3",
                                 "off_rate_std@3", "on_off_ratio@3", "vdd_mean@3", "vddio_mean@3",
                                 "temperature_mean@3", "ibias_mean@3", "on_rate_mean@5"));
  const auto& measured = r.measurements[0];
  EXPECT_DOUBLE_EQ(measured.value, set.on);
  EXPECT_EQ(measured.unit, "events/s");
  EXPECT_EQ(measured.low, 1.0);
  EXPECT_EQ(measured.high, 1e12);
  EXPECT_EQ(measured.outcome, Outcome::Pass);
  const auto& again = r.measurements.back();
  EXPECT_DOUBLE_EQ(again.value, set.on);
  EXPECT_EQ(again.low, 1e12);
  EXPECT_EQ(again.outcome, Outcome::Fail);
  const auto& vdd = r.measurements[5];
  EXPECT_DOUBLE_EQ(vdd.value, 1.8);
  EXPECT_EQ(vdd.unit, "V");
  EXPECT_EQ(vdd.low, 1.7);
  EXPECT_EQ(vdd.high, 1.9);
  EXPECT_FALSE(r.measurements[1].low.has_value());  // on_rate_std was not tested

  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].role, "report");
  EXPECT_EQ(r.files[0].path, fs::absolute("recorded.csv").string());
  EXPECT_EQ(r.files[0].size, 10u);
  EXPECT_EQ(r.files[0].sha256, results::sha256_hex("the report"));

  // Kept as it went: at the start, then after each step, INCOMPLETE and whole.
  ASSERT_EQ(kept.size(), 7u);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].run_id, "run-1");
    EXPECT_EQ(kept[i].outcome, Outcome::Incomplete);
    EXPECT_EQ(kept[i].steps.size(), i);
  }
  EXPECT_EQ(kept[3].measurements.size(), 9u);
}

TEST(RunRecord, ARunThatFailsOrIsAbortedEndsOnTheStepWhereItStopped) {
  ScriptedBench failing;
  failing.fail_set_at = 2;
  const Sequence sequence =
      load_sequence(write("stops.json", R"({"steps": [{"wait": 0}, {"set": "VTH_ON", "value": 100},
                                        {"measure": 0.2}]})"),
                    failing);
  std::vector<results::TestRecord> kept;
  SequenceRecord failed(record_start("run-2", "sequence", failing, {}), sequence,
                        [&](const results::TestRecord& r) { kept.push_back(r); });
  const results::TestRecord& r =
      failed.finish(run_sequence(sequence, failing, failed.observer({})), {});
  EXPECT_EQ(r.outcome, Outcome::Error);
  EXPECT_EQ(r.ended_because,
            "ended at step 2 (set VTH_ON 100): No board is connected: VTH_ON not written");
  ASSERT_EQ(r.steps.size(), 2u);
  EXPECT_EQ(r.steps[0].outcome, Outcome::Pass);
  EXPECT_EQ(r.steps[1].number, 2);
  EXPECT_EQ(r.steps[1].kind, "set");
  EXPECT_EQ(r.steps[1].outcome, Outcome::Error);
  EXPECT_EQ(r.station, results::default_station_name());  // none configured
  ASSERT_EQ(kept.size(), 2u);                             // at the start, and after the wait
  EXPECT_EQ(kept.back().steps.size(), 1u);

  ScriptedBench aborting;
  aborting.abort_at = 1;
  SequenceRecord aborted(record_start("run-3", "sequence", aborting, {}), sequence, nullptr);
  const results::TestRecord& a =
      aborted.finish(run_sequence(sequence, aborting, aborted.observer({})), {});
  EXPECT_EQ(a.outcome, Outcome::Aborted);
  ASSERT_EQ(a.steps.size(), 1u);
  EXPECT_EQ(a.steps[0].outcome, Outcome::Aborted);
  EXPECT_EQ(a.ended_because, "aborted at step 1 (wait 0 s)");
}

TEST(RunRecord, ASweepsRecordHasAStepAndMeasurementsPerValueAndSaysWhyItStopped) {
  ScriptedBench bench;
  SweepPlan plan;
  plan.name = "VTH_ON";
  plan.values = {2000, 2200, 2400};
  plan.unit = "mV";
  const auto start = record_start("run-4", "sweep", bench, {"", "", "dut-1"});
  const results::TestRecord whole = sweep_record(start, plan, run_sweep(plan, bench, nullptr),
                                                 bench.declaration().adc_channels, {});
  EXPECT_EQ(whole.kind, "sweep");
  EXPECT_EQ(whole.outcome, Outcome::Pass);
  ASSERT_EQ(whole.steps.size(), 3u);
  EXPECT_EQ(whole.steps[2].what, "VTH_ON 2400 mV: measured");
  std::vector<std::string> at_2400;
  for (const auto& m : whole.measurements)
    if (m.step == 3) at_2400.push_back(m.name);
  EXPECT_EQ(at_2400.front(), "on_rate_mean at VTH_ON 2400");
  EXPECT_EQ(at_2400.size(), Measurement::names().size());

  ScriptedBench failing;
  failing.fail_set_at = 4;  // the second value's write
  const std::int64_t before = failing.get("VTH_ON");
  const results::TestRecord cut = sweep_record(start, plan, run_sweep(plan, failing, nullptr),
                                               failing.declaration().adc_channels, {});
  EXPECT_EQ(cut.outcome, Outcome::Error);
  ASSERT_EQ(cut.steps.size(), 2u);
  EXPECT_EQ(cut.steps[1].outcome, Outcome::Error);
  EXPECT_EQ(cut.ended_because,
            "ended at step 2 of 3: No board is connected: VTH_ON not written; VTH_ON restored to " +
                std::to_string(before));
}

TEST(RunRecord, ASweepUnderWayIsKeptIncompleteWithTheValuesItMeasuredAndTheirTimes) {
  ScriptedBench bench;
  SweepPlan plan;
  plan.name = "VTH_ON";
  plan.values = {2000, 2200, 2400};
  const auto start = record_start("run-8", "sweep", bench, {});
  std::vector<results::TestRecord> kept;
  std::vector<SweepRow> rows;
  run_sweep(plan, bench, [&](std::size_t, const SweepRow& row) {
    rows.push_back(row);
    kept.push_back(sweep_progress(start, plan, rows, bench.declaration().adc_channels));
  });
  ASSERT_EQ(kept.size(), 3u);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].kind, "sweep");
    EXPECT_EQ(kept[i].outcome, Outcome::Incomplete);
    ASSERT_EQ(kept[i].steps.size(), i + 1);
    EXPECT_EQ(kept[i].measurements.size(), (i + 1) * Measurement::names().size());
    EXPECT_EQ(kept[i].ended, kept[i].steps.back().ended);
  }
  EXPECT_EQ(kept[1].steps[1].what, "VTH_ON 2200: measured");
  // Each value's step from its setting to the end of its measuring, in order.
  const auto& steps = kept.back().steps;
  EXPECT_LE(start.started, steps[0].started);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_LE(steps[i].started, steps[i].ended);
    if (i > 0) {
      EXPECT_LE(steps[i - 1].ended, steps[i].started);
    }
  }
  EXPECT_TRUE(sweep_progress(start, plan, {}, {}).steps.empty());
}

TEST(RunRecord, TheSelfTestsRecordHasEveryCheckItsValuesAgainstTheirLimitsAndWhatCouldNotRun) {
  const auto at = [](int ms) {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(1'780'000'000'000 + ms));
  };
  results::TestRecord start;
  start.run_id = "run-9";
  start.started = 1'780'000'000'000'000;
  start.outcome = Outcome::Incomplete;
  SelfTestStep identity{"identity", StepResult::Passed, "AER-640, serial SIM-0001", {}, at(0),
                        at(5)};
  SelfTestStep supplies{"ADC supplies",
                        StepResult::Failed,
                        "VDD is 1.950 V",
                        {{"vdd", 1.95, "V", 1.71, 1.89}, {"vddio", 3.3, "V", 3.135, 3.465}},
                        at(5),
                        at(1005)};
  SelfTestStep counted{"register read",
                       StepResult::Passed,
                       "123 registers read in 3 banks",
                       {{"registers_read", 123, "", std::nullopt, std::nullopt}},
                       at(1005),
                       at(1006)};
  const results::TestRecord failed = self_test_record(start, {identity, supplies, counted});
  EXPECT_EQ(failed.kind, "self-test");
  EXPECT_EQ(failed.run_id, "run-9");
  EXPECT_EQ(failed.outcome, Outcome::Fail);
  EXPECT_EQ(failed.ended_because, "step 2 (ADC supplies) failed: VDD is 1.950 V");
  ASSERT_EQ(failed.steps.size(), 3u);
  EXPECT_EQ(failed.steps[0].kind, "identity");
  EXPECT_EQ(failed.steps[0].what, "identity: passed; AER-640, serial SIM-0001");
  EXPECT_EQ(failed.steps[0].outcome, Outcome::Pass);
  EXPECT_EQ(failed.steps[1].what, "ADC supplies: FAILED; VDD is 1.950 V");
  EXPECT_EQ(failed.steps[1].outcome, Outcome::Fail);
  EXPECT_EQ(failed.steps[1].started, 1'780'000'000'005'000);
  EXPECT_EQ(failed.steps[1].ended, 1'780'000'001'005'000);
  EXPECT_EQ(failed.ended, 1'780'000'001'006'000);
  ASSERT_EQ(failed.measurements.size(), 3u);
  const auto& vdd = failed.measurements[0];
  EXPECT_EQ(vdd.step, 2);
  EXPECT_EQ(vdd.name, "vdd");
  EXPECT_EQ(vdd.value, 1.95);
  EXPECT_EQ(vdd.unit, "V");
  EXPECT_EQ(vdd.low, 1.71);
  EXPECT_EQ(vdd.high, 1.89);
  EXPECT_EQ(vdd.outcome, Outcome::Fail);  // above its high limit
  EXPECT_EQ(failed.measurements[1].outcome, Outcome::Pass);
  EXPECT_EQ(failed.measurements[2].step, 3);
  EXPECT_FALSE(failed.measurements[2].low.has_value());
  EXPECT_EQ(failed.measurements[2].outcome, Outcome::Pass);

  // A check that could not run is an error, never a pass, and says why.
  SelfTestStep not_run{
      "event stream", StepResult::NotRun, "not run: no board is connected", {}, at(7), at(7)};
  const results::TestRecord cut = self_test_record(start, {identity, not_run});
  EXPECT_EQ(cut.outcome, Outcome::Error);
  EXPECT_EQ(cut.steps[1].outcome, Outcome::Error);
  EXPECT_EQ(cut.steps[1].what, "event stream: not run: no board is connected");
  EXPECT_EQ(cut.ended_because, "step 2 (event stream) not run: no board is connected");
  const results::TestRecord both = self_test_record(start, {supplies, not_run});
  EXPECT_EQ(both.outcome, Outcome::Error);
  EXPECT_EQ(both.ended_because,
            "step 1 (ADC supplies) failed: VDD is 1.950 V; step 2 (event stream) not run: no "
            "board is connected");
  const results::TestRecord passed = self_test_record(start, {identity, counted});
  EXPECT_EQ(passed.outcome, Outcome::Pass);
  EXPECT_EQ(passed.ended_because, "");
}

TEST(RunRecord, TheChipsOwnIdIsTheDeviceUnderTestWhereTheBoardGivesOne) {
  SimulatedDevice aer320(SimulatedSensor::Aer320);
  std::atomic<bool> never{false};
  BoardBench bench(aer320, BenchFolders::under(fs::current_path()), never);
  const results::TestRecord r = record_start("run-5", "sequence", bench, {"", "", "typed-in"});
  EXPECT_EQ(r.dut, "0x320A");
  EXPECT_EQ(r.board_serial, aer320.read_identity().serial_number);
  EXPECT_FALSE(r.board_serial.empty());
  EXPECT_EQ(r.board_identity, identity_of(aer320));
  SimulatedDevice aer640;
  BoardBench other(aer640, BenchFolders::under(fs::current_path()), never);
  EXPECT_EQ(record_start("run-6", "sequence", other, {"", "", "typed-in"}).dut, "typed-in");
}

TEST_F(OnTheBoard, ARecordingAndACaptureAreKeptByPathSizeAndHashEvenWhenARunIsCutShort) {
  FileNotingBench noting(bench);
  const Sequence sequence = load_sequence(
      write("files.json", R"({"steps": [{"record": 0.2}, {"capture": true}, {"record": 60}]})"),
      noting);
  fs::remove_all("recordings");
  SequenceRecord record(record_start("run-7", "sequence", noting, {}), sequence, nullptr);
  // The run is aborted once the second recording holds events.
  std::thread abort([&] {
    eventually(
        [&] {
          std::error_code error;
          int growing = 0;
          for (const auto& entry : fs::directory_iterator("recordings", error))
            growing += fs::file_size(entry.path(), error) > (64 << 10);
          return growing == 2;
        },
        std::chrono::seconds(20));
    aborted = true;
  });
  const SequenceReport report = run_sequence(sequence, noting, record.observer({}));
  abort.join();
  const results::TestRecord& r = record.finish(report, noting.files());
  EXPECT_EQ(r.outcome, Outcome::Aborted);
  ASSERT_EQ(r.files.size(), 3u);
  std::vector<std::string> roles;
  for (const auto& file : r.files) {
    roles.push_back(file.role);
    EXPECT_TRUE(fs::path(file.path).is_absolute()) << file.path;
    EXPECT_EQ(file.size, fs::file_size(file.path)) << file.path;
    EXPECT_EQ(file.sha256, results::sha256_hex(contents(file.path))) << file.path;
  }
  EXPECT_THAT(roles, ElementsAre("recording", "capture", "recording"));
}

}  // namespace
}  // namespace Zelvar_Core::bench
