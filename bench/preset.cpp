#include "bench/preset.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace Zelvar_Core::bench {

namespace {

using nlohmann::json;

json section(const std::vector<Register>& list) {
  json out = json::object();
  for (const auto& r : list) out[r.name] = r.value;
  return out;
}

// The section's values checked against the board's list, in the list's order.
std::vector<std::int64_t> checked(const json& preset, const char* name,
                                  const std::vector<Register>& list) {
  if (!preset.contains(name) || !preset[name].is_object()) {
    throw std::invalid_argument(std::string("Preset has no \"") + name + "\" section");
  }
  const json& values = preset[name];
  for (const auto& [key, value] : values.items()) {
    bool known = false;
    for (const auto& r : list) known |= r.name == key;
    if (!known)
      throw std::invalid_argument(std::string("Preset names an unknown ") + name +
                                  " entry: " + key);
  }
  std::vector<std::int64_t> result;
  for (const auto& r : list) {
    if (!values.contains(r.name)) throw std::invalid_argument("Preset lacks " + r.name);
    const json& v = values[r.name];
    if (!v.is_number_integer())
      throw std::invalid_argument("Preset value of " + r.name + " is not an integer");
    const auto number = v.get<std::int64_t>();
    if (number < r.min || number > r.max) {
      throw std::invalid_argument("Preset value of " + r.name + " (" + std::to_string(number) +
                                  ") is outside " + std::to_string(r.min) + ".." +
                                  std::to_string(r.max));
    }
    result.push_back(number);
  }
  return result;
}

void assign(std::vector<Register>& list, const std::vector<std::int64_t>& values) {
  for (size_t i = 0; i < list.size(); ++i) list[i].value = values[i];
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
  try {
    preset = json::parse(text);
  } catch (const json::parse_error& e) {
    throw std::invalid_argument(std::string("Preset is not valid JSON: ") + e.what());
  }
  if (!preset.is_object() || !preset.contains("board") || preset["board"] != kBoardName) {
    throw std::invalid_argument(std::string("Preset is not for this board (") + kBoardName + ")");
  }
  const auto registers = checked(preset, "registers", model.registers);
  const auto dacs = checked(preset, "dacs", model.dacs);
  const auto signals = checked(preset, "signals", model.signals);
  assign(model.registers, registers);
  assign(model.dacs, dacs);
  assign(model.signals, signals);
}

void save_preset_file(const BenchModel& model, const std::string& path) {
  const std::string part = path + ".part";
  {
    std::ofstream out(part, std::ios::binary);
    out << preset_to_json(model);
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(part, ignored);
      throw std::runtime_error("Cannot write the preset " + path);
    }
  }
  std::error_code error;
  std::filesystem::rename(part, path, error);
  if (error) {
    std::filesystem::remove(part, error);
    throw std::runtime_error("Cannot write the preset " + path + ": " + error.message());
  }
}

void load_preset_file(BenchModel& model, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read the preset " + path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    apply_preset_json(model, text);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(path + ": " + e.what());
  }
}

}  // namespace Zelvar_Core::bench
