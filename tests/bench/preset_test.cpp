#include "bench/preset.h"

#include <gtest/gtest.h>

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
  const std::pair<std::string, std::string> cases[] = {
      {out_of_range.dump(), "VTH_ON (5000) is outside 0..4095"},
      {other_board.dump(), "not for this board"},
      {unknown.dump(), "unknown signals entry: BOGUS"},
      {not_integer.dump(), "VBIAS_PR is not an integer"},
      {"{\"board\": ", "not valid JSON"},
  };
  for (const auto& [text, reason] : cases) {
    BenchModel model;
    try {
      apply_preset_json(model, text);
      ADD_FAILURE() << "accepted: " << reason;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    }
    EXPECT_EQ(model.registers[0].value, 1) << reason;  // CTRL untouched
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench
