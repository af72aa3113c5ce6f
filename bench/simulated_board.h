// A simulated sensor board behind the device interface, and the model on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Host/values.h"
#include "bench/sensor.h"

namespace Zelvar_Core::bench {

struct Register {
  std::string name;
  std::int64_t value;
  std::int64_t min;
  std::int64_t max;
};

// The resets as the board received them, in order.
class SimulatedActions : public DeviceActions {
 public:
  void reset_device() override { issue("reset_device"); }
  void reset_fifo() override { issue("reset_fifo"); }
  void reset_ram() override { issue("reset_ram"); }
  void reset_aer() override { issue("reset_aer"); }
  void reset_chip() override { issue("reset_chip"); }

  std::vector<std::string> issued;
  std::function<void(const std::string&)> on_reset;  // set by the host

 private:
  void issue(const std::string& name);
};

// Sees a programming run from start to end; `advance` returns false to cancel.
class ProgrammingObserver {
 public:
  virtual ~ProgrammingObserver() = default;
  virtual void begin(const std::string& design, std::size_t bytes) = 0;
  virtual bool advance(std::size_t bytes_done) = 0;
  virtual void end() = 0;
};

class SimulatedDevice : public Device {
 public:
  static constexpr const char* kFlashDesign = "aer640_stream (flash)";
  SimulatedDevice();
  // Reads the bitstream and writes it at the board's speed, telling the
  // observer; a missing, unreadable, empty or damaged file is refused.
  void program(const std::string& path) override;
  // Plugging and unplugging; the listener hears of it (on this thread).
  void set_connected(bool connected);

  SimulatedActions simulated_actions;
  std::string loaded_design;  // "" while the board holds no configuration
  double bytes_per_second = 4.0e6;
  bool fail_next_program = false;        // set from the board-simulator window
  bool fail_next_register_read = false;  // likewise
  ProgrammingObserver* programming_observer = nullptr;
  std::function<void()> connection_listener;
};

class SimulatedHistogram : public ImageHistogram {
 public:
  void set_settings(double max_, double min_, int bins_) override;
  double max = 16, min = -16;
  int bins = 32;
};

class BenchModel : public MainModel {
 public:
  BenchModel();
  void read_dev_registers() override;
  void read_signals() override;
  void write_signal(const std::string& label, int value) override;
  void reset_image() override { image.clear(); }

  ValuesMap registers_as_values() const;
  ValuesMap dacs_as_values() const;
  // Writes one register or DAC by name; a bad value is refused with a reason
  // naming it, and "" means written.
  std::string write_value(const std::string& label, const std::string& text);
  BiasPoint bias_point() const;
  std::int64_t value_of(const std::string& name) const;

  SimulatedDevice simulated_device;
  SimulatedHistogram histogram;
  std::vector<Register> registers;
  std::vector<Register> dacs;
  std::vector<Register> signals;  // max 1: a check box; wider: an integer field
  EventFrame image;               // the last frame taken from the acquisition
  std::function<void()> on_registers_read, on_signals_read;  // set by the host
};

}  // namespace Zelvar_Core::bench
