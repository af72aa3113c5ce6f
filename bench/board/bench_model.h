// What the front end sees of the simulated board: the model (the values
// last read from the board, which the editors show, the image and the
// histogram settings), and the writes an editor's text makes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_model.h"
#include "Zelvar_Core/Host/values.h"
#include "bench/board/simulated_board.h"

namespace Zelvar_Core::bench {

class SimulatedHistogram : public ImageHistogram {
 public:
  // Refuses non-finite bounds, max <= min and bins outside 1..4096.
  void set_settings(double max_, double min_, int bins_) override;
  double max = 16, min = -16;
  int bins = 32;
};

// What writing one editor field did.
struct WriteOutcome {
  std::string refused;  // "" when written
  std::int64_t old_value = 0;
  std::int64_t new_value = 0;
  bool written() const { return refused.empty(); }
};

// The model the front end sees: the values last read from the board (the
// editors show these), the image and the histogram settings.
class BenchModel : public MainModel {
 public:
  // The board in this process (of `sensor`), or `served` when one is given.
  explicit BenchModel(std::unique_ptr<Board> served = nullptr,
                      SimulatedSensor sensor = SimulatedSensor::Aer640);
  // The board every part of the host talks to.
  Board& board() { return served_ ? *served_ : static_cast<Board&>(simulated_device); }
  const Board& board() const {
    return served_ ? *served_ : static_cast<const Board&>(simulated_device);
  }
  // The board simulated in this process, or null when the bench drives a served one.
  SimulatedDevice* simulated() { return served_ ? nullptr : &simulated_device; }
  void read_dev_registers() override;
  void read_signals() override;
  // A refused write puts the signal's box back through `on_signal_refused`.
  void write_signal(const std::string& label, int value) override;
  void reset_image() override { image.clear(); }

  ValuesMap registers_as_values() const;
  ValuesMap dacs_as_values() const;
  // Writes one register, DAC or signal from an editor's text.
  WriteOutcome write_value(const std::string& label, const std::string& text);
  // Reads every bank again from the board (nothing when it is not there).
  void refresh_from_board();
  std::int64_t value_of(const std::string& name) const;
  // The copy of `name` in the model, or null.
  const Register* find(const std::string& name) const;

  SimulatedDevice simulated_device;  // idle while a served board is used
  SimulatedHistogram histogram;
  std::vector<Register> registers;
  std::vector<Register> dacs;
  std::vector<Register> signals;  // max 1: a check box; wider: an integer field
  EventFrame image;               // the last frame taken from the stream
  std::function<void()> on_registers_read, on_signals_read;  // set by the host
  std::function<void(const std::string&)> on_signal_refused;
  // A check box's signal written: its name, the old value and the new.
  std::function<void(const std::string&, std::int64_t, std::int64_t)> on_signal_written;

 private:
  std::unique_ptr<Board> served_;
  Register* locate(const std::string& name);
};

}  // namespace Zelvar_Core::bench
