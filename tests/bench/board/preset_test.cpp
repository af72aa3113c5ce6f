#include "bench/board/preset.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace Zelvar_Core::bench {
namespace {

TEST(Preset, RoundTripsEveryRegisterDacAndSignal) {
  BenchModel saved;
  saved.registers[1].value = 1000;
  saved.dacs[0].value = 42;
  saved.signals[2].value = 1;
  const std::string text = preset_to_json(saved);
  BenchModel loaded;
  apply_preset_json(loaded, text);
  EXPECT_EQ(loaded.registers[1].value, 1000);
  EXPECT_EQ(loaded.dacs[0].value, 42);
  EXPECT_EQ(loaded.signals[2].value, 1);
  EXPECT_EQ(preset_to_json(loaded), text);
}

TEST(Preset, BadFilesAreRefusedByNameAndNothingIsHalfApplied) {
  BenchModel source;
  auto preset = nlohmann::json::parse(preset_to_json(source));
  preset["registers"]["CTRL"] = 9;  // good, and before the bad value
  auto out_of_range = preset;
  out_of_range["dacs"]["VTH_ON"] = 5000;
  auto other_board = preset;
  other_board["board"] = "XYZ-1";
  auto unknown = preset;
  unknown["signals"]["BOGUS"] = 1;
  auto not_integer = preset;
  not_integer["dacs"]["VBIAS_PR"] = "high";
  std::string huge = preset.dump();
  huge.replace(huge.find("\"VTH_ON\":2400"), 13, "\"VTH_ON\":1e400");
  std::string too_long = preset.dump();
  too_long.replace(too_long.find("\"VTH_ON\":2400"), 13, "\"VTH_ON\":99999999999999999999");
  std::string max_unsigned = preset.dump();
  max_unsigned.replace(max_unsigned.find("\"VTH_ON\":2400"), 13, "\"VTH_ON\":18446744073709551615");
  const std::pair<std::string, std::string> cases[] = {
      {out_of_range.dump(), "VTH_ON: 5000 is out of range 0..4095"},
      {huge, "VTH_ON: 1e400 is out of range 0..4095"},
      {too_long, "VTH_ON: 99999999999999999999 is out of range 0..4095"},
      {max_unsigned, "VTH_ON: 18446744073709551615 is out of range 0..4095"},
      {other_board.dump(), "it is for another board (\"XYZ-1\"), not AER-640"},
      {unknown.dump(), "it names no signals entry BOGUS"},
      {not_integer.dump(), "VBIAS_PR: \"high\" is not an integer"},
      {"{\"board\": \n  \"AER-640\",, }", "it is not valid JSON (line 2, column 13)"},
      {"", "it is empty"},
  };
  for (const auto& [text, reason] : cases) {
    BenchModel model;
    try {
      apply_preset_json(model, text);
      ADD_FAILURE() << "accepted: " << reason;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), reason);
    }
    EXPECT_EQ(model.simulated_device.read_register("CTRL"), 1) << reason;  // untouched
  }
}

// A board that counts how its registers are written.
class CountingBoard : public SimulatedDevice {
 public:
  void write_register(const std::string& name, std::int64_t value) override {
    ++one_by_one;
    SimulatedDevice::write_register(name, value);
  }
  void write_registers(const std::vector<RegisterWrite>& writes) override {
    batches.push_back(writes.size());
    SimulatedDevice::write_registers(writes);
  }
  int one_by_one = 0;
  std::vector<std::size_t> batches;
};

TEST(Preset, GoesToTheBoardInUseInOneWrite) {
  BenchModel source;
  auto preset = nlohmann::json::parse(preset_to_json(source));
  preset["dacs"]["VTH_ON"] = 2000;
  auto counting = std::make_unique<CountingBoard>();
  CountingBoard& served = *counting;
  BenchModel model(std::move(counting));
  apply_preset_json(model, preset.dump());
  EXPECT_EQ(served.batches, std::vector<std::size_t>{source.registers.size() + source.dacs.size() +
                                                     source.signals.size()});
  EXPECT_EQ(served.one_by_one, 0);
  EXPECT_EQ(served.read_register("VTH_ON"), 2000);
  EXPECT_EQ(model.find("VTH_ON")->value, 2000);  // the editors show it
  EXPECT_EQ(model.simulated_device.read_register("VTH_ON"), 2400) << "not the board in use";
}

TEST(PresetFile, SavesWholeAndLoadsBack) {
  std::filesystem::remove_all("preset_files");
  std::filesystem::create_directories("preset_files");
  BenchModel model;
  model.dacs[2].value = 2222;
  save_preset_file(model, "preset_files/a.json");
  model.dacs[2].value = 3333;
  save_preset_file(model, "preset_files/a.json");  // over the older one
  EXPECT_FALSE(std::filesystem::exists("preset_files/a.json.part"));
  BenchModel loaded;
  load_preset_file(loaded, "preset_files/a.json");
  EXPECT_EQ(loaded.dacs[2].value, 3333);
}

TEST(PresetFile, FailuresNameThePathAndChangeNothing) {
  std::filesystem::remove_all("preset_files");
  std::filesystem::create_directories("preset_files/folder");
  BenchModel model;
  try {
    save_preset_file(model, "no_such_folder/a.json");
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Preset not saved: No such file or directory (no_such_folder/a.json)");
  }
  // A target that cannot be replaced: the folder stays, no part file is left.
  std::ofstream("preset_files/folder/keep") << "x";
  EXPECT_THROW(save_preset_file(model, "preset_files/folder"), std::runtime_error);
  EXPECT_TRUE(std::filesystem::exists("preset_files/folder/keep"));
  EXPECT_FALSE(std::filesystem::exists("preset_files/folder.part"));

  try {
    load_preset_file(model, "preset_files/missing.json");
    ADD_FAILURE() << "loaded a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Preset not loaded: the file cannot be read (preset_files/missing.json)");
  }
  std::ofstream("preset_files/other.json") << R"({"board": "X-1"})";
  model.dacs[0].value = 77;
  try {
    load_preset_file(model, "preset_files/other.json");
    ADD_FAILURE() << "loaded another board's preset";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "Preset not loaded: it is for another board (\"X-1\"), not AER-640 "
                 "(preset_files/other.json)");
  }
  EXPECT_EQ(model.dacs[0].value, 77);
}

}  // namespace
}  // namespace Zelvar_Core::bench
