// The board's registers, DACs and chip signals: names, ranges and values,
// range-checked on every write. Safe to use from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zelvar_Core::bench {

struct Register {
  std::string name;
  std::int64_t value;
  std::int64_t min;
  std::int64_t max;
  // What the board says of the register: "mV", "counts" or "" for none; one
  // line for a tooltip; whether the host may write it; its value after a reset.
  std::string unit{};
  std::string description{};
  bool read_only = false;
  std::int64_t default_value = 0;
};

enum class Bank { Device, Dac, Chip };

// One write of several made at once.
struct RegisterWrite {
  std::string name;
  std::int64_t value;
  bool operator==(const RegisterWrite& o) const { return name == o.name && value == o.value; }
};

// A value outside a register's range, refused by the board.
class RangeError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// "VTH_ON: 5000 is out of range 0..4095"
std::string out_of_range_text(const Register& r, const std::string& value);

// An editor's caption: "THR_ON (mV)", or the bare name for a register
// without a unit.
std::string register_caption(const Register& r);
// An editor field's tooltip: what the register is, its range with its unit
// and how a value is written ("Apply writes it"), or that it is read-only.
std::string register_tip(const Register& r, const std::string& how_written);
// The refusal of a write to a read-only register, in one sentence.
std::string read_only_text(const Register& r);

// Reads an editor's text as a value of `r`: blanks around the number are
// allowed; anything else than an integer in range is refused with a sentence
// naming the register (std::invalid_argument, or RangeError for an integer
// outside the range, however long).
std::int64_t parse_register_value(const Register& r, const std::string& text);
// The same for any integer named `what` that must lie in min..max.
std::int64_t parse_integer(const std::string& what, const std::string& text, std::int64_t min,
                           std::int64_t max);

struct BoardDeclaration;

class RegisterFile {
 public:
  RegisterFile();  // the AER-640's registers at their defaults
  explicit RegisterFile(const BoardDeclaration& board);
  // Copies of one bank, in the board's order.
  std::vector<Register> bank(Bank bank) const;
  // Every register of every bank, in order: device, DACs, chip.
  std::vector<Register> all() const;
  // The register named `name`; std::out_of_range when there is none.
  Register find(const std::string& name) const;
  bool has(const std::string& name) const;
  std::int64_t read(const std::string& name) const;
  // Throws RangeError (value kept) outside the range.
  void write(const std::string& name, std::int64_t value);
  // Several writes, all or none: each is checked first (the register exists
  // and is named once, takes writes, holds the value) and the first refused
  // is thrown in one sentence ending "nothing was written" (std::out_of_range,
  // Refused, RangeError, or std::invalid_argument for a name given twice).
  // Returns each register's value before, in order.
  std::vector<std::int64_t> write_all(const std::vector<RegisterWrite>& writes);
  // A bank as another board reports it: its registers, ranges and values.
  void replace(Bank bank, std::vector<Register> registers);

 private:
  Register& locate(const std::string& name);
  mutable std::mutex mutex_;
  std::vector<Register> banks_[3];
};

}  // namespace Zelvar_Core::bench
