// The simulated board behind the board protocol, called as a client calls
// it: over a real channel to 127.0.0.1, with the token, the session and the
// simulator's switches.
#include <gtest/gtest.h>
#include <signal.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/board/bitstream.h"
#include "bench/events/evt2.h"
#include "tests/bench/remote/board_server_fixture.h"
#include "tests/support/board_server_process.h"
#include "tests/support/test_certificates.h"

namespace Zelvar_Core::bench::remote {
namespace {

using namespace std::chrono_literals;

TEST(ServerOptions, TheDefaultAddressIsTheLoopbackAtTheProtocolsPort) {
  EXPECT_EQ(ServerOptions().listen, "127.0.0.1:50551");
  EXPECT_EQ(host_of("0.0.0.0:7"), "0.0.0.0");
  EXPECT_EQ(host_of("[::1]:50551"), "[::1]");
  for (const char* bad : {"50551", "host:", ":50551", "host:port", "host:99999"})
    EXPECT_THROW(host_of(bad), std::invalid_argument) << bad;
}

TEST_F(BoardServerTest, ListensWhereItSaysAndAnswersWhoItIs) {
  serve();
  EXPECT_EQ(server->address().rfind("127.0.0.1:", 0), 0u) << server->address();
  EXPECT_GT(server->port(), 0);
  Client client(server->address(), "test");
  v1::Identity identity;
  ASSERT_TRUE(client.identity(&identity).ok());
  EXPECT_EQ(identity.vendor(), "Zelvar Labs");
  EXPECT_EQ(identity.product(), "AER-640 sensor board (simulated)");
  EXPECT_EQ(identity.design(), SimulatedDevice::kFlashDesign);
  EXPECT_EQ(identity.sensor_width(), 640u);
  EXPECT_EQ(identity.sensor_height(), 480u);
  EXPECT_EQ(identity.protocol_version(), 1u);
}

TEST_F(BoardServerTest, WithATokenEveryCallMustCarryIt) {
  serve("s3cret");
  v1::Identity identity;
  for (const char* wrong : {"", "guess"}) {
    Client stranger(server->address(), "stranger", wrong);
    const grpc::Status status = stranger.identity(&identity);
    EXPECT_EQ(status.error_code(), grpc::StatusCode::UNAUTHENTICATED) << wrong;
    EXPECT_EQ(status.error_message(), "The board refuses the call: wrong or missing token");
    EXPECT_EQ(stranger.claim().error_code(), grpc::StatusCode::UNAUTHENTICATED);
  }
  Client friendly(server->address(), "friend", "s3cret");
  EXPECT_TRUE(friendly.identity(&identity).ok());
}

TEST_F(BoardServerTest, OneClientAtATimeChangesTheBoard) {
  serve();
  Client first(server->address(), "pravel on bench-1"), second(server->address(), "script");
  // Nobody holds the board: a change is refused until claimed.
  grpc::Status status = second.write("VTH_ON", 2500);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(status.error_message(), "Claim the board first");
  ASSERT_TRUE(first.claim().ok());
  status = second.claim();
  EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(status.error_message().rfind("The board is in use by pravel on bench-1 at ", 0), 0u)
      << status.error_message();
  EXPECT_EQ(second.write("VTH_ON", 2500).error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_TRUE(first.write("VTH_ON", 2500).ok());
  // Reading needs no session.
  v1::Identity identity;
  EXPECT_TRUE(second.identity(&identity).ok());
  v1::ReleaseReply released;
  ASSERT_TRUE(first.board->Release(first.context().get(), v1::ReleaseRequest(), &released).ok());
  EXPECT_TRUE(second.claim().ok());
  EXPECT_TRUE(second.write("VTH_ON", 2600).ok());
}

TEST(BoardAccess, ATokenIsReadOnlyFromASmallRegularFileOnlyItsOwnerReads) {
  const std::filesystem::path folder = std::filesystem::absolute("tokens");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const auto write = [&](const char* name, const std::string& text, mode_t mode = 0600) {
    std::ofstream(folder / name) << text;
    EXPECT_EQ(::chmod((folder / name).c_str(), mode), 0);
    return (folder / name).string();
  };
  EXPECT_EQ(read_token_file(write("good", "  s3cret \r\nsecond line")), "s3cret");
  const std::string fifo = (folder / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, std::string> refused[] = {
      {"/dev/zero", "The token file /dev/zero is not a regular file"},
      {fifo, "The token file " + fifo + " is not a regular file"},
      {folder.string(), "The token file " + folder.string() + " is not a regular file"},
      {write("empty", ""), "The token file " + (folder / "empty").string() + " holds no token"},
      {write("blank", " \t\n"),
       "The token file " + (folder / "blank").string() + " holds no token"},
      {write("big", std::string(5000, 'x')),
       "The token file " + (folder / "big").string() + " is larger than 4 KiB: not a token"},
      {(folder / "none").string(), "Cannot read the token file " + (folder / "none").string()},
      {write("group", "s3cret", 0640),
       "The token file " + (folder / "group").string() + " is readable by others: chmod 600 it"},
      {write("world", "s3cret", 0604),
       "The token file " + (folder / "world").string() + " is readable by others: chmod 600 it"}};
  for (const auto& [path, why] : refused) {
    try {
      read_token_file(path);
      ADD_FAILURE() << path << " was read";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), why);
    }
  }
}

TEST(BoardAccess, ASessionLapsesTenSecondsAfterItsHoldersLastCall) {
  auto now = std::chrono::steady_clock::time_point{} + 1h;
  BoardAccess access("", [&now] { return now; });
  std::string first, second;
  ASSERT_TRUE(access.claim("A", "peer-a", first).ok());
  EXPECT_EQ(access.holder(), "A");
  now += 9s;
  EXPECT_TRUE(access.check_holder(first).ok()) << "a call renews the lease";
  now += 9s;
  EXPECT_FALSE(access.claim("B", "peer-b", second).ok()) << "9 s after A's last call";
  now += 2s;
  ASSERT_TRUE(access.claim("B", "peer-b", second).ok()) << "11 s after A's last call";
  EXPECT_NE(first, second);
  EXPECT_FALSE(access.check_holder(first).ok());
  EXPECT_EQ(access.holder(), "B");
}

TEST_F(BoardServerTest, AHolderThatStopsCallingLosesTheBoardWithinItsLeaseItsWatchOpenOrNot) {
  use_lease_clock();
  serve();
  Client holder(server->address(), "stopped script"), next(server->address(), "next"),
      hand(server->address(), "hand");
  ASSERT_TRUE(holder.claim().ok());
  EXPECT_EQ(holder.lease_ms, 10000u) << "the claim states its lease";
  // The holder opens its watch with its session, reads the board once, and is
  // stopped: its watch stays open and is never read again.
  auto stopped = holder.context(30s);
  auto its_watch = holder.board->WatchBoard(stopped.get(), v1::WatchBoardRequest());
  v1::BoardState state;
  ASSERT_TRUE(its_watch->Read(&state));
  EXPECT_EQ(state.held_by(), "stopped script");
  // Another client watches on; each second of the lease's clock, a hand
  // pulls and plugs the cable, and the watch sees both before the next.
  auto watching = next.context(30s);  // a watch that waits in vain fails the test
  auto watch = next.board->WatchBoard(watching.get(), v1::WatchBoardRequest());
  ASSERT_TRUE(watch->Read(&state));
  const auto plug = [&](bool connected) {
    v1::SetConnectedRequest request;
    request.set_connected(connected);
    v1::SimulatorReply reply;
    ASSERT_TRUE(hand.simulator->SetConnected(hand.context().get(), request, &reply).ok());
    while (state.plugged() != connected) ASSERT_TRUE(watch->Read(&state));
  };
  for (int second = 1; second <= 9; ++second) {
    advance(1s);
    plug(false);
    plug(true);
    EXPECT_EQ(state.held_by(), "stopped script") << second << " s after its last call";
  }
  advance(1s);
  while (!state.held_by().empty()) ASSERT_TRUE(watch->Read(&state));
  ASSERT_TRUE(next.claim().ok()) << "10 s after the holder's last call";
  EXPECT_EQ(holder.write("VTH_ON", 2500).error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  stopped->TryCancel();
  its_watch->Finish();
  watching->TryCancel();
  watch->Finish();
}

TEST_F(BoardServerTest, AHolderGetsItsSessionBackFromItsOwnChannelOrByCarryingItNamedOrNot) {
  use_lease_clock();
  serve();
  Client unnamed(server->address(), "");
  ASSERT_TRUE(unnamed.claim().ok());
  const std::string session = unnamed.session;
  unnamed.session.clear();
  ASSERT_TRUE(unnamed.claim().ok()) << "an unnamed holder, again from its own channel";
  EXPECT_EQ(unnamed.session, session);
  Client stranger(server->address(), "");  // unnamed too, from a channel of its own
  const grpc::Status refused = stranger.claim();
  EXPECT_EQ(refused.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(refused.error_message().rfind("The board is in use by an unnamed client at ", 0), 0u)
      << refused.error_message();
  // The holder on a new connection, carrying its session: the same session, its lease renewed.
  advance(9s);
  Client back(server->address(), "");
  back.session = session;
  ASSERT_TRUE(back.claim().ok());
  EXPECT_EQ(back.session, session);
  advance(9s);
  EXPECT_TRUE(back.write("VTH_ON", 2500).ok()) << "18 s after the first claim, 9 s after the last";
  EXPECT_EQ(server->access().holder(), "an unnamed client");
}

TEST_F(BoardServerTest, WritesGoThroughTheBoardsRangeCheck) {
  serve();
  Client client(server->address(), "test");
  ASSERT_TRUE(client.claim().ok());
  v1::WriteRegisterReply written;
  ASSERT_TRUE(client.write("VTH_ON", 2600, &written).ok());
  EXPECT_EQ(written.old_value(), 2400);
  EXPECT_EQ(written.new_value(), 2600);
  grpc::Status status = client.write("VTH_ON", 5000);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::OUT_OF_RANGE);
  EXPECT_EQ(status.error_message(), "VTH_ON: 5000 is out of range 0..4095");
  EXPECT_EQ(board.read_register("VTH_ON"), 2600) << "nothing written";
  status = client.write("VTH_XX", 1);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::NOT_FOUND);
  EXPECT_EQ(status.error_message(), "The board has no register named VTH_XX");

  v1::ListRegistersRequest request;
  request.set_bank(v1::BANK_DAC);
  v1::ListRegistersReply dacs;
  ASSERT_TRUE(client.board->ListRegisters(client.context().get(), request, &dacs).ok());
  ASSERT_EQ(dacs.registers_size(), static_cast<int>(board.read_bank(Bank::Dac).size()));
  const auto vth = std::find_if(dacs.registers().begin(), dacs.registers().end(),
                                [](const v1::Register& r) { return r.name() == "VTH_ON"; });
  ASSERT_NE(vth, dacs.registers().end());
  EXPECT_EQ(vth->value(), 2600);
  EXPECT_EQ(vth->min(), 0);
  EXPECT_EQ(vth->max(), 4095);
}

TEST_F(BoardServerTest, SeveralWritesInOneCallAreMadeAllOrNone) {
  serve();
  Client client(server->address(), "test");
  Client stranger(server->address(), "stranger");
  ASSERT_TRUE(client.claim().ok());
  v1::WriteRegistersReply written;
  ASSERT_TRUE(client.write_all({{"VTH_ON", 2600}, {"VTH_OFF", 900}, {"CTRL", 3}}, &written).ok());
  ASSERT_EQ(written.written_size(), 3);
  const std::pair<std::int64_t, std::int64_t> told[] = {{2400, 2600}, {800, 900}, {1, 3}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(written.written(i).old_value(), told[i].first) << i;
    EXPECT_EQ(written.written(i).new_value(), told[i].second) << i;
  }
  EXPECT_EQ(board.read_register("VTH_OFF"), 900);
  // Any write refused: none made, the refused register named in one sentence.
  const struct {
    std::vector<std::pair<std::string, std::int64_t>> writes;
    grpc::StatusCode code;
    std::string said;
  } refusals[] = {
      {{{"VTH_ON", 2000}, {"VTH_OFF", 5000}},
       grpc::StatusCode::OUT_OF_RANGE,
       "VTH_OFF: 5000 is out of range 0..4095: nothing was written"},
      {{{"VTH_ON", 2000}, {"VTH_XX", 1}},
       grpc::StatusCode::NOT_FOUND,
       "The board has no register named VTH_XX: nothing was written"},
      {{{"VTH_ON", 2000}, {"VTH_ON", 2100}},
       grpc::StatusCode::INVALID_ARGUMENT,
       "VTH_ON is written twice in one call: nothing was written"},
      {{}, grpc::StatusCode::INVALID_ARGUMENT, "No register to write: nothing was written"},
  };
  for (const auto& refusal : refusals) {
    const grpc::Status status = client.write_all(refusal.writes);
    EXPECT_EQ(status.error_code(), refusal.code) << refusal.said;
    EXPECT_EQ(status.error_message(), refusal.said);
    EXPECT_EQ(board.read_register("VTH_ON"), 2600) << refusal.said;
  }
  // Only the holder writes.
  EXPECT_EQ(stranger.write_all({{"VTH_ON", 2000}}).error_code(),
            grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(board.read_register("VTH_ON"), 2600);
}

TEST(BoardWrites, AReadOnlyRegisterAmongSeveralRefusesThemAll) {
  SimulatedDevice small(SimulatedSensor::Aer320);
  const auto writable = small.registers().bank(Bank::Dac).front();
  const std::int64_t was = writable.value;
  try {
    small.write_registers({{writable.name, writable.min}, {"CHIP_ID", 1}});
    ADD_FAILURE() << "a read-only register was written";
  } catch (const Refused& e) {
    EXPECT_STREQ(e.what(), "CHIP_ID is read-only: nothing was written");
  }
  EXPECT_EQ(small.read_register(writable.name), was);
}

TEST_F(BoardServerTest, ProgrammingStreamsTheBitstreamAndTellsItsProgress) {
  serve();
  Client client(server->address(), "test");
  ASSERT_TRUE(client.claim().ok());
  board.bytes_per_second = 50e6;  // a quick board
  const std::string bytes = make_bitstream("aer640_sample", std::string(3 << 20, '\x5a'));
  std::vector<v1::ProgramProgress> seen;
  const grpc::Status status = program(client, bytes, seen);
  ASSERT_TRUE(status.ok()) << status.error_message();
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front().design(), "aer640_sample");
  for (std::size_t i = 1; i < seen.size(); ++i)
    EXPECT_GE(seen[i].bytes_done(), seen[i - 1].bytes_done());
  EXPECT_TRUE(seen.back().done());
  EXPECT_EQ(seen.back().bytes_done(), seen.back().bytes_total());
  EXPECT_EQ(board.design(), "aer640_sample");

  // A stream shorter than its header says programs nothing.
  seen.clear();
  auto context = client.context();
  auto stream = client.board->Program(context.get());
  v1::ProgramChunk chunk;
  chunk.mutable_header()->set_total_bytes(bytes.size());
  stream->Write(chunk);
  chunk.set_data(bytes.substr(0, 1000));
  stream->Write(chunk);
  stream->WritesDone();
  v1::ProgramProgress progress;
  while (stream->Read(&progress)) {
  }
  const grpc::Status short_status = stream->Finish();
  EXPECT_EQ(short_status.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(short_status.error_message(),
            "The bitstream ended after 1000 of " + std::to_string(bytes.size()) + " bytes");

  // A file is told and named by the name its sender gave, not by the server's copy.
  seen.clear();
  ASSERT_TRUE(program(client, std::string(5000, 'x'), seen).ok()) << "a file without a header";
  EXPECT_EQ(board.design(), "sample.bit");
  seen.clear();
  const grpc::Status damaged = program(client, make_bitstream("x", "data").substr(0, 30), seen);
  EXPECT_EQ(damaged.error_code(), grpc::StatusCode::ABORTED);
  EXPECT_EQ(damaged.error_message().rfind("The bitstream sample.bit is damaged: ", 0), 0u)
      << damaged.error_message();
}

TEST_F(BoardServerTest, CancellingTheCallCancelsTheProgramming) {
  serve();
  Client client(server->address(), "test");
  ASSERT_TRUE(client.claim().ok());
  board.bytes_per_second = 2e6;  // long enough to cancel part way
  const std::string bytes = make_bitstream("aer640_sample", std::string(3 << 20, '\x5a'));
  std::vector<v1::ProgramProgress> seen;
  const grpc::Status status = program(client, bytes, seen, true);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::CANCELLED);
  // What the server did, from its log: it stopped writing part way.
  const std::string end = programming_end();
  std::size_t written = 0, total = 0;
  ASSERT_EQ(
      std::sscanf(end.c_str(),
                  "Programming of aer640_sample cancelled by its caller after %zu of %zu bytes",
                  &written, &total),
      2)
      << end;
  EXPECT_EQ(total, bytes.size());
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, total) << "the server wrote on after the cancel";
  EXPECT_EQ(board.design(), "") << "a cancelled programming leaves no design";
}

TEST_F(BoardServerTest, AProgrammingRunRenewsItsCallersSessionWithEachProgress) {
  // A run may last longer than the lease (a large design, a slow board): its
  // caller's session is renewed with each progress sent, as by a call of its
  // own, so no other client claims the board half way.
  serve();
  Client holder(server->address(), "holder"), other(server->address(), "other");
  ASSERT_TRUE(holder.claim().ok());
  board.bytes_per_second = 50e6;
  const unsigned long long renewed_before = server->access().renewals();
  std::vector<v1::ProgramProgress> seen;
  const grpc::Status status =
      program(holder, make_bitstream("aer640_sample", std::string(3 << 20, '\x5a')), seen);
  ASSERT_TRUE(status.ok()) << status.error_message();
  ASSERT_GT(seen.size(), 20u);
  // The call's admission, then every progress but the last, which ends the call.
  EXPECT_EQ(server->access().renewals() - renewed_before, seen.size());
  const grpc::Status refused = other.claim();
  EXPECT_EQ(refused.error_message().rfind("The board is in use by holder at ", 0), 0u)
      << refused.error_message();
}

TEST_F(BoardServerTest, EventsArriveAsBatchesOfEvt2WordsThatDecodeOnTheirOwn) {
  serve();
  Client client(server->address(), "test");
  ASSERT_TRUE(client.claim().ok());
  auto context = client.context();
  auto reader = client.board->StreamEvents(context.get(), v1::StreamEventsRequest());
  ASSERT_TRUE(client.start().ok());
  std::uint64_t batches = 0, events = 0;
  v1::EventBatch batch;
  while (batches < 20 && reader->Read(&batch)) {
    ASSERT_EQ(batch.evt2_words().size() % 4, 0u);
    std::vector<std::uint32_t> words(batch.evt2_words().size() / 4);
    std::memcpy(words.data(), batch.evt2_words().data(), batch.evt2_words().size());
    evt2::Decoder decoder;
    std::vector<Event> decoded;
    decoder.decode(words.data(), words.size(), decoded);
    ASSERT_EQ(decoded.size(), batch.events()) << "batch " << batches;
    EXPECT_EQ(decoded.back().t, batch.board_time_us());
    ++batches;
    events += decoded.size();
  }
  EXPECT_EQ(batches, 20u);
  EXPECT_GT(events, 0u);
  context->TryCancel();
  reader->Finish();
}

TEST_F(BoardServerTest, UnpluggedThroughTheSimulatorSwitchEveryBoardCallIsRefused) {
  serve();
  Client client(server->address(), "test");
  ASSERT_TRUE(client.claim().ok());
  auto stream_context = client.context();
  auto reader = client.board->StreamEvents(stream_context.get(), v1::StreamEventsRequest());
  ASSERT_TRUE(client.start().ok());
  v1::EventBatch batch;
  ASSERT_TRUE(reader->Read(&batch)) << "the stream is up before the board goes";
  v1::SetConnectedRequest unplug;
  unplug.set_connected(false);
  v1::SimulatorReply done;
  ASSERT_TRUE(client.simulator->SetConnected(client.context().get(), unplug, &done).ok());
  v1::Identity identity;
  const grpc::Status status = client.identity(&identity);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::UNAVAILABLE);
  EXPECT_EQ(status.error_message(), "No board is connected: identity not read");
  while (reader->Read(&batch)) {
  }
  const grpc::Status ended = reader->Finish();
  EXPECT_EQ(ended.error_code(), grpc::StatusCode::UNAVAILABLE);
  EXPECT_EQ(ended.error_message(), "No board is connected: the event stream ended");
  v1::SerialRequest line;
  line.set_line("ID?");
  v1::SerialReply answer;
  EXPECT_EQ(client.board->SerialTransact(client.context().get(), line, &answer).error_code(),
            grpc::StatusCode::UNAVAILABLE);
}

TEST_F(BoardServerTest, TheWatchSeesEachChangeOfTheBoard) {
  serve();
  Client client(server->address(), "watcher");
  ASSERT_TRUE(client.claim().ok());
  auto context = client.context();
  auto watch = client.board->WatchBoard(context.get(), v1::WatchBoardRequest());
  v1::BoardState state;
  ASSERT_TRUE(watch->Read(&state));
  EXPECT_TRUE(state.plugged());
  EXPECT_EQ(state.held_by(), "watcher");
  v1::SetConnectedRequest unplug;
  unplug.set_connected(false);
  v1::SimulatorReply done;
  ASSERT_TRUE(client.simulator->SetConnected(client.context().get(), unplug, &done).ok());
  // Unplugging may be seen in steps (the board first, then its design).
  while (watch->Read(&state) && (state.plugged() || !state.design().empty())) {
  }
  EXPECT_FALSE(state.plugged());
  EXPECT_EQ(state.design(), "");
  context->TryCancel();
  watch->Finish();
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote

namespace Zelvar_Core::bench::remote {
namespace {

// pravel-board started as a user starts it: its first line of output, then
// its exit status once sent `signal` (0: none sent, it exits by itself).
struct ServerRun {
  std::string first_line;
  int status = -1;
};
ServerRun run_server(std::vector<std::string> args, int signal_to_send) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>(PRAVEL_BOARD_PATH)};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(PRAVEL_BOARD_PATH, argv.data());
    _exit(127);
  }
  close(out[1]);
  ServerRun run;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') run.first_line += c;
  if (signal_to_send) kill(pid, signal_to_send);
  int status = 0;
  waitpid(pid, &status, 0);
  close(out[0]);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

TEST(PravelBoard, SaysWhereItListensAndStopsCleanlyOnASignal) {
  const ServerRun run = run_server({"--listen", "127.0.0.1:0"}, SIGTERM);
  EXPECT_EQ(run.first_line.rfind("pravel-board: serving the simulated board on 127.0.0.1:", 0), 0u)
      << run.first_line;
  EXPECT_EQ(run.status, 0);
}

TEST(PravelBoard, RefusesWhatItCannotDoInOneSentence) {
  ServerRun run = run_server({"--bogus"}, 0);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.first_line.find("See pravel-board --help."), std::string::npos) << run.first_line;
  run = run_server({"--sensor", "320x200"}, 0);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.first_line,
            "pravel-board: --sensor: \"320x200\" is not a simulated sensor; choose 640x480 or "
            "320x240. See pravel-board --help.");
  run = run_server({"--listen", "nowhere"}, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.first_line, "pravel-board: nowhere is not an address with a port (HOST:PORT)");
  run = run_server({"--listen", "127.0.0.1:0", "--token-file", "/nonexistent/token"}, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.first_line, "pravel-board: Cannot read the token file /nonexistent/token");
  // Strangers: no network without a token, no TLS without its key, no key others may read.
  run = run_server({"--listen", "0.0.0.0:0"}, SIGTERM);  // the signal only if it listened
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.first_line,
            "pravel-board: A server on 0.0.0.0:0 is reached from beyond this machine: give it a "
            "token with --token-file F");
  const testing_support::TestCertificates tls(std::filesystem::absolute("tls-refused"));
  run = run_server({"--listen", "127.0.0.1:0", "--tls-cert", tls.path("server.pem")}, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.first_line,
            "pravel-board: TLS needs both the certificate and its key: give --tls-cert and "
            "--tls-key");
  ASSERT_EQ(chmod(tls.path("server.key").c_str(), 0640), 0);
  run = run_server({"--listen", "127.0.0.1:0", "--tls-cert", tls.path("server.pem"), "--tls-key",
                    tls.path("server.key")},
                   0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.first_line, "pravel-board: The TLS key " + tls.path("server.key") +
                                " is readable by others: chmod 600 it");
}

// ---- what the board says it is ------------------------------------------------------

// The description as one line per item, to compare whole.
std::vector<std::string> described(const v1::BoardDescription& d) {
  std::vector<std::string> lines = {
      d.sensor_name() + " " + std::to_string(d.sensor_width()) + "x" +
          std::to_string(d.sensor_height()),
      "serial port " + std::string(d.has_serial_port() ? "yes" : "no"),
      "design " + std::to_string(d.largest_design_bytes()) + ", batch " +
          std::to_string(d.largest_batch_bytes())};
  for (const int mode : d.modes()) lines.push_back("mode " + v1::Mode_Name(mode));
  for (const int reset : d.resets()) lines.push_back("reset " + v1::ResetKind_Name(reset));
  for (const auto& c : d.adc_channels()) {
    std::ostringstream range;
    range << c.normal_min() << ".." << c.normal_max();
    lines.push_back("adc " + c.name() + " " + c.unit() + " " + range.str());
  }
  for (const auto& format : d.event_formats()) lines.push_back("format " + format);
  return lines;
}

TEST_F(BoardServerTest, TheAer640DescribesItselfAndItsRegisters) {
  serve();
  Client client(server->address(), "test");
  v1::BoardDescription description;
  ASSERT_TRUE(
      client.board->DescribeBoard(client.context().get(), v1::DescribeBoardRequest(), &description)
          .ok());
  EXPECT_EQ(described(description),
            (std::vector<std::string>{
                "AER-640 640x480", "serial port yes", "design 33554432, batch 4194304",
                "mode MODE_EVENT_STREAM", "mode MODE_TEST_PATTERN", "mode MODE_STANDBY",
                "reset RESET_DEVICE", "reset RESET_FIFO", "reset RESET_RAM", "reset RESET_AER",
                "reset RESET_CHIP", "adc VDD V 1.7..1.9", "adc VDDIO V 3.1..3.5",
                "adc Temperature \u00b0C 20..70", "adc Ibias \u00b5A 0..50", "format EVT 2.0"}));
  v1::ListRegistersRequest request;
  request.set_bank(v1::BANK_DAC);
  v1::ListRegistersReply reply;
  ASSERT_TRUE(client.board->ListRegisters(client.context().get(), request, &reply).ok());
  ASSERT_EQ(reply.registers_size(), 5);
  const v1::Register& on = reply.registers(2);
  EXPECT_EQ(on.name(), "VTH_ON");
  EXPECT_EQ(on.unit(), "counts");
  EXPECT_EQ(on.description(), "ON contrast threshold");
  EXPECT_FALSE(on.read_only());
  EXPECT_EQ(on.default_value(), 2400);
}

TEST(PravelBoard, TheAer320IsServedAsItDescribesItselfAndRefusesWhatItLacks) {
  const auto folder = std::filesystem::absolute("aer320_served");
  testing_support::BoardServerProcess server(folder, {"--sensor", "320x240"});
  ASSERT_FALSE(server.address.empty()) << server.printed();
  Client client(server.address, "test");
  v1::Identity identity;
  ASSERT_TRUE(client.identity(&identity).ok());
  EXPECT_EQ(identity.product(), "AER-320 sensor board (simulated)");
  EXPECT_EQ(identity.sensor_width(), 320u);
  EXPECT_EQ(identity.sensor_height(), 240u);
  v1::BoardDescription description;
  ASSERT_TRUE(
      client.board->DescribeBoard(client.context().get(), v1::DescribeBoardRequest(), &description)
          .ok());
  EXPECT_EQ(described(description),
            (std::vector<std::string>{"AER-320 320x240", "serial port no",
                                      "design 33554432, batch 4194304", "mode MODE_EVENT_STREAM",
                                      "mode MODE_STANDBY", "reset RESET_DEVICE", "reset RESET_FIFO",
                                      "reset RESET_AER", "reset RESET_CHIP", "adc VDD V 1.1..1.3",
                                      "adc Temperature \u00b0C 20..70", "format EVT 2.0"}));
  // Its registers, the chip id read-only; its ADC's two channels.
  v1::ListRegistersRequest request;
  request.set_bank(v1::BANK_DEVICE);
  v1::ListRegistersReply registers;
  ASSERT_TRUE(client.board->ListRegisters(client.context().get(), request, &registers).ok());
  ASSERT_EQ(registers.registers_size(), 5);
  const v1::Register& id = registers.registers(4);
  EXPECT_EQ(id.name(), "CHIP_ID");
  EXPECT_TRUE(id.read_only());
  EXPECT_EQ(id.default_value(), 0x320A);
  EXPECT_EQ(id.description(), "The chip's identification word");
  EXPECT_EQ(registers.registers(1).unit(), "events");
  v1::AdcReadingReply adc;
  ASSERT_TRUE(client.board->ReadAdc(client.context().get(), v1::ReadAdcRequest(), &adc).ok());
  ASSERT_EQ(adc.channels_size(), 2);
  EXPECT_EQ(adc.channels(0).name() + " " + adc.channels(0).unit(), "VDD V");
  EXPECT_NEAR(adc.channels(0).value(), 1.2, 0.02);
  EXPECT_EQ(adc.channels(1).name() + " " + adc.channels(1).unit(), "Temperature \u00b0C");
  // What it has not is refused, in its own sentence, and nothing is done.
  ASSERT_TRUE(client.claim().ok());
  v1::WriteRegisterReply written;
  grpc::Status status = client.write("CHIP_ID", 7, &written);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(status.error_message(), "CHIP_ID is read-only: nothing was written");
  v1::SetModeRequest mode;
  mode.set_mode(v1::MODE_TEST_PATTERN);
  v1::SetModeReply mode_set;
  status = client.board->SetMode(client.context().get(), mode, &mode_set);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(status.error_message(), "The board has no test pattern mode: nothing was sent");
  v1::ResetRequest reset;
  reset.set_kind(v1::RESET_RAM);
  v1::ResetReply reset_done;
  status = client.board->Reset(client.context().get(), reset, &reset_done);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(status.error_message(), "The board has no RAM reset: nothing was sent");
  v1::SerialRequest line;
  line.set_line("ID?");
  v1::SerialReply answer;
  status = client.board->SerialTransact(client.context().get(), line, &answer);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(status.error_message(), "The board has no serial port: nothing was sent");
  // Its events lie on its 320 x 240 pixels.
  auto context = client.context();
  auto reader = client.board->StreamEvents(context.get(), v1::StreamEventsRequest());
  ASSERT_TRUE(client.start().ok());
  std::uint64_t events = 0, outside = 0;
  v1::EventBatch batch;
  while (events < 50000 && reader->Read(&batch)) {
    std::vector<std::uint32_t> words(batch.evt2_words().size() / 4);
    std::memcpy(words.data(), batch.evt2_words().data(), words.size() * 4);
    evt2::Decoder decoder;
    std::vector<Event> decoded;
    decoder.decode(words.data(), words.size(), decoded);
    for (const Event& e : decoded) outside += e.x >= 320 || e.y >= 240;
    events += decoded.size();
  }
  context->TryCancel();
  reader->Finish();
  EXPECT_GE(events, 50000u);
  EXPECT_EQ(outside, 0u);
  // The server's log tells what it refused.
  const std::string log = server.printed();
  EXPECT_NE(log.find("Mode MODE_TEST_PATTERN: refused: The board has no test pattern mode"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Reset RESET_RAM: refused: The board has no RAM reset"), std::string::npos)
      << log;
  server.kill();
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote

namespace Zelvar_Core::bench::remote {
namespace {

// The reason code a call ended with, from its trailing metadata; "" for none.
std::string reason_in(const grpc::ClientContext& context) {
  const auto& trailing = context.GetServerTrailingMetadata();
  const auto found = trailing.find("zelvar-reason");
  return found == trailing.end() ? "" : std::string(found->second.data(), found->second.size());
}

TEST_F(BoardServerTest, EveryErrorCarriesItsReasonCodeInTheTrailingMetadata) {
  serve("s3cret");
  Client stranger(server->address(), "stranger", "wrong");
  Client first(server->address(), "first", "s3cret"), second(server->address(), "second", "s3cret");
  v1::Identity identity;
  auto call = stranger.context();
  EXPECT_FALSE(stranger.board->GetIdentity(call.get(), v1::GetIdentityRequest(), &identity).ok());
  EXPECT_EQ(reason_in(*call), "WRONG_TOKEN");
  // A write: before anyone claims, by another than the holder, then as the holder.
  auto write = [](Client& client, const std::string& name, std::int64_t value) {
    v1::WriteRegisterRequest request;
    request.set_name(name);
    request.set_value(value);
    v1::WriteRegisterReply reply;
    auto context = client.context();
    client.board->WriteRegister(context.get(), request, &reply);
    return reason_in(*context);
  };
  EXPECT_EQ(write(first, "VTH_ON", 2500), "NOT_CLAIMED");
  ASSERT_TRUE(first.claim().ok());
  EXPECT_EQ(write(second, "VTH_ON", 2500), "HELD_BY_OTHER");
  EXPECT_EQ(write(first, "VTH_ON", 5000), "OUT_OF_RANGE");
  EXPECT_EQ(write(first, "VTH_XX", 1), "NOT_FOUND");
  EXPECT_EQ(write(first, "VTH_ON", 2500), "") << "a call that succeeds has no reason";
  call = second.context();
  v1::ClaimRequest claim;
  v1::ClaimReply claimed;
  EXPECT_FALSE(second.board->Claim(call.get(), claim, &claimed).ok());
  EXPECT_EQ(reason_in(*call), "HELD_BY_OTHER");
  // A request naming no mode; the acquisition with no design; an unplugged board.
  call = first.context();
  v1::SetModeReply mode_set;
  EXPECT_FALSE(first.board->SetMode(call.get(), v1::SetModeRequest(), &mode_set).ok());
  EXPECT_EQ(reason_in(*call), "BAD_REQUEST");
  {  // a programming that fails halfway leaves no design
    const std::string path = std::filesystem::absolute("reasons.bit").string();
    std::ofstream(path, std::ios::binary) << make_bitstream("reasons", std::string(4096, 'z'));
    board.fail_next_program = true;
    EXPECT_THROW(board.program(path, nullptr), std::runtime_error);
    std::filesystem::remove(path);
    ASSERT_EQ(board.design(), "");
  }
  call = first.context();
  v1::StartAcquisitionReply started;
  EXPECT_EQ(first.board->StartAcquisition(call.get(), v1::StartAcquisitionRequest(), &started)
                .error_code(),
            grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(reason_in(*call), "NO_DESIGN");
  board.set_connected(false);
  call = first.context();
  EXPECT_FALSE(first.board->GetIdentity(call.get(), v1::GetIdentityRequest(), &identity).ok());
  EXPECT_EQ(reason_in(*call), "BOARD_UNPLUGGED");
}

TEST(PravelBoard, ADesignNamedByAFileNameThatIsNotUtf8IsRefusedBeforeItIsSent) {
  // A bitstream without a header is named by its file; a Latin-1 file name
  // would break every text of the protocol that carries the design.
  SimulatedDevice device;
  const std::filesystem::path folder = std::filesystem::absolute("latin1_design");
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "caf\xe9.bit").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(4096, '\x5a');
  }
  try {
    device.program(path, nullptr);
    ADD_FAILURE() << "a design name that is not UTF-8 was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "The bitstream " + path +
                                         " cannot name its design: its file name holds a byte "
                                         "that is not UTF-8 (0xE9)");
  }
  EXPECT_EQ(device.design(), device.flash_design()) << "the board keeps what it held";
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote
