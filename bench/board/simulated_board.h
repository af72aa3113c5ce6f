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
#include "bench/board/board.h"
#include "bench/board/errors.h"
#include "bench/board/event_hub.h"
#include "bench/board/registers.h"
#include "bench/board/sensor.h"
#include "bench/board/text.h"

namespace Zelvar_Core::bench {

class SimulatedDevice : public Board {
 public:
  // The AER-640's design at power-up; the AER-320 has its own.
  static constexpr const char* kFlashDesign = "aer640_stream (flash)";

  // The AER-640 board, or the sensor named: its declaration, registers, ADC
  // channels, modes, resets and the size of the array its events lie on.
  explicit SimulatedDevice(SimulatedSensor sensor = SimulatedSensor::Aer640);
  // The sensor's board declaring what `declaration` says instead: its
  // registers, banks, channels and limits (a board of another size).
  SimulatedDevice(SimulatedSensor sensor, BoardDeclaration declaration);
  ~SimulatedDevice() override;

  SimulatedSensor sensor() const { return sensor_; }
  const BoardDeclaration& declaration() const override { return declaration_; }
  DeviceInfo identity() const;
  // The design the board loads from its flash when it powers up.
  std::string flash_design() const;

  // Reads the bitstream (a regular file no larger than the board holds) and
  // writes it at the board's speed, telling the observer. The stream stops
  // first: a board being configured has none. Failures leave no design.
  using Board::program;
  void program(const std::string& path, ProgrammingObserver* observer) override;

  // Plugging and unplugging, on the GUI thread; the listener hears of it.
  void set_connected(bool connected);
  bool connected() const override { return connected_; }

  DeviceInfo read_identity() const override;
  // One line to the board's serial port and its answer: "ID?" gives the
  // product and serial number, "VER?" the version, anything else an ACK. A
  // board without a serial port refuses (Refused).
  std::string serial_transact(const std::string& line) const;
  void serial_transact(const std::string& line, SerialDone done) override;
  std::string design() const override;

  // Registers, read from and written to the board itself (any thread); a
  // read-only register refuses a write (Refused: "CHIP_ID is read-only:
  // nothing was written").
  std::vector<Register> read_bank(Bank bank) override;
  std::int64_t read_register(const std::string& name) const override;
  void write_register(const std::string& name, std::int64_t value) override;
  // All or none, at once: no reader sees some of the writes without the others.
  void write_registers(const std::vector<RegisterWrite>& writes) override;
  const RegisterFile& registers() const override { return registers_; }

  SensorMode mode() const override { return mode_; }
  // The biases as the sensor's model takes them, from the board's own registers.
  BiasPoint bias_point() const;
  SensorSettings settings() const { return sensor_settings(bias_point(), mode_); }

  // The event stream: needs a board with a design.
  void start_acquisition() override;
  void stop_acquisition() override;
  bool acquiring() const override { return acquisition_.running(); }
  EventHub& events() override { return hub_; }
  std::uint64_t lost_by_board() const override { return acquisition_.estimated_lost(); }
  std::vector<double> read_adc(double t) const override { return adc_.read(t); }
  void note_event_rate(double events_per_second) override { adc_.event_rate = events_per_second; }
  Acquisition& acquisition() { return acquisition_; }
  BoardClock& clock() { return clock_; }
  AnalogFrontEnd& adc() { return adc_; }
  const AnalogFrontEnd& adc() const { return adc_; }

  std::atomic<double> bytes_per_second{4.0e6};
  std::atomic<bool> fail_next_program{false};        // set from the board-simulator window
  std::atomic<bool> fail_next_register_read{false};  // likewise
 protected:
  void change_mode(SensorMode mode) override;
  void reset(const std::string& name, std::function<void(const std::string&)> done) override;

 private:
  void set_design(const std::string& design);

  const SimulatedSensor sensor_;
  const BoardDeclaration declaration_;

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
