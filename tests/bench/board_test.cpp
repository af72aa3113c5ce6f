// The simulated board without windows: bitstreams, programming, the sensor,
// the acquisition and ADC threads, and the model's checks.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "bench/acquisition.h"
#include "bench/adc_sampler.h"
#include "bench/bitstream.h"
#include "bench/simulated_board.h"

namespace Zelvar_Core::bench {
namespace {

using namespace std::chrono_literals;

// Waits (up to 5 s) for a condition that a thread makes true.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(Bitstream, HeaderGivesDesignPartAndLength) {
  const std::string data(1000, '\x5a');
  const auto header = parse_bitstream_header(make_bitstream("aer640_top", data));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->design, "aer640_top");  // the text after ';' is not the name
  EXPECT_EQ(header->part, "sim640");
  EXPECT_EQ(header->date, "2026/12/08");
  EXPECT_EQ(header->data_length, 1000u);
  EXPECT_FALSE(parse_bitstream_header(data));  // raw configuration data
  EXPECT_FALSE(parse_bitstream_header(""));
}

TEST(Bitstream, CutOrDamagedHeaderIsRefused) {
  const std::string whole = make_bitstream("top", std::string(100, 'x'));
  for (std::size_t cut : {14u, 20u, 40u, 60u, 70u}) {
    EXPECT_THROW(parse_bitstream_header(whole.substr(0, cut)), std::invalid_argument) << cut;
  }
  std::string wrong_key = whole;
  wrong_key[13] = 'z';  // where the design field's key belongs
  EXPECT_THROW(parse_bitstream_header(wrong_key), std::invalid_argument);
}

class Recorder : public ProgrammingObserver {
 public:
  void begin(const std::string& design, std::size_t bytes) override {
    events.push_back("begin " + design + " " + std::to_string(bytes));
  }
  bool advance(std::size_t done) override {
    progress.push_back(done);
    return cancel_at == 0 || done < cancel_at;
  }
  void end() override { events.push_back("end"); }
  std::vector<std::string> events;
  std::vector<std::size_t> progress;
  std::size_t cancel_at = 0;
};

class Programming : public ::testing::Test {
 protected:
  Programming() {
    device.bytes_per_second = 1e9;  // the tests need not wait like a real board
    device.programming_observer = &recorder;
  }
  SimulatedDevice device;
  Recorder recorder;
};

TEST_F(Programming, ReportsProgressAndLoadsTheHeadersDesign) {
  write_file("design.bit", make_bitstream("aer640_top", std::string(300000, '\1')));
  device.program("design.bit");
  EXPECT_EQ(device.loaded_design, "aer640_top");
  ASSERT_EQ(recorder.events.size(), 2u);
  EXPECT_EQ(recorder.events[0].rfind("begin aer640_top ", 0), 0u);
  EXPECT_EQ(recorder.events[1], "end");
  ASSERT_GE(recorder.progress.size(), 4u);  // 64 kB at a time
  EXPECT_TRUE(std::is_sorted(recorder.progress.begin(), recorder.progress.end()));
  EXPECT_EQ(recorder.progress.back(), std::filesystem::file_size("design.bit"));
}

TEST_F(Programming, FileWithoutHeaderIsNamedByItsFileName) {
  write_file("raw_image.bit", "bits");
  device.program("raw_image.bit");
  EXPECT_EQ(device.loaded_design, "raw_image.bit");
}

TEST_F(Programming, BadFilesAreRefusedWithTheirPathAndKeepTheDesign) {
  write_file("empty.bit", "");
  write_file("damaged.bit", make_bitstream("x", "data").substr(0, 30));
  const std::pair<std::string, std::string> cases[] = {
      {"/no/such/file.bit", "Cannot open the bitstream /no/such/file.bit"},
      {"empty.bit", "The bitstream empty.bit is empty"},
      {"damaged.bit", "The bitstream damaged.bit is damaged"},
      {".", "Cannot read the bitstream ."},  // a folder opens but cannot be read
  };
  for (const auto& [path, message] : cases) {
    try {
      device.program(path);
      ADD_FAILURE() << "accepted " << path;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
    }
    EXPECT_EQ(device.loaded_design, SimulatedDevice::kFlashDesign) << path;
  }
  EXPECT_TRUE(recorder.events.empty());  // nothing was written to the board
}

TEST_F(Programming, FailureMidwayEndsTheRunClearsTheDesignAndIsOneShot) {
  write_file("design.bit", make_bitstream("top", std::string(640 * 1024, '\1')));
  device.fail_next_program = true;
  try {
    device.program("design.bit");
    ADD_FAILURE() << "programming did not fail";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("the board stopped answering"), std::string::npos);
  }
  EXPECT_EQ(recorder.events.back(), "end");  // the progress dialog goes
  EXPECT_EQ(device.loaded_design, "");
  EXPECT_FALSE(device.fail_next_program);
  device.program("design.bit");
  EXPECT_EQ(device.loaded_design, "top");
}

TEST_F(Programming, CancelAndDisconnectedBoardAreRefused) {
  write_file("design.bit", std::string(640 * 1024, '\1'));
  recorder.cancel_at = 200000;
  EXPECT_THROW(device.program("design.bit"), std::runtime_error);
  EXPECT_EQ(recorder.events.back(), "end");
  EXPECT_EQ(device.loaded_design, "");
  int heard = 0;
  device.connection_listener = [&] { ++heard; };
  device.set_connected(false);
  EXPECT_EQ(heard, 1);
  EXPECT_THROW(device.program("design.bit"), std::runtime_error);
  device.set_connected(true);
  EXPECT_EQ(heard, 2);
  EXPECT_EQ(device.loaded_design, SimulatedDevice::kFlashDesign);
}

TEST(SensorSettings, BiasesSetTheRate) {
  const BiasPoint nominal;
  const double rate = sensor_settings(nominal, SensorMode::EventStream).total_rate();
  EXPECT_GT(rate, 1e6);
  BiasPoint narrow = nominal;  // thresholds closer to the reference: more events
  narrow.vth_on -= 400;
  narrow.vth_off += 400;
  EXPECT_GT(sensor_settings(narrow, SensorMode::EventStream).total_rate(), 1.5 * rate);
  BiasPoint weak = nominal;
  weak.vbias_pr = 600;
  EXPECT_LT(sensor_settings(weak, SensorMode::EventStream).total_rate(), rate);
  BiasPoint gain = nominal;
  gain.bias_gain = 7;
  EXPECT_GT(sensor_settings(gain, SensorMode::EventStream).signal_rate,
            sensor_settings(nominal, SensorMode::EventStream).signal_rate);
  BiasPoint off = nominal;
  off.aer_enabled = false;
  EXPECT_EQ(sensor_settings(off, SensorMode::EventStream).total_rate(), 0);
  BiasPoint reset = nominal;
  reset.out_of_reset = false;
  EXPECT_EQ(sensor_settings(reset, SensorMode::EventStream).total_rate(), 0);
  EXPECT_EQ(sensor_settings(nominal, SensorMode::Standby).total_rate(), 0);
  // Crossed thresholds do not make the rate negative or infinite.
  BiasPoint crossed = nominal;
  crossed.vth_on = 0;
  crossed.vth_off = 4095;
  const double extreme = sensor_settings(crossed, SensorMode::EventStream).total_rate();
  EXPECT_GT(extreme, 0);
  EXPECT_LE(extreme, 25e6);
}

TEST(EventSensor, EventsLieOnTheSensorAndHaveBothPolarities) {
  EventSensor sensor;
  for (auto mode : {SensorMode::EventStream, SensorMode::TestPattern}) {
    std::vector<AerWord> events;
    sensor.generate(1.25, 100000, 0.1, mode, events);
    EXPECT_GT(events.size(), 90000u);
    std::size_t on = 0;
    for (auto w : events) {
      ASSERT_LT(aer_x(w), kSensorWidth);
      ASSERT_LT(aer_y(w), kSensorHeight);
      on += aer_on(w);
    }
    EXPECT_GT(on, events.size() / 5);
    EXPECT_LT(on, events.size() * 4 / 5);
  }
  std::vector<AerWord> none;
  sensor.generate(0, 1000, 0, SensorMode::Standby, none);
  EXPECT_TRUE(none.empty());
}

TEST(EventSensor, TheSceneMoves) {
  EventSensor sensor;
  auto centre_x = [&](double t) {
    std::vector<AerWord> events;
    sensor.generate(t, 20000, 0, SensorMode::EventStream, events);
    EventFrame frame;
    frame.accumulate(events.data(), events.size());
    double sum = 0, weight = 0;
    for (int y = 0; y < kSensorHeight; ++y)
      for (int x = 0; x < kSensorWidth; ++x) {
        const double w = std::abs(frame.counts[y * kSensorWidth + x]);
        sum += w * x;
        weight += w;
      }
    return sum / weight;
  };
  EXPECT_GT(std::abs(centre_x(0.0) - centre_x(1.5)), 20);
}

TEST(EventFrame, AccumulatesNetCountsAndSaturates) {
  EventFrame frame;
  std::vector<AerWord> events(40000, aer_word(639, 479, true));
  events.push_back(aer_word(0, 0, false));
  events.push_back(aer_word(0, 0, false));
  events.push_back(aer_word(0, 0, true));
  frame.accumulate(events.data(), events.size());
  EXPECT_EQ(frame.counts.back(), 32767);
  EXPECT_EQ(frame.counts.front(), -1);
  frame.clear();
  EXPECT_EQ(frame.counts.back(), 0);
}

TEST(Acquisition, AccumulatesAtTheRateAndStops) {
  std::vector<std::string> errors;
  Acquisition acquisition([&](const std::string& e) { errors.push_back(e); });
  SensorSettings settings;
  settings.signal_rate = 1e6;
  acquisition.set_settings(settings);
  acquisition.start();
  EXPECT_TRUE(acquisition.running());
  ASSERT_TRUE(eventually([&] { return acquisition.events() > 50000; }));
  EventFrame frame;
  acquisition.take_frame(frame);
  long total = 0;
  for (auto v : frame.counts) total += std::abs(v);
  EXPECT_GT(total, 0);
  acquisition.stop();
  EXPECT_FALSE(acquisition.running());
  const auto events = acquisition.events();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(acquisition.events(), events);
  EXPECT_TRUE(errors.empty());
}

TEST(Acquisition, BrokenStreamIsReportedAndEndsTheThread) {
  std::mutex mutex;
  std::vector<std::string> errors;
  Acquisition acquisition([&](const std::string& e) {
    std::lock_guard lock(mutex);
    errors.push_back(e);
  });
  acquisition.start();
  acquisition.fail_next_read();
  ASSERT_TRUE(eventually([&] { return !acquisition.running(); }));
  std::lock_guard lock(mutex);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Acquisition stopped: The event stream broke off");
  acquisition.start();  // and it can start again
  EXPECT_TRUE(acquisition.running());
}

TEST(AdcSampler, DeliversReadingsUntilStopped) {
  AnalogFrontEnd front_end;
  std::mutex mutex;
  std::vector<AdcReading> readings;
  AdcSampler sampler(
      front_end,
      [&](AdcReading r) {
        std::lock_guard lock(mutex);
        readings.push_back(r);
      },
      nullptr);
  sampler.start(0.01);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return readings.size() >= 5;
  }));
  sampler.stop();
  EXPECT_FALSE(sampler.running());
  std::lock_guard lock(mutex);
  const auto count = readings.size();
  for (std::size_t i = 1; i < count; ++i) EXPECT_GT(readings[i].time, readings[i - 1].time);
  for (const auto& r : readings) {
    EXPECT_EQ(r.run, sampler.run());
    ASSERT_EQ(r.values.size(), 4u);
    EXPECT_NEAR(r.values[0], 1.8, 0.05);
    EXPECT_NEAR(r.values[1], 3.3, 0.05);
  }
  mutex.unlock();
  std::this_thread::sleep_for(50ms);
  mutex.lock();
  EXPECT_EQ(readings.size(), count);
}

TEST(AdcSampler, AnUnpluggedBoardEndsSamplingWithAnError) {
  AnalogFrontEnd front_end;
  front_end.powered = false;
  std::mutex mutex;
  std::string error;
  AdcSampler sampler(
      front_end, [](AdcReading) {},
      [&](const std::string& e) {
        std::lock_guard lock(mutex);
        error = e;
      });
  sampler.start(0.01);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return !error.empty();
  }));
  EXPECT_EQ(error, "ADC sampling stopped: the board does not answer");
}

TEST(BenchModel, WritesAreCheckedByName) {
  BenchModel model;
  EXPECT_EQ(model.write_value("VTH_ON", "2500"), "");
  EXPECT_EQ(model.value_of("VTH_ON"), 2500);
  EXPECT_EQ(model.write_value("VTH_ON", "5000"), "VTH_ON: 5000 is outside 0..4095");
  EXPECT_EQ(model.write_value("CTRL", "12ab"), "CTRL: \"12ab\" is not an integer");
  EXPECT_EQ(model.write_value("CTRL", ""), "CTRL: \"\" is not an integer");
  EXPECT_EQ(model.write_value("CTRL", "99999999999999999999"),
            "CTRL: \"99999999999999999999\" is not an integer");
  EXPECT_EQ(model.write_value("NOPE", "1"), "NOPE: no such register");
  EXPECT_EQ(model.value_of("VTH_ON"), 2500);
  EXPECT_THROW(model.write_signal("BIAS_GAIN", 9), std::out_of_range);
  EXPECT_THROW(model.write_signal("NOPE", 1), std::out_of_range);
  model.write_signal("EN_AER", 0);
  EXPECT_FALSE(model.bias_point().aer_enabled);
}

TEST(BenchModel, ReadFailuresAreOneShotAndADisconnectedBoardRefuses) {
  BenchModel model;
  int reads = 0;
  model.on_registers_read = [&] { ++reads; };
  model.simulated_device.fail_next_register_read = true;
  EXPECT_THROW(model.read_dev_registers(), std::runtime_error);
  model.read_dev_registers();
  EXPECT_EQ(reads, 1);
  model.simulated_device.set_connected(false);
  EXPECT_THROW(model.read_dev_registers(), std::runtime_error);
  EXPECT_THROW(model.read_signals(), std::runtime_error);
  EXPECT_THROW(model.write_signal("EN_AER", 1), std::runtime_error);
  EXPECT_EQ(model.write_value("CTRL", "3"), "CTRL: no board is connected");
  EXPECT_EQ(model.value_of("CTRL"), 1);
}

}  // namespace
}  // namespace Zelvar_Core::bench
