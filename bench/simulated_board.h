// A simulated sensor board behind the device interface, and the model on it.
#pragma once

#include <map>
#include <random>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Host/values.h"

namespace Zelvar_Core::bench {

struct Register {
  std::string name;
  std::int64_t value;
  std::int64_t min;
  std::int64_t max;
};

class SimulatedActions : public DeviceActions {
 public:
  void reset_device() override { ++resets; }
  void reset_fifo() override { ++resets; }
  void reset_ram() override { ++resets; }
  void reset_aer() override { ++resets; }
  void reset_chip() override { ++resets; }
  int resets = 0;
};

class SimulatedDevice : public Device {
 public:
  SimulatedDevice();
  // Reads the bitstream; a missing, unreadable or empty file is refused.
  void program(const std::string& path) override;

  SimulatedActions simulated_actions;
  std::string design_name;
  bool fail_next_program = false;  // set from the board-simulator window
};

class SimulatedHistogram : public ImageHistogram {
 public:
  void set_settings(double max_, double min_, int bins_) override;
  double max = 24, min = 0;
  int bins = 64;
};

class BenchModel : public MainModel {
 public:
  BenchModel();
  void read_dev_registers() override {}
  void read_signals() override {}
  void write_signal(const std::string& label, int value) override;
  void reset_image() override;

  ValuesMap registers_as_values() const;
  ValuesMap dacs_as_values() const;
  // Writes one register or DAC by name; a bad value is refused with a reason.
  std::string write_value(const std::string& label, const std::string& text);

  SimulatedDevice simulated_device;
  SimulatedHistogram histogram;
  std::vector<Register> registers;
  std::vector<Register> dacs;
  std::vector<Register> signals;     // max 1: a check box; wider: an integer field
  std::vector<std::uint16_t> image;  // 640 x 480 event counts
  static constexpr int kWidth = 640, kHeight = 480;
  void accumulate_events(double t, int count);

 private:
  std::mt19937 random_{7};
};

}  // namespace Zelvar_Core::bench
