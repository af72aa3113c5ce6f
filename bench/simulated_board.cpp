#include "bench/simulated_board.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "bench/bitstream.h"

namespace Zelvar_Core::bench {

void SimulatedActions::issue(const std::string& name) {
  issued.push_back(name);
  if (on_reset) on_reset(name);
}

SimulatedDevice::SimulatedDevice() {
  is_connected = true;
  actions = &simulated_actions;
  info = {"Zelvar Labs", "AER-640 sensor board (simulated)", "SIM-0001", "1.4.2"};
  loaded_design = kFlashDesign;
}

void SimulatedDevice::set_connected(bool connected) {
  is_connected = connected;
  // Powered up, the board loads the design kept in its flash; unplugged, it has none.
  loaded_design = connected ? kFlashDesign : "";
  if (connection_listener) connection_listener();
}

namespace {

std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Ends the observer's run however programming ends.
class ObservedRun {
 public:
  ObservedRun(ProgrammingObserver* observer, const std::string& design, std::size_t bytes)
      : observer_(observer) {
    if (observer_) observer_->begin(design, bytes);
  }
  ~ObservedRun() {
    if (observer_) observer_->end();
  }
  bool advance(std::size_t done) { return observer_ == nullptr || observer_->advance(done); }

 private:
  ProgrammingObserver* observer_;
};

}  // namespace

void SimulatedDevice::program(const std::string& path) {
  if (!is_connected) throw std::runtime_error("Cannot program: no board is connected");
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw std::runtime_error("Cannot read the bitstream " + path + ": it is a folder");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("Cannot open the bitstream " + path);
  std::ostringstream content_stream;
  content_stream << file.rdbuf();
  if (file.bad()) throw std::runtime_error("Cannot read the bitstream " + path);
  const std::string content = content_stream.str();
  if (content.empty()) throw std::runtime_error("The bitstream " + path + " is empty");
  std::optional<BitstreamHeader> header;
  try {
    header = parse_bitstream_header(content);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error("The bitstream " + path + " is damaged: " + e.what());
  }
  const std::string design = header && !header->design.empty() ? header->design : file_name(path);

  ObservedRun run(programming_observer, design, content.size());
  loaded_design.clear();  // the board drops its configuration when a new one starts
  constexpr std::size_t kChunk = 64 * 1024;
  const auto chunk_time = std::chrono::duration<double>(kChunk / bytes_per_second);
  const bool fail = fail_next_program;
  fail_next_program = false;
  for (std::size_t done = 0; done < content.size();) {
    done = std::min(content.size(), done + kChunk);
    std::this_thread::sleep_for(chunk_time);
    if (fail && done * 10 >= content.size() * 4) {
      throw std::runtime_error("Programming failed at " +
                               std::to_string(done * 100 / content.size()) +
                               "%: the board stopped answering");
    }
    if (!run.advance(done)) throw std::runtime_error("Programming cancelled");
  }
  loaded_design = design;
}

void SimulatedHistogram::set_settings(double max_, double min_, int bins_) {
  if (!std::isfinite(max_) || !std::isfinite(min_))
    throw std::invalid_argument("Histogram: max and min must be finite numbers");
  if (bins_ < 1 || bins_ > 4096 || !(max_ > min_))
    throw std::invalid_argument("Histogram: max must exceed min and bins be 1..4096");
  max = max_;
  min = min_;
  bins = bins_;
}

BenchModel::BenchModel() {
  device = &simulated_device;
  img_histogram = &histogram;
  registers = {{"CTRL", 1, 0, 255},
               {"FIFO_THRESHOLD", 512, 0, 4095},
               {"TIMESTAMP_DIV", 50, 1, 1000},
               {"ROI_X0", 0, 0, 639},
               {"ROI_Y0", 0, 0, 479}};
  dacs = {{"VBIAS_PR", 1800, 0, 4095},
          {"VBIAS_REF", 1600, 0, 4095},
          {"VTH_ON", 2400, 0, 4095},
          {"VTH_OFF", 800, 0, 4095},
          {"IBIAS", 1200, 0, 4095}};
  signals = {
      {"EN_AER", 1, 0, 1}, {"RST_N", 1, 0, 1}, {"TEST_MODE", 0, 0, 1}, {"BIAS_GAIN", 3, 0, 7}};
}

void BenchModel::read_dev_registers() {
  if (!device->is_connected)
    throw std::runtime_error("Cannot read registers: no board is connected");
  if (simulated_device.fail_next_register_read) {
    simulated_device.fail_next_register_read = false;
    throw std::runtime_error("Register read failed: the board did not answer");
  }
  if (on_registers_read) on_registers_read();
}

void BenchModel::read_signals() {
  if (!device->is_connected)
    throw std::runtime_error("Cannot read chip signals: no board is connected");
  if (on_signals_read) on_signals_read();
}

void BenchModel::write_signal(const std::string& label, int value) {
  if (!device->is_connected)
    throw std::runtime_error("Cannot write " + label + ": no board is connected");
  for (auto& s : signals) {
    if (s.name != label) continue;
    if (value < s.min || value > s.max) {
      throw std::out_of_range(label + ": " + std::to_string(value) + " is outside " +
                              std::to_string(s.min) + ".." + std::to_string(s.max));
    }
    s.value = value;
    return;
  }
  throw std::out_of_range("No chip signal named " + label);
}

namespace {
ValuesMap as_values(const std::vector<Register>& list) {
  ValuesMap values;
  for (const auto& r : list) values[r.name] = {r.name, r.value};
  return values;
}
}  // namespace

ValuesMap BenchModel::registers_as_values() const { return as_values(registers); }
ValuesMap BenchModel::dacs_as_values() const { return as_values(dacs); }

std::string BenchModel::write_value(const std::string& label, const std::string& text) {
  for (auto* list : {&registers, &dacs, &signals}) {
    for (auto& r : *list) {
      if (r.name != label) continue;
      std::size_t used = 0;
      long long value = 0;
      try {
        value = std::stoll(text, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != text.size()) return label + ": \"" + text + "\" is not an integer";
      if (value < r.min || value > r.max) {
        return label + ": " + text + " is outside " + std::to_string(r.min) + ".." +
               std::to_string(r.max);
      }
      if (!device->is_connected) return label + ": no board is connected";
      r.value = value;
      return "";
    }
  }
  return label + ": no such register";
}

std::int64_t BenchModel::value_of(const std::string& name) const {
  for (const auto* list : {&registers, &dacs, &signals})
    for (const auto& r : *list)
      if (r.name == name) return r.value;
  throw std::out_of_range("No register named " + name);
}

BiasPoint BenchModel::bias_point() const {
  BiasPoint bias;
  bias.vbias_pr = static_cast<int>(value_of("VBIAS_PR"));
  bias.vbias_ref = static_cast<int>(value_of("VBIAS_REF"));
  bias.vth_on = static_cast<int>(value_of("VTH_ON"));
  bias.vth_off = static_cast<int>(value_of("VTH_OFF"));
  bias.bias_gain = static_cast<int>(value_of("BIAS_GAIN"));
  bias.aer_enabled = value_of("EN_AER") != 0;
  bias.out_of_reset = value_of("RST_N") != 0;
  return bias;
}

}  // namespace Zelvar_Core::bench
