// What a board says of itself: its sensor's size, its registers with their
// units and descriptions, the modes and resets it has, its ADC channels,
// whether it has a serial port, and the limits of its design memory and of
// its event batches. The host shapes its image, editors, monitor and
// commands after it instead of assuming one chip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/board/registers.h"
#include "bench/board/sensor.h"

namespace Zelvar_Core::bench {

// One ADC channel as the board names it, with the range it normally reads.
struct AdcChannelDeclaration {
  std::string name;  // "VDD"
  std::string unit;  // "V"
  double normal_min = 0;
  double normal_max = 0;
  // "VDD (V)", or the bare name for a channel without a unit.
  std::string label() const { return unit.empty() ? name : name + " (" + unit + ")"; }
};

// The resets by the names the host's actions use.
inline const std::vector<std::string>& every_reset_name() {
  static const std::vector<std::string> names = {"reset_device", "reset_fifo", "reset_ram",
                                                 "reset_aer", "reset_chip"};
  return names;
}

struct BoardDeclaration {
  std::string sensor_name;  // "AER-640"
  SensorGeometry geometry;
  // Every bank's registers in the board's order, with range, unit,
  // description, whether they may be written, and their default value.
  std::vector<Register> device_registers, dac_registers, chip_registers;
  std::vector<SensorMode> modes;                    // the modes the chip has
  std::vector<std::string> resets;                  // "reset_device", ... as the board has them
  std::vector<AdcChannelDeclaration> adc_channels;  // in channel order
  bool has_serial_port = true;
  std::uint64_t largest_design_bytes = 32ull << 20;
  std::vector<std::string> event_formats = {"EVT 2.0"};
  std::uint32_t largest_batch_bytes = 4u << 20;

  const std::vector<Register>& bank(Bank b) const;
  std::vector<Register>& bank(Bank b);
  bool has_mode(SensorMode mode) const;
  bool has_reset(const std::string& name) const;
  // The register named `name`, or nullptr.
  const Register* find_register(const std::string& name) const;
  // "VDD (V)", ... in channel order.
  std::vector<std::string> adc_labels() const;
};

// The boards this project simulates. The default is the AER-640: 640×480,
// its three banks, three modes, five resets and four ADC channels. The
// AER-320 is 320×240, has its own registers (a read-only chip id among
// them), two ADC channels, no test-pattern mode, no RAM reset and no
// serial port.
enum class SimulatedSensor { Aer640, Aer320 };
BoardDeclaration declaration_of(SimulatedSensor sensor);
// "640x480" or "320x240" (as `--sensor` takes them); throws
// std::invalid_argument with a sentence naming the choices otherwise.
SimulatedSensor parse_simulated_sensor(const std::string& text);
std::string sensor_option_text(SimulatedSensor sensor);

// "test pattern" for the messages that refuse a mode.
std::string mode_text(SensorMode mode);
// What refuses a mode or reset the board lacks, in one sentence:
// "The board has no test pattern mode: nothing was sent",
// "The board has no RAM reset: nothing was sent".
std::string missing_mode_text(SensorMode mode);
std::string missing_reset_text(const std::string& reset);

}  // namespace Zelvar_Core::bench
