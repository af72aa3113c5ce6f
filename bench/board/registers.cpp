#include "bench/board/registers.h"

#include <cctype>
#include <string_view>
#include <unordered_set>

#include "bench/board/board_declaration.h"
#include "bench/board/errors.h"
#include "bench/board/text.h"

namespace Zelvar_Core::bench {

std::string out_of_range_text(const Register& r, const std::string& value) {
  return r.name + ": " + value + " is out of range " + std::to_string(r.min) + ".." +
         std::to_string(r.max);
}

std::string register_caption(const Register& r) {
  return r.unit.empty() ? r.name : r.name + " (" + r.unit + ")";
}

std::string register_tip(const Register& r, const std::string& how_written) {
  std::string tip = r.name + ": ";
  if (!r.description.empty()) tip += r.description + "; ";
  if (r.read_only) return tip + "read-only";
  tip += std::to_string(r.min) + " to " + std::to_string(r.max);
  if (!r.unit.empty()) tip += " " + r.unit;
  return tip + "; " + how_written;
}

std::string read_only_text(const Register& r) {
  return r.name + " is read-only: nothing was written";
}

std::int64_t parse_integer(const std::string& what, const std::string& text, std::int64_t min,
                           std::int64_t max) {
  const Register r{what, 0, min, max};
  const std::string number = trimmed(text);
  const std::size_t digits_at = !number.empty() && (number[0] == '-' || number[0] == '+') ? 1 : 0;
  bool integer = number.size() > digits_at;
  for (std::size_t i = digits_at; i < number.size() && integer; ++i)
    integer = std::isdigit(static_cast<unsigned char>(number[i])) != 0;
  if (!integer) throw std::invalid_argument(what + ": \"" + text + "\" is not an integer");
  std::int64_t value = 0;
  try {
    std::size_t used = 0;
    value = std::stoll(number, &used);
  } catch (const std::out_of_range&) {
    throw RangeError(out_of_range_text(r, number));  // an integer, just far too large
  }
  if (value < min || value > max) throw RangeError(out_of_range_text(r, number));
  return value;
}

std::int64_t parse_register_value(const Register& r, const std::string& text) {
  return parse_integer(r.name, text, r.min, r.max);
}

RegisterFile::RegisterFile() : RegisterFile(declaration_of(SimulatedSensor::Aer640)) {}

RegisterFile::RegisterFile(const BoardDeclaration& board) {
  for (Bank b : {Bank::Device, Bank::Dac, Bank::Chip}) banks_[static_cast<int>(b)] = board.bank(b);
}

std::vector<Register> RegisterFile::bank(Bank bank) const {
  std::lock_guard lock(mutex_);
  return banks_[static_cast<int>(bank)];
}

std::vector<Register> RegisterFile::all() const {
  std::lock_guard lock(mutex_);
  std::vector<Register> every;
  for (const auto& b : banks_) every.insert(every.end(), b.begin(), b.end());
  return every;
}

Register& RegisterFile::locate(const std::string& name) {
  for (auto& b : banks_)
    for (auto& r : b)
      if (r.name == name) return r;
  throw std::out_of_range("The board has no register named " + name);
}

Register RegisterFile::find(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return const_cast<RegisterFile*>(this)->locate(name);
}

bool RegisterFile::has(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& b : banks_)
    for (const auto& r : b)
      if (r.name == name) return true;
  return false;
}

std::int64_t RegisterFile::read(const std::string& name) const { return find(name).value; }

void RegisterFile::write(const std::string& name, std::int64_t value) {
  std::lock_guard lock(mutex_);
  Register& r = locate(name);
  if (value < r.min || value > r.max) throw RangeError(out_of_range_text(r, std::to_string(value)));
  r.value = value;
}

std::vector<std::int64_t> RegisterFile::write_all(const std::vector<RegisterWrite>& writes) {
  std::lock_guard lock(mutex_);
  std::vector<Register*> targets;
  targets.reserve(writes.size());
  std::unordered_set<std::string_view> named;
  for (const auto& w : writes) {
    Register* r = nullptr;
    try {
      r = &locate(w.name);
    } catch (const std::out_of_range& e) {
      throw std::out_of_range(std::string(e.what()) + ": nothing was written");
    }
    if (!named.insert(r->name).second)
      throw std::invalid_argument(w.name + " is written twice in one call: nothing was written");
    if (r->read_only) throw Refused(read_only_text(*r));
    if (w.value < r->min || w.value > r->max)
      throw RangeError(out_of_range_text(*r, std::to_string(w.value)) + ": nothing was written");
    targets.push_back(r);
  }
  std::vector<std::int64_t> before;
  before.reserve(writes.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    before.push_back(targets[i]->value);
    targets[i]->value = writes[i].value;
  }
  return before;
}

void RegisterFile::replace(Bank bank, std::vector<Register> registers) {
  std::lock_guard lock(mutex_);
  banks_[static_cast<int>(bank)] = std::move(registers);
}

}  // namespace Zelvar_Core::bench
