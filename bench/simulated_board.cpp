#include "bench/simulated_board.h"

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace Zelvar_Core::bench {

SimulatedDevice::SimulatedDevice() {
  is_connected = true;
  actions = &simulated_actions;
  info = {"Zelvar Labs", "AER-640 sensor board (simulated)", "SIM-0001", "1.4.2"};
}

void SimulatedDevice::program(const std::string& path) {
  if (!is_connected) throw std::runtime_error("No board is connected");
  if (fail_next_program) {
    fail_next_program = false;
    throw std::runtime_error("Programming failed: the board did not answer (simulated)");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("Cannot read the bitstream " + path);
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (content.empty()) throw std::runtime_error("The bitstream " + path + " is empty");
  const auto slash = path.find_last_of('/');
  design_name = slash == std::string::npos ? path : path.substr(slash + 1);
}

void SimulatedHistogram::set_settings(double max_, double min_, int bins_) {
  if (bins_ < 1 || max_ <= min_)
    throw std::invalid_argument("Histogram: max must exceed min and bins be positive");
  max = max_;
  min = min_;
  bins = bins_;
}

BenchModel::BenchModel() {
  device = &simulated_device;
  img_histogram = &histogram;
  registers = {
      {"CTRL", 1, 0, 255}, {"FIFO_THRESHOLD", 512, 0, 4095}, {"TIMESTAMP_DIV", 50, 1, 1000}};
  dacs = {{"VBIAS_PR", 1800, 0, 4095},
          {"VBIAS_REF", 1200, 0, 4095},
          {"VTH_ON", 2300, 0, 4095},
          {"VTH_OFF", 900, 0, 4095}};
  signals = {
      {"EN_AER", 1, 0, 1}, {"RST_N", 1, 0, 1}, {"TEST_MODE", 0, 0, 1}, {"BIAS_GAIN", 3, 0, 7}};
  image.assign(kWidth * kHeight, 0);
}

void BenchModel::write_signal(const std::string& label, int value) {
  for (auto& s : signals) {
    if (s.name == label) {
      s.value = value;
      return;
    }
  }
  throw std::out_of_range("No chip signal named " + label);
}

void BenchModel::reset_image() { std::fill(image.begin(), image.end(), 0); }

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
  for (auto* list : {&registers, &dacs}) {
    for (auto& r : *list) {
      if (r.name != label) continue;
      std::size_t used = 0;
      long long value = 0;
      try {
        value = std::stoll(text, &used);
      } catch (const std::exception&) {
        return label + ": \"" + text + "\" is not an integer";
      }
      if (used != text.size()) return label + ": \"" + text + "\" is not an integer";
      if (value < r.min || value > r.max) {
        return label + ": " + text + " is outside " + std::to_string(r.min) + ".." +
               std::to_string(r.max);
      }
      r.value = value;
      return "";
    }
  }
  return label + ": no such register";
}

void BenchModel::accumulate_events(double t, int count) {
  // A bright bar sweeping across the array; the rate grows with the threshold DACs' gap.
  std::uniform_int_distribution<int> row(0, kHeight - 1);
  std::normal_distribution<double> spread(0.0, 12.0);
  const double centre = (0.5 + 0.45 * std::sin(t)) * kWidth;
  for (int i = 0; i < count; ++i) {
    const int x = static_cast<int>(centre + spread(random_));
    const int y = row(random_);
    if (x < 0 || x >= kWidth) continue;
    auto& pixel = image[static_cast<std::size_t>(y) * kWidth + x];
    if (pixel < 65535) ++pixel;
  }
}

}  // namespace Zelvar_Core::bench
