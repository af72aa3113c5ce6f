#include "bench/board/board_declaration.h"

#include <algorithm>
#include <stdexcept>

namespace Zelvar_Core::bench {

namespace {

Register declared(std::string name, std::int64_t value, std::int64_t min, std::int64_t max,
                  std::string unit, std::string description, bool read_only = false) {
  Register r{std::move(name), value, min, max};
  r.unit = std::move(unit);
  r.description = std::move(description);
  r.read_only = read_only;
  r.default_value = value;
  return r;
}

BoardDeclaration aer640() {
  BoardDeclaration d;
  d.sensor_name = "AER-640";
  d.geometry = {640, 480};
  d.device_registers = {
      declared("CTRL", 1, 0, 255, "", "Control bits; bit 0 lets the event stream out"),
      declared("FIFO_THRESHOLD", 512, 0, 4095, "events",
               "Events the FIFO holds before it hands a batch over"),
      declared("TIMESTAMP_DIV", 50, 1, 1000, "clock cycles",
               "Board clock cycles per microsecond tick of the event time"),
      declared("ROI_X0", 0, 0, 639, "px", "First column of the region of interest"),
      declared("ROI_Y0", 0, 0, 479, "px", "First row of the region of interest")};
  d.dac_registers = {
      declared("VBIAS_PR", 1800, 0, 4095, "counts", "Photoreceptor bias"),
      declared("VBIAS_REF", 1600, 0, 4095, "counts", "Reference the thresholds are set against"),
      declared("VTH_ON", 2400, 0, 4095, "counts", "ON contrast threshold"),
      declared("VTH_OFF", 800, 0, 4095, "counts", "OFF contrast threshold"),
      declared("IBIAS", 1200, 0, 4095, "counts", "Pixel bias current")};
  d.chip_registers = {declared("EN_AER", 1, 0, 1, "", "1 enables the AER output"),
                      declared("RST_N", 1, 0, 1, "", "0 holds the chip in reset"),
                      declared("TEST_MODE", 0, 0, 1, "", "1 sends the test pattern"),
                      declared("BIAS_GAIN", 3, 0, 7, "", "Chip-level bias gain")};
  d.modes = {SensorMode::EventStream, SensorMode::TestPattern, SensorMode::Standby};
  d.resets = every_reset_name();
  d.adc_channels = {{"VDD", "V", 1.7, 1.9},
                    {"VDDIO", "V", 3.1, 3.5},
                    {"Temperature", "\u00b0C", 20, 70},
                    {"Ibias", "\u00b5A", 0, 50}};
  return d;
}

BoardDeclaration aer320() {
  BoardDeclaration d;
  d.sensor_name = "AER-320";
  d.geometry = {320, 240};
  d.device_registers = {
      declared("CTRL", 1, 0, 255, "", "Control bits; bit 0 lets the event stream out"),
      declared("FIFO_THRESHOLD", 256, 0, 2047, "events",
               "Events the FIFO holds before it hands a batch over"),
      declared("ROI_X0", 0, 0, 319, "px", "First column of the region of interest"),
      declared("ROI_Y0", 0, 0, 239, "px", "First row of the region of interest"),
      declared("CHIP_ID", 0x320A, 0, 0xFFFF, "", "The chip's identification word", true)};
  d.dac_registers = {
      declared("PR_BIAS", 600, 0, 1023, "mV", "Photoreceptor bias"),
      declared("THR_ON", 700, 0, 1023, "mV", "ON contrast threshold"),
      declared("THR_OFF", 300, 0, 1023, "mV", "OFF contrast threshold"),
      declared("REFRACTORY", 100, 1, 1000, "\u00b5s", "Dead time of a pixel after an event")};
  d.chip_registers = {declared("EN_AER", 1, 0, 1, "", "1 enables the AER output"),
                      declared("RST_N", 1, 0, 1, "", "0 holds the chip in reset")};
  d.modes = {SensorMode::EventStream, SensorMode::Standby};
  d.resets = {"reset_device", "reset_fifo", "reset_aer", "reset_chip"};
  d.adc_channels = {{"VDD", "V", 1.1, 1.3}, {"Temperature", "\u00b0C", 20, 70}};
  d.has_serial_port = false;
  return d;
}

}  // namespace

const std::vector<Register>& BoardDeclaration::bank(Bank b) const {
  switch (b) {
    case Bank::Device:
      return device_registers;
    case Bank::Dac:
      return dac_registers;
    case Bank::Chip:
      break;
  }
  return chip_registers;
}

std::vector<Register>& BoardDeclaration::bank(Bank b) {
  return const_cast<std::vector<Register>&>(static_cast<const BoardDeclaration&>(*this).bank(b));
}

bool BoardDeclaration::has_mode(SensorMode mode) const {
  return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

bool BoardDeclaration::has_reset(const std::string& name) const {
  return std::find(resets.begin(), resets.end(), name) != resets.end();
}

const Register* BoardDeclaration::find_register(const std::string& name) const {
  for (const auto* registers : {&device_registers, &dac_registers, &chip_registers})
    for (const auto& r : *registers)
      if (r.name == name) return &r;
  return nullptr;
}

std::vector<std::string> BoardDeclaration::adc_labels() const {
  std::vector<std::string> labels;
  for (const auto& channel : adc_channels) labels.push_back(channel.label());
  return labels;
}

BoardDeclaration declaration_of(SimulatedSensor sensor) {
  return sensor == SimulatedSensor::Aer320 ? aer320() : aer640();
}

SimulatedSensor parse_simulated_sensor(const std::string& text) {
  if (text == "640x480") return SimulatedSensor::Aer640;
  if (text == "320x240") return SimulatedSensor::Aer320;
  throw std::invalid_argument("--sensor: \"" + text +
                              "\" is not a simulated sensor; choose 640x480 or 320x240");
}

std::string sensor_option_text(SimulatedSensor sensor) {
  return sensor == SimulatedSensor::Aer320 ? "320x240" : "640x480";
}

std::string mode_text(SensorMode mode) {
  switch (mode) {
    case SensorMode::EventStream:
      return "event stream";
    case SensorMode::TestPattern:
      return "test pattern";
    case SensorMode::Standby:
      break;
  }
  return "standby";
}

std::string missing_mode_text(SensorMode mode) {
  return "The board has no " + mode_text(mode) + " mode: nothing was sent";
}

std::string missing_reset_text(const std::string& reset) {
  static const std::pair<const char*, const char*> names[] = {{"reset_device", "device"},
                                                              {"reset_fifo", "FIFO"},
                                                              {"reset_ram", "RAM"},
                                                              {"reset_aer", "AER"},
                                                              {"reset_chip", "chip"}};
  std::string what = reset;
  for (const auto& [key, text] : names)
    if (reset == key) what = text;
  return "The board has no " + what + " reset: nothing was sent";
}

}  // namespace Zelvar_Core::bench
