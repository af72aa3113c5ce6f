// The bench's remote board against the simulated board served in this
// process: what it says when it cannot connect, what the interactive
// thread gets without waiting, the loss and return of the server, and what
// the board says it is (the AER-320 served by pravel-board, a server that
// does not say, one that lies).
#include "bench/remote/client/remote_board.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "bench/board/bitstream.h"
#include "bench/remote/client/board_description.h"
#include "tests/bench/remote/board_server_fixture.h"
#include "tests/support/board_server_process.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"

namespace Zelvar_Core::bench::remote {
namespace {

using testing_support::eventually;

class RemoteBoardTest : public BoardServerTest {
 protected:
  std::unique_ptr<RemoteBoard> connect(const std::string& token = "") {
    auto remote = std::make_unique<RemoteBoard>(server->address(), token, "remote board test");
    const auto listening = remote->listeners_lock();  // its threads run already
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
  // Told on the remote board's command thread, read on this one.
  std::mutex reset_mutex;
  std::string reset_done;
  remote->resets.on_reset = [&](const std::string& name) {
    std::lock_guard lock(reset_mutex);
    reset_done = name;
  };
  remote->resets.reset_chip();
  EXPECT_TRUE(eventually([&] {
    std::lock_guard lock(reset_mutex);
    return reset_done == "reset_chip";
  }));
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
  {
    const auto listening = remote->listeners_lock();
    remote->stream_listener = [&] { ++stream_changes; };
  }
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

TEST_F(RemoteBoardTest, TheBenchRenewsItsLeaseWhileLinkedAndClaimsAgainOneThatLapsed) {
  use_lease_clock(300ms);
  serve();
  auto remote = connect();
  // The lease's clock moves to near the lease's end once the bench renewed it, five times.
  for (int step = 0; step < 5; ++step) {
    const auto renewals = server->access().renewals();
    ASSERT_TRUE(eventually([&] { return server->access().renewals() > renewals; })) << step;
    advance(250ms);
  }
  EXPECT_EQ(server->access().holder(), "remote board test");
  EXPECT_EQ(remote->links_made(), 1);
  remote->write_register("VTH_ON", 2000);  // from this thread: sent with its session, answered
  EXPECT_EQ(board.read_register("VTH_ON"), 2000);

  // A lease that lapsed all the same is claimed again, the board read again through a new link.
  advance(1s);
  ASSERT_TRUE(eventually([&] { return remote->links_made() == 2 && remote->connected(); }));
  EXPECT_EQ(server->access().holder(), "remote board test");
  remote->write_register("VTH_ON", 2100);
  EXPECT_EQ(board.read_register("VTH_ON"), 2100);
  std::lock_guard lock(mutex);
  EXPECT_TRUE(failures.empty()) << failures.front();
}

TEST_F(RemoteBoardTest, ABenchThatClosesLetsGoOfTheBoardAndTheNextClaimsItAtOnce) {
  // A renewal of the lease is held at the server until the bench gives its
  // session back (or for a second): one that reached the board after the
  // release would claim it anew for a bench that is gone.
  struct HoldingARenewal : BoardService {
    using BoardService::BoardService;
    grpc::Status Claim(grpc::ServerContext* context, const v1::ClaimRequest* request,
                       v1::ClaimReply* reply) override {
      if (context->client_metadata().count("zelvar-session") != 0 && hold) {
        std::unique_lock lock(mutex);
        held = true;
        changed.notify_all();
        // Part of the scene, not a cap: within the bench's 2 s for closing, on any build.
        if (!changed.wait_for(lock, 1s, [&] { return released; }))
          return {grpc::StatusCode::UNAVAILABLE, "The renewal never reached the board"};
        hold = false;
      }
      return BoardService::Claim(context, request, reply);
    }
    grpc::Status Release(grpc::ServerContext* context, const v1::ReleaseRequest* request,
                         v1::ReleaseReply* reply) override {
      const grpc::Status status = BoardService::Release(context, request, reply);
      std::lock_guard lock(mutex);
      released = true;
      changed.notify_all();
      return status;
    }
    std::atomic<bool> hold{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false, released = false;
  };
  use_lease_clock(30ms);  // renewed every 10 ms; never lapsing on its own
  serve_as([](ServedBoard& s) { return std::make_unique<HoldingARenewal>(s); });
  auto& holding = dynamic_cast<HoldingARenewal&>(*service);
  auto first = std::make_unique<RemoteBoard>(redescribed_address, "", "first bench");
  ASSERT_EQ(served->access.holder(), "first bench");
  holding.hold = true;
  {
    std::unique_lock lock(holding.mutex);
    ASSERT_TRUE(
        holding.changed.wait_for(lock, testing_support::scaled(10s), [&] { return holding.held; }));
  }
  first.reset();  // the bench closes while its lease's renewal is on its way
  EXPECT_EQ(served->access.holder(), "") << "the bench that closed still holds the board";
  std::unique_ptr<RemoteBoard> second;
  EXPECT_NO_THROW(second = std::make_unique<RemoteBoard>(redescribed_address, "", "second bench"));
  EXPECT_EQ(served->access.holder(), "second bench");
}

// A link to the server through which the server's first bytes on each
// connection arrive `delay` after the connection was made: a distant board,
// or one behind a slow TLS handshake, whose handshake takes that long.
class SlowLink {
 public:
  SlowLink(int server_port, std::chrono::milliseconds delay)
      : server_port_(server_port), delay_(delay) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no socket for the slow link");
    port_ = ntohs(address.sin_port);
    accepting_ = std::thread([this] { accept_all(); });
  }
  ~SlowLink() {
    ::shutdown(listener_, SHUT_RDWR);
    accepting_.join();
    {
      std::lock_guard lock(mutex_);
      for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& pump : pumps_) pump.join();
    for (int fd : sockets_) close(fd);
    close(listener_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void accept_all() {
    for (;;) {
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      const int server = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<std::uint16_t>(server_port_));
      connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address);
      std::lock_guard lock(mutex_);
      sockets_.push_back(client);
      sockets_.push_back(server);
      const auto open_at = std::chrono::steady_clock::now() + delay_;
      pumps_.emplace_back([=] { pump(client, server, {}); });
      pumps_.emplace_back([=] { pump(server, client, open_at); });
    }
  }
  static void pump(int from, int to, std::chrono::steady_clock::time_point open_at) {
    char bytes[16384];
    for (;;) {
      const ssize_t got = recv(from, bytes, sizeof bytes, 0);
      if (got <= 0) break;
      std::this_thread::sleep_until(open_at);  // the link's slowness, not a wait on anything
      if (send(to, bytes, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got) break;
    }
    ::shutdown(to, SHUT_WR);
  }
  const int server_port_;
  const std::chrono::milliseconds delay_;
  int listener_ = -1, port_ = 0;
  std::mutex mutex_;
  std::vector<int> sockets_;
  std::vector<std::thread> pumps_;
  std::thread accepting_;
};

TEST_F(RemoteBoardTest, ABoardWhoseHandshakeTakesHalfASecondIsReachedAllTheSame) {
  serve();
  SlowLink slow(server->port(), 500ms);
  std::unique_ptr<RemoteBoard> remote;
  ASSERT_NO_THROW(remote = std::make_unique<RemoteBoard>(slow.address(), "", "remote board test"));
  EXPECT_TRUE(remote->connected());
  EXPECT_EQ(server->access().holder(), "remote board test");
}

TEST_F(RemoteBoardTest, AnObserverThatThrowsEndsTheProgrammingAndTheBoardProgramsAgain) {
  serve();
  board.bytes_per_second = 1e6;
  auto remote = connect();
  const std::string path = ::testing::TempDir() + "/remote_throwing.bit";
  std::ofstream(path, std::ios::binary)
      << make_bitstream("aer640_thrown", std::string(2 << 20, 'x'));
  // It throws once the board is being written (not while the bitstream is
  // still on its way, which the server does not log as a run).
  struct Throwing : ProgrammingObserver {
    void begin(const std::string&, std::size_t) override {}
    bool advance(std::size_t done) override {
      if (done > 0) throw std::runtime_error("The dialog is gone");
      return true;
    }
    void end() override {}
  } throwing;
  try {
    remote->program(path, &throwing);
    ADD_FAILURE() << "the observer's exception was lost";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "The dialog is gone");
  }
  // Once the server has ended the cancelled run, the board takes another.
  ASSERT_FALSE(programming_end().empty()) << ::testing::PrintToString(server_log());
  board.bytes_per_second = 50e6;
  remote->program(path, nullptr);
  EXPECT_EQ(board.design(), "aer640_thrown");
}

TEST_F(RemoteBoardTest, AFailedWriteNeverPutsItsOldValueOverALaterWriteTheBoardTook) {
  // The board refuses the first write it is sent, once the test has asked the second.
  struct RefusingTheFirstWrite : BoardService {
    using BoardService::BoardService;
    ~RefusingTheFirstWrite() override {
      if (answer.joinable()) answer.join();
    }
    grpc::ServerUnaryReactor* WriteRegister(grpc::CallbackServerContext* context,
                                            const v1::WriteRegisterRequest* request,
                                            v1::WriteRegisterReply* reply) override {
      if (refused.exchange(true)) return BoardService::WriteRegister(context, request, reply);
      grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
      answer = std::thread([this, reactor] {
        second_asked.wait();
        reactor->Finish(
            {grpc::StatusCode::ABORTED, "Register write failed: the board did not answer"});
      });
      return reactor;
    }
    std::atomic<bool> refused{false};
    std::shared_future<void> second_asked;
    std::thread answer;  // the refusal, once the second write was asked
  };
  std::promise<void> second_asked;
  serve_as([&](ServedBoard& s) {
    auto service = std::make_unique<RefusingTheFirstWrite>(s);
    service->second_asked = second_asked.get_future().share();
    return service;
  });
  const std::int64_t before = board.read_register("VTH_ON");
  RemoteBoard remote(redescribed_address, "", "remote board test");
  {
    const auto listening = remote.listeners_lock();
    remote.failure_listener = [this](const std::string& what) {
      std::lock_guard lock(mutex);
      failures.push_back(what);
    };
  }
  remote.set_interactive_thread(std::this_thread::get_id());
  remote.write_register("VTH_ON", before + 100);  // refused
  remote.write_register("VTH_ON", before + 200);  // taken
  second_asked.set_value();
  ASSERT_TRUE(eventually([&] { return board.read_register("VTH_ON") == before + 200; }));
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return failures.size() == 1;
  }));
  EXPECT_EQ(failures.front(), "Register write failed: the board did not answer");
  EXPECT_EQ(remote.read_register("VTH_ON"), before + 200) << "the board holds the later value";
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

// ---- what the board says it is ------------------------------------------------------

TEST(RemoteBoardDescribed, TheServedAer320IsTheBenchsBoardAndWhatItLacksIsNeverSent) {
  const auto folder = std::filesystem::absolute("aer320_remote");
  testing_support::BoardServerProcess server(folder, {"--sensor", "320x240"});
  ASSERT_FALSE(server.address.empty()) << server.printed();
  RemoteBoard remote(server.address, "", "remote board test");
  // What it declared, with the units and descriptions of its registers.
  const BoardDeclaration& board = remote.declaration();
  EXPECT_EQ(board.sensor_name, "AER-320");
  EXPECT_EQ(board.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(board.modes, (std::vector<SensorMode>{SensorMode::EventStream, SensorMode::Standby}));
  EXPECT_EQ(board.resets,
            (std::vector<std::string>{"reset_device", "reset_fifo", "reset_aer", "reset_chip"}));
  EXPECT_EQ(board.adc_labels(), (std::vector<std::string>{"VDD (V)", "Temperature (\u00b0C)"}));
  EXPECT_FALSE(board.has_serial_port);
  ASSERT_NE(board.find_register("CHIP_ID"), nullptr);
  EXPECT_TRUE(board.find_register("CHIP_ID")->read_only);
  EXPECT_EQ(board.find_register("CHIP_ID")->description, "The chip's identification word");
  EXPECT_EQ(remote.registers().find("THR_ON").unit, "mV");
  EXPECT_EQ(remote.registers().find("THR_ON").default_value, 700);
  const std::vector<double> adc = remote.read_adc(0);
  ASSERT_EQ(adc.size(), 2u);
  EXPECT_NEAR(adc[0], 1.2, 0.02);
  EXPECT_NEAR(adc[1], 33, 3);
  // The frame its events are gathered in is its size.
  EventFrame frame;
  DisplayFeed display(remote.events());
  display.take_frame(frame);
  EXPECT_EQ(frame.geometry, (SensorGeometry{320, 240}));
  // From the window's thread: what the board lacks is refused here, at once.
  remote.set_interactive_thread(std::this_thread::get_id());
  auto refusal = [](auto action) {
    try {
      action();
    } catch (const Refused& e) {
      return std::string(e.what());
    }
    return std::string("sent");
  };
  EXPECT_EQ(refusal([&] { remote.set_mode(SensorMode::TestPattern); }),
            "The board has no test pattern mode: nothing was sent");
  EXPECT_EQ(refusal([&] { remote.resets.reset_ram(); }),
            "The board has no RAM reset: nothing was sent");
  EXPECT_EQ(refusal([&] { remote.serial_transact("ID?", [](auto&&...) {}); }),
            "The board has no serial port: nothing was sent");
  EXPECT_EQ(refusal([&] { remote.write_register("CHIP_ID", 1); }),
            "CHIP_ID is read-only: nothing was written");
  EXPECT_EQ(remote.mode(), SensorMode::EventStream);
  EXPECT_TRUE(remote.resets.issued.empty());
  // What it has goes, after them in the same queue: once the server has
  // done it, it has seen everything the bench sent before.
  EXPECT_EQ(refusal([&] { remote.set_mode(SensorMode::Standby); }), "sent");
  EXPECT_EQ(refusal([&] { remote.resets.reset_fifo(); }), "sent");
  ASSERT_TRUE(eventually([&] {
    return server.printed().find("Reset RESET_FIFO: done") != std::string::npos;
  })) << server.printed();
  const std::string log = server.printed();
  EXPECT_NE(log.find("Mode MODE_STANDBY: done"), std::string::npos) << log;
  for (const char* never : {"MODE_TEST_PATTERN", "RESET_RAM", "Serial", "CHIP_ID"})
    EXPECT_EQ(log.find(never), std::string::npos) << never << " reached the server:\n" << log;
  server.kill();
  std::filesystem::remove_all(folder);
}

TEST_F(RemoteBoardTest, AServerThatDoesNotDescribeItsBoardIsTakenForTheAer640SaidOnce) {
  testing_support::LogCapture log({"pravel"});
  serve_redescribed(nullptr);
  const int port = std::stoi(redescribed_address.substr(10));
  auto remote = std::make_unique<RemoteBoard>(redescribed_address, "", "remote board test");
  const BoardDeclaration& board = remote->declaration();
  EXPECT_EQ(board.sensor_name, "AER-640");
  EXPECT_EQ(board.geometry, (SensorGeometry{640, 480}));
  EXPECT_EQ(board.adc_labels(), declaration_of(SimulatedSensor::Aer640).adc_labels());
  EXPECT_EQ(board.modes.size(), 3u);
  EXPECT_EQ(remote->read_adc(0).size(), 4u);
  // Its registers as ListRegisters gave them, with their units.
  EXPECT_EQ(remote->registers().find("VTH_ON").unit, "counts");
  // A new link to the same server: not said again.
  stop_redescribed();
  ASSERT_TRUE(eventually([&] { return !remote->connected(); }));
  serve_redescribed(nullptr, nullptr, port);
  ASSERT_TRUE(eventually([&] { return remote->links_made() == 2 && remote->connected(); }));
  remote.reset();
  std::vector<std::string> said;
  for (const auto& record : log.records())
    if (record.message.find("describe") != std::string::npos) said.push_back(record.message);
  EXPECT_EQ(said, std::vector<std::string>{"The board at " + redescribed_address +
                                           " does not describe itself: taken for an AER-640 "
                                           "board, 640\u00d7480, four ADC channels"});
}

TEST_F(RemoteBoardTest, SeveralWritesGoInOneCallOrOneByOneToAServerWithout) {
  testing_support::LogCapture log({"pravel"});
  serve_redescribed([](v1::BoardDescription&) {});
  auto remote = std::make_unique<RemoteBoard>(redescribed_address, "", "remote board test");
  // From a worker thread: made on the board when the call returns, in one call.
  remote->write_registers({{"VTH_ON", 2100}, {"VTH_OFF", 900}, {"CTRL", 3}});
  EXPECT_EQ(board.read_register("VTH_ON"), 2100);
  EXPECT_EQ(board.read_register("VTH_OFF"), 900);
  EXPECT_EQ(board.read_register("CTRL"), 3);
  EXPECT_EQ(redescribed_service().batch_calls, 1);
  EXPECT_EQ(redescribed_service().single_writes, 0);
  // Refused here, all of it, before anything is sent.
  try {
    remote->write_registers({{"VTH_ON", 2000}, {"VTH_OFF", 5000}});
    ADD_FAILURE() << "an out-of-range value was accepted";
  } catch (const RangeError& e) {
    EXPECT_STREQ(e.what(), "VTH_OFF: 5000 is out of range 0..4095: nothing was written");
  }
  EXPECT_EQ(remote->read_register("VTH_ON"), 2100);
  EXPECT_EQ(redescribed_service().batch_calls, 1);
  // A server made before the call: one by one, said once.
  redescribed_service().batch_writes = false;
  remote->write_registers({{"VTH_ON", 2200}, {"VTH_OFF", 950}});
  remote->write_registers({{"VTH_ON", 2300}, {"CTRL", 1}});
  EXPECT_EQ(board.read_register("VTH_ON"), 2300);
  EXPECT_EQ(board.read_register("VTH_OFF"), 950);
  EXPECT_EQ(board.read_register("CTRL"), 1);
  EXPECT_EQ(redescribed_service().batch_calls, 2) << "asked once, then never again";
  EXPECT_EQ(redescribed_service().single_writes, 4);
  remote.reset();
  std::vector<std::string> said;
  for (const auto& record : log.records())
    if (record.message.find("one by one") != std::string::npos) said.push_back(record.message);
  EXPECT_EQ(said, std::vector<std::string>{"The board server at " + redescribed_address +
                                           " writes one register per call: registers are "
                                           "written one by one"});
}

TEST(BoardDescription, AnIdentityAloneIsCheckedAndGivesTheSizeOfAnUndescribedBoard) {
  v1::Identity identity;
  identity.set_protocol_version(1);
  identity.set_sensor_width(320);
  identity.set_sensor_height(240);
  const BoardDeclaration undescribed = declaration_from(identity, std::nullopt);
  EXPECT_EQ(undescribed.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(undescribed.adc_channels.size(), 4u);
  v1::BoardDescription described;  // a description that leaves everything out: today's defaults
  const BoardDeclaration defaults = declaration_from(identity, described);
  EXPECT_EQ(defaults.geometry, (SensorGeometry{320, 240}));
  EXPECT_EQ(defaults.modes.size(), 3u);
  EXPECT_EQ(defaults.resets, every_reset_name());
  EXPECT_EQ(defaults.event_formats, std::vector<std::string>{"EVT 2.0"});
  EXPECT_EQ(defaults.largest_design_bytes, 32u << 20);
  auto refusal = [](const v1::Identity& id) {
    try {
      declaration_from(id, std::nullopt);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("taken");
  };
  v1::Identity newer = identity;
  newer.set_protocol_version(2);
  EXPECT_EQ(refusal(newer), "it speaks version 2 of the board protocol, and this bench version 1");
  v1::Identity wide = identity;
  wide.set_sensor_width(70000);
  EXPECT_EQ(refusal(wide),
            "its identity gives a sensor of 70000\u00d7240 pixels (each side 1 to 65535)");
  v1::Identity silent;  // a server of before the sizes were given: the AER-640's
  EXPECT_EQ(declaration_from(silent, std::nullopt).geometry, (SensorGeometry{640, 480}));
}

TEST_F(RemoteBoardTest, ADesignLargerThanTheBoardSaysItHoldsIsNeverSent) {
  serve_redescribed([](v1::BoardDescription& d) { d.set_largest_design_bytes(4096); });
  RemoteBoard remote(redescribed_address, "", "remote board test");
  EXPECT_EQ(remote.declaration().largest_design_bytes, 4096u);
  std::ofstream("big.bit", std::ios::binary) << make_bitstream("big", std::string(5000, '\1'));
  std::ofstream("small.bit", std::ios::binary) << make_bitstream("small", std::string(1000, '\1'));
  try {
    remote.program("big.bit");
    ADD_FAILURE() << "a design larger than the board holds was sent";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "The bitstream big.bit is larger than any design the board can hold");
  }
  EXPECT_EQ(board.design(), SimulatedDevice::kFlashDesign);
  remote.program("small.bit");
  EXPECT_EQ(board.design(), "small");
  std::vector<std::string> runs;
  for (const auto& line : server_log())
    if (line.rfind("Programmed ", 0) == 0) runs.push_back(line);
  EXPECT_EQ(runs, std::vector<std::string>{"Programmed small: " +
                                           std::to_string(std::filesystem::file_size("small.bit")) +
                                           " bytes written"});
}

TEST_F(RemoteBoardTest, ABoardThatLiesAboutItselfIsRefusedInOneSentenceAndLeftAlone) {
  // Each lie as the server tells it, and the sentence the bench refuses it with.
  struct Lie {
    RedescribedService::Describe describe;
    RedescribedService::Relist relist;
    std::string sentence;
  };
  const Lie lies[] = {
      {[](v1::BoardDescription& d) { d.set_sensor_width(0); }, nullptr,
       "its description gives a sensor of 0\u00d7480 pixels (each side 1 to 65535)"},
      {[](v1::BoardDescription& d) {
         d.set_sensor_width(320);
         d.set_sensor_height(240);
       },
       nullptr,
       "its identity gives a sensor of 640\u00d7480 pixels and its description 320\u00d7240"},
      {[](v1::BoardDescription& d) { d.add_adc_channels()->set_name("VDD"); }, nullptr,
       "it declares the ADC channel VDD twice"},
      {nullptr, nullptr, ""},  // the truth, between the lies: taken
      {[](v1::BoardDescription& d) { d.add_modes(static_cast<v1::Mode>(9)); }, nullptr,
       "its description names a mode no one knows (9)"},
      {[](v1::BoardDescription& d) { d.mutable_adc_channels(1)->set_normal_min(9); }, nullptr,
       "the ADC channel VDDIO has a normal range that is upside down or not a number"},
      {[](v1::BoardDescription& d) { d.set_event_formats(0, "EVT 3.0"); }, nullptr,
       "it streams none of the event formats this bench reads (EVT 2.0)"},
      {[](v1::BoardDescription&) {},
       [](v1::ListRegistersReply& r) {
         if (r.registers_size() > 0) r.mutable_registers(0)->set_min(5000);
       },
       "the register CTRL has the range 5000..255, upside down"},
      {[](v1::BoardDescription&) {},
       [](v1::ListRegistersReply& r) {
         if (r.registers_size() > 0) r.mutable_registers(0)->set_name(std::string(65, 'R'));
       },
       "a register has a name of 65 characters (at most 64)"},
  };
  for (const Lie& lie : lies) {
    const bool truth = lie.sentence.empty();
    serve_redescribed(
        truth ? RedescribedService::Describe([](v1::BoardDescription&) {}) : lie.describe,
        lie.relist);
    try {
      RemoteBoard remote(redescribed_address, "", "remote board test");
      EXPECT_TRUE(truth) << "taken: " << lie.sentence;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), "The board at " + redescribed_address +
                              " describes itself wrongly: " + lie.sentence);
    }
    // Nothing of it was kept: another client finds the board free.
    Client other(redescribed_address, "other");
    EXPECT_TRUE(other.claim().ok()) << lie.sentence;
    v1::ReleaseReply released;
    other.board->Release(other.context().get(), v1::ReleaseRequest(), &released);
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote

namespace Zelvar_Core::bench::remote {
namespace {

// The served board, but every error is worded in another language: its
// status and reason code are the board's own.
class RewordedService : public BoardService {
 public:
  using BoardService::BoardService;
  grpc::Status GetIdentity(grpc::ServerContext* context, const v1::GetIdentityRequest* request,
                           v1::Identity* identity) override {
    return reworded(BoardService::GetIdentity(context, request, identity));
  }
  grpc::Status StreamEvents(grpc::ServerContext* context, const v1::StreamEventsRequest* request,
                            grpc::ServerWriter<v1::EventBatch>* writer) override {
    return reworded(BoardService::StreamEvents(context, request, writer));
  }

 private:
  static grpc::Status reworded(const grpc::Status& status) {
    if (status.ok()) return status;
    return {status.error_code(), "Die Platine sagt nein: " + status.error_message()};
  }
};

TEST_F(RemoteBoardTest, TheBenchDecidesByTheReasonCodeWhateverTheBoardsWording) {
  serve_as([](ServedBoard& served) { return std::make_unique<RewordedService>(served); });
  // An unplugged board, in other words, is a board that is not there, not a server gone.
  board.set_connected(false);
  RemoteBoard remote(redescribed_address, "", "reason test");
  EXPECT_FALSE(remote.connected());
  std::mutex heard_mutex;
  std::vector<std::string> heard;
  remote.stream_failure = [&](const std::string& what) {
    std::lock_guard lock(heard_mutex);
    heard.push_back(what);
  };
  board.set_connected(true);
  ASSERT_TRUE(eventually([&] { return remote.connected(); }));
  EXPECT_EQ(remote.links_made(), 1);
  remote.start_acquisition();
  ASSERT_TRUE(eventually([&] { return remote.events().published() > 1000; }));
  // A stream that breaks off is told in the board's words, whatever they are.
  board.acquisition().fail_next_read();
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(heard_mutex);
    return !heard.empty();
  }));
  std::lock_guard lock(heard_mutex);
  EXPECT_EQ(heard.front().rfind("Die Platine sagt nein: The event stream broke off: ", 0), 0u)
      << heard.front();
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote
