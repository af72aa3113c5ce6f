#include "bench/board/bench_model.h"

#include <cmath>
#include <stdexcept>

namespace Zelvar_Core::bench {

// ---- histogram -------------------------------------------------------------------

void SimulatedHistogram::set_settings(double max_, double min_, int bins_) {
  if (!std::isfinite(max_) || !std::isfinite(min_))
    throw std::invalid_argument("Histogram: max and min must be finite numbers");
  if (!(max_ > min_))
    throw std::invalid_argument("Histogram: max (" + std::to_string(max_) +
                                ") must be greater than min");
  if (bins_ < 1 || bins_ > 4096)
    throw std::invalid_argument("Histogram: bins " + std::to_string(bins_) +
                                " is out of range 1..4096");
  max = max_;
  min = min_;
  bins = bins_;
}

// ---- the model ---------------------------------------------------------------------

BenchModel::BenchModel(std::unique_ptr<Board> served, SimulatedSensor sensor)
    : simulated_device(sensor), served_(std::move(served)) {
  device = &board();
  img_histogram = &histogram;
  // What the board holds when the bench starts.
  const auto& file = board().registers();
  registers = file.bank(Bank::Device);
  dacs = file.bank(Bank::Dac);
  signals = file.bank(Bank::Chip);
}

void BenchModel::read_dev_registers() {
  auto device_bank = board().read_bank(Bank::Device);
  dacs = board().read_bank(Bank::Dac);
  registers = std::move(device_bank);
  if (on_registers_read) on_registers_read();
}

void BenchModel::read_signals() {
  signals = board().read_bank(Bank::Chip);
  if (on_signals_read) on_signals_read();
}

void BenchModel::refresh_from_board() {
  if (!board().connected()) return;
  const auto& file = board().registers();
  registers = file.bank(Bank::Device);
  dacs = file.bank(Bank::Dac);
  signals = file.bank(Bank::Chip);
}

void BenchModel::write_signal(const std::string& label, int value) {
  try {
    Register* copy = locate(label);
    const std::int64_t old = copy ? copy->value : board().read_register(label);
    board().write_register(label, value);
    if (copy) copy->value = value;
    if (on_signal_written) on_signal_written(label, old, value);
  } catch (...) {
    if (on_signal_refused) on_signal_refused(label);
    throw;
  }
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

Register* BenchModel::locate(const std::string& name) {
  for (auto* list : {&registers, &dacs, &signals})
    for (auto& r : *list)
      if (r.name == name) return &r;
  return nullptr;
}

const Register* BenchModel::find(const std::string& name) const {
  return const_cast<BenchModel*>(this)->locate(name);
}

WriteOutcome BenchModel::write_value(const std::string& label, const std::string& text) {
  WriteOutcome outcome;
  Register* copy = locate(label);
  if (copy == nullptr) {
    outcome.refused = label + ": the board has no such register";
    return outcome;
  }
  outcome.old_value = copy->value;
  if (copy->read_only) {
    outcome.refused = read_only_text(*copy);
    return outcome;
  }
  try {
    const std::int64_t value = parse_register_value(*copy, text);
    board().write_register(label, value);
    copy->value = value;
    outcome.new_value = value;
  } catch (const std::exception& e) {
    outcome.refused = e.what();
  }
  return outcome;
}

std::int64_t BenchModel::value_of(const std::string& name) const {
  if (const auto* r = find(name)) return r->value;
  throw std::out_of_range("No register named " + name);
}

}  // namespace Zelvar_Core::bench
