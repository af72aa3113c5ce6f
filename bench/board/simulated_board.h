// A simulated sensor board behind the device interface: its identity, its
// configuration (bitstream), registers, chip mode, event stream and ADC, and
// the model the front end sees of it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Host/values.h"
#include "bench/board/acquisition.h"
#include "bench/board/adc.h"
#include "bench/board/errors.h"
#include "bench/board/event_hub.h"
#include "bench/board/registers.h"
#include "bench/board/sensor.h"
#include "bench/board/text.h"

namespace Zelvar_Core::bench {

class SimulatedDevice;

// The resets as the board received them, in order. Without a board each is
// refused ("No board is connected: reset not sent").
class SimulatedActions : public DeviceActions {
 public:
  explicit SimulatedActions(SimulatedDevice& board) : board_(board) {}
  void reset_device() override { issue("reset_device"); }
  void reset_fifo() override { issue("reset_fifo"); }
  void reset_ram() override { issue("reset_ram"); }
  void reset_aer() override { issue("reset_aer"); }
  void reset_chip() override { issue("reset_chip"); }

  std::vector<std::string> issued;
  // Set by the host: just before the board takes a reset, and after.
  std::function<void(const std::string&)> before_reset;
  std::function<void(const std::string&)> on_reset;

 private:
  void issue(const std::string& name);
  SimulatedDevice& board_;
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
  // The largest design the board's configuration memory holds.
  static constexpr std::uint64_t kMaxDesignBytes = 32ull << 20;
  static DeviceInfo identity() {
    return {"Zelvar Labs", "AER-640 sensor board (simulated)", "SIM-0001", "1.4.2"};
  }

  SimulatedDevice();
  ~SimulatedDevice() override;

  // Reads the bitstream (a regular file no larger than the board holds) and
  // writes it at the board's speed, telling the observer. The stream stops
  // first: a board being configured has none. Failures leave no design.
  void program(const std::string& path) override;
  void program(const std::string& path, ProgrammingObserver* observer);

  // Plugging and unplugging, on the GUI thread; the listener hears of it.
  void set_connected(bool connected);
  bool connected() const { return connected_; }  // from any thread

  DeviceInfo read_identity() const;
  // One line to the board's serial port and its answer: "ID?" gives the
  // product and serial number, "VER?" the version, anything else an ACK.
  std::string serial_transact(const std::string& line) const;
  std::string design() const;  // "" while the board holds no configuration

  // Registers, read from and written to the board itself (any thread).
  std::vector<Register> read_bank(Bank bank);
  std::int64_t read_register(const std::string& name) const;
  void write_register(const std::string& name, std::int64_t value);
  const RegisterFile& registers() const { return registers_; }

  void set_mode(SensorMode mode);
  SensorMode mode() const { return mode_; }
  BiasPoint bias_point() const;
  SensorSettings settings() const { return sensor_settings(bias_point(), mode_); }

  // The event stream: needs a board with a design.
  void start_acquisition();
  void stop_acquisition();
  bool acquiring() const { return acquisition_.running(); }
  EventHub& events() { return hub_; }
  Acquisition& acquisition() { return acquisition_; }
  BoardClock& clock() { return clock_; }
  AnalogFrontEnd& adc() { return adc_; }
  const AnalogFrontEnd& adc() const { return adc_; }

  SimulatedActions simulated_actions;
  std::atomic<double> bytes_per_second{4.0e6};
  std::atomic<bool> fail_next_program{false};        // set from the board-simulator window
  std::atomic<bool> fail_next_register_read{false};  // likewise
  ProgrammingObserver* programming_observer = nullptr;
  // Each runs on the thread where it happened.
  std::function<void()> connection_listener;
  std::function<void(const std::string& name)> register_listener;  // a value was written
  std::function<void()> stream_listener;                           // the stream started or stopped
  std::function<void(const std::string&)> stream_failure;          // the stream broke off

 private:
  friend class SimulatedActions;
  void reset(const std::string& name);
  void set_design(const std::string& design);

  std::atomic<bool> connected_{true};
  std::atomic<SensorMode> mode_{SensorMode::EventStream};
  mutable std::mutex design_mutex_;
  std::string design_;
  std::mutex programming_;  // one programming run at a time
  std::mutex stream_;       // starts and stops from the GUI and a sequence alike
  RegisterFile registers_;
  AnalogFrontEnd adc_;
  BoardClock clock_;
  EventHub hub_;
  Acquisition acquisition_;
};

}  // namespace Zelvar_Core::bench
