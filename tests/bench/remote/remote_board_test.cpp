// The bench's remote board against the simulated board served in this
// process: what it says when it cannot connect, what the interactive
// thread gets without waiting, and the loss and return of the server.
#include "bench/remote/remote_board.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench/board/bitstream.h"
#include "tests/bench/remote/board_server_fixture.h"
#include "tests/support/eventually.h"

namespace Zelvar_Core::bench::remote {
namespace {

using testing_support::eventually;

class RemoteBoardTest : public BoardServerTest {
 protected:
  std::unique_ptr<RemoteBoard> connect(const std::string& token = "") {
    auto remote = std::make_unique<RemoteBoard>(server->address(), token, "remote board test");
    remote->connection_listener = [this] { ++connection_changes; };
    remote->failure_listener = [this](const std::string& what) {
      std::lock_guard lock(mutex);
      failures.push_back(what);
    };
    return remote;
  }
  std::atomic<int> connection_changes{0};
  std::mutex mutex;
  std::vector<std::string> failures;
};

TEST_F(RemoteBoardTest, NoServerAWrongTokenOrATakenBoardIsRefusedInOneSentence) {
  EXPECT_THROW(
      {
        try {
          RemoteBoard("127.0.0.1:1", "", "test");
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "No board server answers at 127.0.0.1:1");
          throw;
        }
      },
      std::runtime_error);
  serve("s3cret");
  try {
    connect("wrong");
    ADD_FAILURE() << "a wrong token was let in";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "The board at " + server->address() +
                                         ": The board refuses the call: wrong or missing token");
  }
  Client other(server->address(), "lab-pc-7", "s3cret");
  ASSERT_TRUE(other.claim().ok());
  try {
    connect("s3cret");
    ADD_FAILURE() << "a board held by another client was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("The board is in use by lab-pc-7 at "), std::string::npos)
        << e.what();
  }
}

TEST_F(RemoteBoardTest, ReadsTheBoardAsItIsAndNamesItsAddress) {
  board.write_register("VTH_ON", 2100);
  serve();
  auto remote = connect();
  EXPECT_TRUE(remote->connected());
  EXPECT_EQ(remote->address(), server->address());
  EXPECT_EQ(identity_of(*remote),
            "Zelvar Labs AER-640 sensor board (simulated) SIM-0001 1.4.2 at " + server->address());
  EXPECT_EQ(remote->design(), SimulatedDevice::kFlashDesign);
  EXPECT_EQ(remote->read_register("VTH_ON"), 2100);
  EXPECT_EQ(remote->registers().find("VTH_ON").max, 4095);
  EXPECT_EQ(remote->read_bank(Bank::Chip).size(), board.read_bank(Bank::Chip).size());
  const auto adc = remote->read_adc(0);
  ASSERT_EQ(adc.size(), 4u);
  EXPECT_NEAR(adc[0], 1.8, 0.05);
  std::string answer;
  remote->serial_transact("ID?", [&](const std::string& a, const std::string&) { answer = a; });
  EXPECT_EQ(answer, "AER-640 sensor board (simulated) SIM-0001");
}

TEST_F(RemoteBoardTest, FromAWorkerThreadEveryCallWaitsForTheBoardsAnswer) {
  serve();
  auto remote = connect();
  remote->write_register("VTH_ON", 2222);
  EXPECT_EQ(board.read_register("VTH_ON"), 2222) << "the write returned before the board had it";
  EXPECT_THROW(remote->write_register("VTH_ON", 5000), RangeError);
  EXPECT_EQ(board.read_register("VTH_ON"), 2222);
  remote->set_mode(SensorMode::TestPattern);
  EXPECT_EQ(board.mode(), SensorMode::TestPattern);
  remote->start_acquisition();
  EXPECT_TRUE(board.acquiring());
  EXPECT_TRUE(eventually([&] { return remote->events().published() > 10000; }));
  remote->stop_acquisition();
  EXPECT_FALSE(board.acquiring());
}

TEST_F(RemoteBoardTest, TheInteractiveThreadIsAnsweredAtOnceAndTheBoardFollows) {
  serve();
  auto remote = connect();
  remote->set_interactive_thread(std::this_thread::get_id());
  // Refused here, with the board's own sentence, before anything is sent.
  try {
    remote->write_register("VTH_ON", 5000);
    ADD_FAILURE() << "an out-of-range value was accepted";
  } catch (const RangeError& e) {
    EXPECT_STREQ(e.what(), "VTH_ON: 5000 is out of range 0..4095");
  }
  remote->write_register("VTH_ON", 2300);
  EXPECT_EQ(remote->read_register("VTH_ON"), 2300);
  EXPECT_TRUE(eventually([&] { return board.read_register("VTH_ON") == 2300; }));
  remote->start_acquisition();
  EXPECT_TRUE(remote->acquiring());
  EXPECT_TRUE(eventually([&] { return board.acquiring(); }));
  remote->stop_acquisition();
  EXPECT_TRUE(eventually([&] { return !board.acquiring(); }));
  std::string reset_done;
  remote->resets.on_reset = [&](const std::string& name) { reset_done = name; };
  remote->resets.reset_chip();
  EXPECT_TRUE(eventually([&] { return reset_done == "reset_chip"; }));
}

TEST_F(RemoteBoardTest, ProgrammingTellsItsProgressAndCanBeCancelled) {
  serve();
  board.bytes_per_second = 20e6;
  auto remote = connect();
  const std::string path = ::testing::TempDir() + "/remote_design.bit";
  std::ofstream(path, std::ios::binary)
      << make_bitstream("aer640_remote", std::string(2 << 20, 'x'));
  struct Observer : ProgrammingObserver {
    void begin(const std::string& d, std::size_t b) override {
      design = d;
      bytes = b;
    }
    bool advance(std::size_t done) override {
      seen.push_back(done);
      return !(cancel_at && done >= cancel_at);
    }
    void end() override { ended = true; }
    std::string design;
    std::size_t bytes = 0, cancel_at = 0;
    std::vector<std::size_t> seen;
    bool ended = false;
  } observer;
  remote->program(path, &observer);
  EXPECT_EQ(observer.design, "aer640_remote");
  EXPECT_TRUE(observer.ended);
  EXPECT_TRUE(std::is_sorted(observer.seen.begin(), observer.seen.end()));
  EXPECT_EQ(remote->design(), "aer640_remote");
  EXPECT_EQ(board.design(), "aer640_remote");

  Observer cancelling;
  cancelling.cancel_at = 1;
  board.bytes_per_second = 1e6;
  EXPECT_THROW(remote->program(path, &cancelling), Cancelled);
  EXPECT_TRUE(cancelling.ended);
  // The server stopped writing part way, and the board holds no design.
  const std::string end = programming_end(2);
  std::size_t written = 0, total = 0;
  ASSERT_EQ(
      std::sscanf(end.c_str(),
                  "Programming of aer640_remote cancelled by its caller after %zu of %zu bytes",
                  &written, &total),
      2)
      << end;
  EXPECT_EQ(total, std::filesystem::file_size(path));
  EXPECT_LT(written, total) << "the server wrote on after the cancel";
  EXPECT_EQ(board.design(), "");
  EXPECT_EQ(remote->design(), "");
  EXPECT_THROW(remote->program("/dev/zero", nullptr), std::runtime_error);
}

TEST_F(RemoteBoardTest, ALostServerIsAnUnpluggedBoardUntilItIsBack) {
  serve();
  const int port = server->port();
  auto remote = connect();
  std::atomic<int> stream_changes{0};
  remote->stream_listener = [&] { ++stream_changes; };
  remote->start_acquisition();
  ASSERT_TRUE(remote->acquiring());
  server->shutdown();
  board.stop_acquisition();
  ASSERT_TRUE(eventually([&] { return !remote->connected(); }));
  EXPECT_FALSE(remote->acquiring()) << "the stream outlived its board";
  EXPECT_TRUE(eventually([&] { return connection_changes == 1; })) << connection_changes;
  EXPECT_GE(stream_changes, 2);  // started, then stopped with the loss
  EXPECT_THROW(remote->write_register("VTH_ON", 1000), NoBoard);
  EXPECT_THROW(remote->start_acquisition(), NoBoard);

  server.reset();
  serve("", port);  // the server restarted where it was
  ASSERT_TRUE(eventually([&] { return remote->connected(); }));
  EXPECT_TRUE(eventually([&] { return connection_changes == 2; })) << connection_changes;
  EXPECT_EQ(remote->links_made(), 2);
  remote->start_acquisition();
  EXPECT_TRUE(eventually([&] { return remote->events().published() > 1000; }));
  remote->stop_acquisition();
  std::lock_guard lock(mutex);
  EXPECT_TRUE(failures.empty()) << failures.front();
}

TEST_F(RemoteBoardTest, TheServersSwitchUnplugsAndPlugsTheBoard) {
  serve("s3cret");  // the watch and the stream carry the token too
  auto remote = connect("s3cret");
  Client hand(server->address(), "hand", "s3cret");
  v1::SetConnectedRequest request;
  v1::SimulatorReply reply;
  request.set_connected(false);
  ASSERT_TRUE(hand.simulator->SetConnected(hand.context().get(), request, &reply).ok());
  ASSERT_TRUE(eventually([&] { return !remote->connected(); }));
  EXPECT_THROW(remote->read_identity(), NoBoard);
  request.set_connected(true);
  ASSERT_TRUE(hand.simulator->SetConnected(hand.context().get(), request, &reply).ok());
  ASSERT_TRUE(eventually([&] { return remote->connected(); }));
  EXPECT_TRUE(eventually([&] { return connection_changes == 2; })) << connection_changes;
  EXPECT_EQ(remote->links_made(), 1) << "the link itself held";
  remote->start_acquisition();
  EXPECT_TRUE(eventually([&] { return remote->events().published() > 1000; }))
      << "the stream did not open again after the replug";
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote
