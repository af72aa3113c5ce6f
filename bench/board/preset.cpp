#include "bench/board/preset.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "bench/board/whole_file.h"

namespace Zelvar_Core::bench {

namespace {

using nlohmann::json;

json section(const std::vector<Register>& list) {
  json out = json::object();
  for (const auto& r : list) out[r.name] = r.value;
  return out;
}

// Builds the document like the library's own parser, and remembers what
// the user wrote for numbers the document cannot hold exactly, with the key
// they belong to, so that a refusal can quote them.
class PresetReader {
 public:
  explicit PresetReader(json& result) : dom_(result, false) {}

  bool null() { return dom_.null(); }
  bool boolean(bool v) { return dom_.boolean(v); }
  bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
  bool number_unsigned(json::number_unsigned_t v) {
    raw[last_key] = std::to_string(v);
    return dom_.number_unsigned(v);
  }
  bool number_float(json::number_float_t v, const json::string_t& text) {
    raw[last_key] = text;
    return dom_.number_float(v, text);
  }
  bool string(json::string_t& v) { return dom_.string(v); }
  bool binary(json::binary_t& v) { return dom_.binary(v); }
  bool start_object(std::size_t n) { return dom_.start_object(n); }
  bool key(json::string_t& k) {
    last_key = k;
    return dom_.key(k);
  }
  bool end_object() { return dom_.end_object(); }
  bool start_array(std::size_t n) { return dom_.start_array(n); }
  bool end_array() { return dom_.end_array(); }
  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& ex) {
    error_position = position;
    error_token = token;
    error_id = ex.id;
    return false;
  }

  std::map<std::string, std::string> raw;  // key -> number as written
  std::string last_key;
  std::size_t error_position = 0;
  std::string error_token;
  int error_id = 0;

 private:
  nlohmann::detail::json_sax_dom_parser<json> dom_;
};

std::string line_and_column(const std::string& text, std::size_t position) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i + 1 < position && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The register of `model` named `name`, or null.
const Register* register_of(const BenchModel& model, const std::string& name) {
  return model.find(name);
}

// One section's values checked against the board's list, in the list's order.
std::vector<std::int64_t> checked(const json& preset, const char* name,
                                  const std::vector<Register>& list,
                                  const std::map<std::string, std::string>& raw) {
  if (!preset.contains(name) || !preset[name].is_object())
    throw std::invalid_argument(std::string("it has no \"") + name + "\" section");
  const json& values = preset[name];
  for (const auto& [key, value] : values.items()) {
    bool known = false;
    for (const auto& r : list) known |= r.name == key;
    if (!known) throw std::invalid_argument("it names no " + std::string(name) + " entry " + key);
  }
  std::vector<std::int64_t> result;
  for (const auto& r : list) {
    if (!values.contains(r.name)) throw std::invalid_argument("it has no value for " + r.name);
    const json& v = values[r.name];
    const auto written = raw.count(r.name) ? raw.at(r.name) : v.dump();
    std::int64_t number = 0;
    if (v.is_number_unsigned()) {
      if (v.get<std::uint64_t>() > static_cast<std::uint64_t>(r.max))
        throw RangeError(out_of_range_text(r, written));
      number = static_cast<std::int64_t>(v.get<std::uint64_t>());
    } else if (v.is_number_integer()) {
      number = v.get<std::int64_t>();
    } else if (v.is_number_float() && std::isfinite(v.get<double>()) &&
               v.get<double>() == std::floor(v.get<double>())) {
      throw RangeError(out_of_range_text(r, written));  // an integer too large to hold
    } else {
      throw std::invalid_argument(r.name + ": " + written + " is not an integer");
    }
    if (number < r.min || number > r.max) throw RangeError(out_of_range_text(r, written));
    result.push_back(number);
  }
  return result;
}

}  // namespace

std::string preset_to_json(const BenchModel& model) {
  json preset = {{"board", kBoardName},
                 {"registers", section(model.registers)},
                 {"dacs", section(model.dacs)},
                 {"signals", section(model.signals)}};
  return preset.dump(2) + "\n";
}

void apply_preset_json(BenchModel& model, const std::string& text) {
  json preset;
  PresetReader reader(preset);
  if (!json::sax_parse(text, &reader)) {
    const Register* r = register_of(model, reader.last_key);
    if (reader.error_id == 406 && r != nullptr)
      throw RangeError(out_of_range_text(*r, reader.error_token));
    if (reader.error_id == 406)
      throw std::invalid_argument("it holds a number too large to read: " + reader.error_token);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
      throw std::invalid_argument("it is empty");
    throw std::invalid_argument("it is not valid JSON (" +
                                line_and_column(text, reader.error_position) + ")");
  }
  if (!preset.is_object() || !preset.contains("board"))
    throw std::invalid_argument(std::string("it does not say which board it is for (") +
                                kBoardName + ")");
  if (preset["board"] != kBoardName)
    throw std::invalid_argument("it is for another board (" + preset["board"].dump() + "), not " +
                                kBoardName);
  const auto registers = checked(preset, "registers", model.registers, reader.raw);
  const auto dacs = checked(preset, "dacs", model.dacs, reader.raw);
  const auto signals = checked(preset, "signals", model.signals, reader.raw);
  Board& board = model.board();
  if (!board.connected()) throw NoBoard("preset not loaded");
  // Every register in one go: a served board takes them in one call, and a
  // refusal leaves them all as they were.
  std::vector<RegisterWrite> writes;
  auto add = [&writes](const std::vector<Register>& list, const std::vector<std::int64_t>& v) {
    for (std::size_t i = 0; i < list.size(); ++i) writes.push_back({list[i].name, v[i]});
  };
  add(model.registers, registers);
  add(model.dacs, dacs);
  add(model.signals, signals);
  board.write_registers(writes);
  model.refresh_from_board();
}

void save_preset_file(const BenchModel& model, const std::string& path) {
  try {
    write_whole_file(path, preset_to_json(model));
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("Preset not saved: " + std::string(e.what()) + " (" + path + ")");
  }
}

void load_preset_file(BenchModel& model, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Preset not loaded: the file cannot be read (" + path + ")");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    apply_preset_json(model, text);
  } catch (const NoBoard&) {
    throw;
  } catch (const std::exception& e) {
    throw std::invalid_argument("Preset not loaded: " + std::string(e.what()) + " (" + path + ")");
  }
}

}  // namespace Zelvar_Core::bench
