// pravel itself on a board pravel-board serves. Told to stop by SIGTERM,
// SIGINT or SIGHUP, as a desktop's logout, a terminal's Ctrl+C or a script's
// `kill` tells it: the window closes as its user would close it and a
// headless run is aborted; either way the board is stopped and given back at
// once (not when the lease lapses) and a recording in progress is kept whole.
// A mode that cannot start on the board says why and ends.
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>

#include "bench/events/recording_file.h"
#include "bench/results/record_store.h"
#include "bench/results/sqlite_store.h"
#include "tests/support/board_server_process.h"
#include "tests/support/eventually.h"
#include "tests/support/pravel_process.h"
#include "zelvar/board/v1/board.grpc.pb.h"

namespace Zelvar_Core::bench {
namespace {

namespace fs = std::filesystem;
namespace v1 = ::zelvar::board::v1;
using namespace std::chrono_literals;
using testing_support::BoardServerProcess;
using testing_support::PravelProcess;

class PravelOnServedBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::absolute("stop_signal");
    fs::remove_all(folder);
    fs::create_directories(folder);
    // A lease far longer than the test: a board given back was released by
    // pravel, not let go by the server.
    server = std::make_unique<BoardServerProcess>(folder / "served",
                                                  std::vector<std::string>{"--lease", "600"});
    ASSERT_FALSE(server->address.empty()) << "pravel-board did not start";
  }
  void TearDown() override {
    server.reset();
    fs::remove_all(folder);
  }
  // The served board's state, as its server tells any client.
  v1::BoardState served_state() {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + testing_support::scaled(5s));
    auto stub = v1::Board::NewStub(
        grpc::CreateChannel(server->address, grpc::InsecureChannelCredentials()));
    auto watch = stub->WatchBoard(&context, v1::WatchBoardRequest());
    v1::BoardState state;
    EXPECT_TRUE(watch->Read(&state)) << "the server did not answer";
    context.TryCancel();
    watch->Finish();
    return state;
  }
  // The one recording in recordings/, once it holds more than 256 KiB.
  fs::path recording_under_way() {
    fs::path found;
    testing_support::eventually(
        [&] {
          std::error_code error;
          for (const auto& entry : fs::recursive_directory_iterator(folder / "recordings", error))
            if (entry.is_regular_file(error) && entry.file_size(error) > (256u << 10))
              found = entry.path();
          return !found.empty();
        },
        30s);
    return found;
  }
  // "1,234,567" as 1234567.
  static std::uint64_t count_in(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ','), text.end());
    return std::stoull(text);
  }

  // The board unplugged at its server, as a hand at the bench unplugs it.
  void unplug() {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + testing_support::scaled(5s));
    v1::SetConnectedRequest request;
    request.set_connected(false);
    v1::SimulatorReply reply;
    ASSERT_TRUE(v1::BoardSimulator::NewStub(
                    grpc::CreateChannel(server->address, grpc::InsecureChannelCredentials()))
                    ->SetConnected(&context, request, &reply)
                    .ok());
  }

  fs::path folder;
  std::unique_ptr<BoardServerProcess> server;
};

TEST_F(PravelOnServedBoard,
       StopSignalTheWindowClosesAsItsUserWouldAndTheBoardIsStoppedGivenBackAndItsRecordingWhole) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signal));
    fs::remove_all(folder / "recordings");
    fs::remove_all(folder / "logs");
    // The window on the served board, acquiring and recording.
    PravelProcess pravel(folder, {"--board", server->address, "--measure", "3600", "--all-tools"},
                         true);
    const fs::path recording = recording_under_way();
    ASSERT_FALSE(recording.empty()) << pravel.printed();
    const v1::BoardState before = served_state();
    ASSERT_TRUE(before.acquiring());
    ASSERT_NE(before.held_by(), "");

    pravel.signal(signal);
    const std::optional<int> status = pravel.ended(60s);
    ASSERT_TRUE(status) << "pravel did not end: " << pravel.printed();
    EXPECT_EQ(pravel.killed_by(), 0) << pravel.printed();
    EXPECT_EQ(*status, 128 + signal);
    const v1::BoardState after = served_state();
    EXPECT_FALSE(after.acquiring());
    EXPECT_EQ(after.held_by(), "");

    // The recording was finished as the window closed: what it says it
    // holds is in the file, which reads back to its last event.
    const std::string printed = pravel.printed();
    std::smatch said;
    ASSERT_TRUE(std::regex_search(
        printed, said,
        std::regex(
            "Recording stopped \\(the bench is closing\\): " +
            std::regex_replace(recording.string(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
            ", [^,]+, ([0-9,]+) events")))
        << printed;
    const RecordingInfo info = RecordingReader::scan(recording.string());
    EXPECT_EQ(info.events, count_in(said[1]));
    EXPECT_GT(info.events, 0u);
    EXPECT_EQ(info.partial_bytes, 0u);
  }
}

TEST_F(PravelOnServedBoard,
       StopSignalARunIsAbortedItsRecordKeptAbortedAndTheBoardStoppedAndGivenBack) {
  std::ofstream(folder / "long.json")
      << R"({"name": "long", "steps": [{"set": "VTH_ON", "value": 2300}, {"record": 600}]})";
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signal));
    fs::remove_all(folder / "recordings");
    for (const char* file : {"results.db", "results.db-wal", "results.db-shm"})
      fs::remove(folder / file);
    PravelProcess pravel(folder, {"--board", server->address, "--run", "long.json"}, false);
    const fs::path recording = recording_under_way();
    ASSERT_FALSE(recording.empty()) << pravel.printed();
    ASSERT_TRUE(served_state().acquiring());

    pravel.signal(signal);
    const std::optional<int> status = pravel.ended(60s);
    ASSERT_TRUE(status) << "pravel did not end: " << pravel.printed();
    EXPECT_EQ(pravel.killed_by(), 0) << pravel.printed();
    EXPECT_EQ(*status, 128 + signal);
    const v1::BoardState after = served_state();
    EXPECT_FALSE(after.acquiring());
    EXPECT_EQ(after.held_by(), "");

    // The console and the record say where the run was aborted and what
    // the recording kept, read back to its end.
    const std::string printed = pravel.printed();
    const std::string kept =
        "Sequence long: aborted at step 2 (record 600 s); the recording so far "
        "is kept: " +
        recording.string() + " (";
    const auto at = printed.find(kept);
    ASSERT_NE(at, std::string::npos) << printed;
    std::smatch said;
    const std::string line = printed.substr(at, printed.find('\n', at) - at);
    ASSERT_TRUE(std::regex_search(line, said, std::regex(", ([0-9,]+) events\\), readable$")))
        << line;
    const RecordingInfo info = RecordingReader::scan(recording.string());
    EXPECT_EQ(info.events, count_in(said[1]));
    EXPECT_EQ(info.partial_bytes, 0u);

    const auto store = results::open_sqlite_store((folder / "results.db").string());
    const auto runs = store->list({});
    ASSERT_EQ(runs.size(), 1u);
    const results::TestRecord record = *store->load(runs[0].run_id);
    EXPECT_EQ(record.outcome, results::Outcome::Aborted);
    EXPECT_EQ(record.ended_because.rfind("aborted at step 2 (record 600 s)", 0), 0u)
        << record.ended_because;
  }
}

TEST_F(PravelOnServedBoard, AMeasurementOnABoardThatCannotStreamIsRefusedInOneSentence) {
  unplug();
  PravelProcess pravel(folder, {"--board", server->address, "--measure", "3600"}, true);
  const std::optional<int> status = pravel.ended(60s);
  ASSERT_TRUE(status) << "pravel did not end: " << pravel.printed();
  EXPECT_EQ(*status, 2) << pravel.printed();
  const std::string printed = pravel.printed();
  EXPECT_NE(printed.find("Cannot measure: "), std::string::npos) << printed;
  EXPECT_EQ(printed.find("Unhandled"), std::string::npos) << printed;
  EXPECT_EQ(served_state().held_by(), "");
}

}  // namespace
}  // namespace Zelvar_Core::bench
