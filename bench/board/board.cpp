#include "bench/board/board.h"

#include "bench/board/board_settings.h"

namespace Zelvar_Core::bench {

void BoardResets::issue(const std::string& name) {
  if (!board_.connected()) throw NoBoard("reset not sent");
  if (!board_.declaration().has_reset(name)) throw Refused(missing_reset_text(name));
  if (before_reset) before_reset(name);
  issued.push_back(name);
  board_.reset(name, [this, name](const std::string& error) {
    if (!error.empty()) {
      board_.tell(board_.failure_listener, error);
      return;
    }
    if (on_reset) on_reset(name);
  });
}

const BoardDeclaration& Board::declaration() const {
  static const BoardDeclaration default_board = declaration_of(SimulatedSensor::Aer640);
  return default_board;
}

void Board::write_registers(const std::vector<RegisterWrite>& writes) {
  if (!connected()) throw NoBoard("registers not written");
  // Checked on a copy of what the board told, so that a refusal leaves the board as it was.
  RegisterFile trial;
  for (Bank bank : {Bank::Device, Bank::Dac, Bank::Chip})
    trial.replace(bank, registers().bank(bank));
  trial.write_all(writes);
  for (const auto& w : writes) write_register(w.name, w.value);
}

void Board::set_mode(SensorMode mode) {
  if (!declaration().has_mode(mode)) throw Refused(missing_mode_text(mode));
  change_mode(mode);
}

void Board::require_serial_port() const {
  if (!declaration().has_serial_port) throw Refused(kNoSerialPort);
}

std::string identity_of(const Board& board) {
  const std::string address = board.address();
  return identity_text(board.read_identity()) + (address.empty() ? "" : " at " + address);
}

void Board::clear_listeners() {
  const auto lock = listeners_lock();
  connection_listener = nullptr;
  register_listener = nullptr;
  stream_listener = nullptr;
  stream_failure = nullptr;
  failure_listener = nullptr;
  declaration_listener = nullptr;
}

DeviceInfo device_info_of(const Board& board) {
  if (!board.connected()) return {};
  DeviceInfo info = board.read_identity();
  const std::string address = board.address();
  if (!address.empty() && !info.product_name.empty()) info.product_name += " at " + address;
  return info;
}

}  // namespace Zelvar_Core::bench
