// pravel-board-check's checks against the simulated board served in this
// process: every check passes, and the board is left as it was found.
#include "bench/remote/check/board_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/bench/remote/board_server_fixture.h"

namespace Zelvar_Core::bench::remote {
namespace {

struct BoardAsFound {
  std::vector<Register> device, dac, chip;
  SensorMode mode;
  bool operator==(const BoardAsFound& o) const {
    const auto same = [](const std::vector<Register>& a, const std::vector<Register>& b) {
      return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                        [](const Register& x, const Register& y) {
                          return x.name == y.name && x.value == y.value;
                        });
    };
    return same(device, o.device) && same(dac, o.dac) && same(chip, o.chip) && mode == o.mode;
  }
};

BoardAsFound as_found(SimulatedDevice& board) {
  return {board.read_bank(Bank::Device), board.read_bank(Bank::Dac), board.read_bank(Bank::Chip),
          board.mode()};
}

// Every check run on the server at `address` with the token "s3cret": none
// fails, each is told as it ends. The outcome of each by name.
std::map<std::string, CheckResult::Outcome> run_every_check(const std::string& address) {
  CheckOptions options;
  options.address = address;
  options.token = "s3cret";
  options.lease = false;
  std::vector<std::string> lines;
  const auto results =
      check_board(options, [&](const CheckResult& r) { lines.push_back(result_line(r)); });
  std::map<std::string, CheckResult::Outcome> outcomes;
  for (const auto& r : results) {
    outcomes[r.name] = r.outcome;
    EXPECT_NE(r.outcome, CheckResult::Outcome::Fail) << result_line(r);
  }
  EXPECT_EQ(lines.size(), results.size()) << "each check told as it ended";
  for (const char* name : {"identity",
                           "describe",
                           "token",
                           "claim",
                           "claim.exclusive",
                           "registers",
                           "write",
                           "write.out-of-range",
                           "write.not-found",
                           "write.read-only",
                           "write.batch",
                           "write.batch.all-or-none",
                           "errors",
                           "program.too-large",
                           "program.short",
                           "program.cancel",
                           "acquisition.no-design",
                           "program",
                           "stream.batches",
                           "stream.clock",
                           "stream.stop",
                           "adc",
                           "serial",
                           "resets",
                           "modes",
                           "unplug",
                           "restore",
                           "release",
                           "messages"})
    EXPECT_EQ(outcomes.count(name), 1u) << name << " was not checked";
  return outcomes;
}

TEST_F(BoardServerTest, TheCheckerPassesOnTheSimulatedBoardAndPutsBackWhatItChanged) {
  serve("s3cret");
  // Found in test pattern mode, with registers away from their defaults:
  // the checker sets each mode, reads events in the event stream mode and
  // writes registers on its way.
  board.set_mode(SensorMode::TestPattern);
  board.write_register("VTH_ON", 2222);
  board.write_register("BIAS_GAIN", 7);
  board.write_register("TIMESTAMP_DIV", 1000);
  const BoardAsFound before = as_found(board);

  const auto outcomes = run_every_check(server->address());
  EXPECT_EQ(outcomes.at("describe"), CheckResult::Outcome::Pass);
  EXPECT_TRUE(as_found(board) == before) << "the board was left changed";
  EXPECT_EQ(board.mode(), SensorMode::TestPattern);
  EXPECT_EQ(board.read_register("VTH_ON"), 2222);
  EXPECT_FALSE(board.acquiring());
  Client next(server->address(), "next", "s3cret");
  EXPECT_TRUE(next.claim().ok()) << "the checker gave the board back";
}

TEST(BoardCheckOnTheAer320, PassesWithItsReadOnlyRegisterAndWithoutSerialPortAndPutsBackItsMode) {
  SimulatedDevice board(SimulatedSensor::Aer320);
  ServerOptions served;
  served.listen = "127.0.0.1:0";
  served.token = "s3cret";
  BoardServer server(board, served, std::make_shared<spdlog::logger>("pravel-board"));
  board.set_mode(SensorMode::Standby);
  board.write_register("THR_ON", 650);
  const BoardAsFound before = as_found(board);

  const auto outcomes = run_every_check(server.address());
  EXPECT_EQ(outcomes.at("write.read-only"), CheckResult::Outcome::Pass);
  EXPECT_EQ(outcomes.at("serial"), CheckResult::Outcome::Pass);
  EXPECT_TRUE(as_found(board) == before) << "the board was left changed";
  EXPECT_EQ(board.mode(), SensorMode::Standby);
  server.shutdown();
  board.stop_acquisition();
}

TEST(BoardCheckBatches, AMalformedBatchIsToldWhatIsWrongWithIt) {
  const auto words = [](std::vector<std::uint32_t> w) {
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 4);
  };
  const std::uint32_t high = 0x80000001;                          // time 64 µs
  const std::uint32_t on = 1u << 28 | 5u << 22 | 10u << 11 | 20;  // (10, 20) at 69 µs
  EXPECT_EQ(batch_fault(words({high, on, on}), 2, 69, 640, 480, 1 << 20), "");
  EXPECT_EQ(batch_fault(words({high, on}).substr(0, 6), 1, 69, 640, 480, 1 << 20),
            "6 bytes, not a whole number of 32-bit words");
  EXPECT_EQ(batch_fault(words({on, high}), 1, 69, 640, 480, 1 << 20),
            "it starts with a word of type 0x1, not a time-high word");
  EXPECT_EQ(batch_fault(words({high, on}), 2, 69, 640, 480, 1 << 20),
            "`events` says 2, the words hold 1");
  EXPECT_EQ(batch_fault(words({high, on}), 1, 69, 10, 480, 1 << 20),
            "word 1: an event at (10, 20), outside the sensor's 10×480");
  EXPECT_EQ(batch_fault(words({high, on}), 1, 68, 640, 480, 1 << 20),
            "an event at 69 µs, after the batch's board time 68 µs");
  EXPECT_EQ(batch_fault(words({0x80000002, on, high}), 1, 200, 640, 480, 1 << 20),
            "word 2: the time high goes back from 2 to 1");
  EXPECT_EQ(batch_fault(words({high, 0x30000000}), 0, 69, 640, 480, 1 << 20),
            "word 1: type 0x3, which EVT 2.0 does not have");
  EXPECT_EQ(batch_fault(words({high, on}), 1, 69, 640, 480, 4),
            "8 bytes, longer than the board's largest batch of 4");
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote
