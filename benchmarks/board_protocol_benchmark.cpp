// The board protocol over loopback: the simulated board's busy stream read
// by a client for STREAM_SECONDS (10 by default) with the events decoded,
// the round trip of one register write beside a bare TCP ping-pong of the
// same size on 127.0.0.1 (what any call costs at least), 32 registers
// written in one call, and how long the bench's remote board takes to be
// connected again once a lost server listens again. The server runs in this
// process on 127.0.0.1, on its own gRPC threads, as pravel-board runs it.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spdlog/sinks/null_sink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "bench/events/evt2.h"
#include "bench/remote/client/remote_board.h"
#include "bench/remote/server/board_server.h"

namespace {

using namespace Zelvar_Core::bench;
using namespace Zelvar_Core::bench::remote;
using namespace std::chrono_literals;

// The simulated AER-640 with 64 more registers, so that a batch has as
// many distinct registers to write as it needs.
BoardDeclaration with_many_registers() {
  BoardDeclaration board = declaration_of(SimulatedSensor::Aer640);
  for (int i = 0; i < 64; ++i)
    board.device_registers.push_back({"SPARE_" + std::to_string(i), 0, 0, 255});
  return board;
}

struct Served {
  Served() {
    ServerOptions options;
    options.listen = "127.0.0.1:0";
    server = std::make_unique<BoardServer>(
        board, options,
        std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::null_sink_mt>()));
    channel = grpc::CreateChannel(server->address(), grpc::InsecureChannelCredentials());
    stub = v1::Board::NewStub(channel);
    v1::ClaimRequest claim;
    claim.set_client("benchmark");
    v1::ClaimReply reply;
    grpc::ClientContext context;
    stub->Claim(&context, claim, &reply);
    session = reply.session();
  }
  ~Served() { board.stop_acquisition(); }
  std::unique_ptr<grpc::ClientContext> context() const {
    auto c = std::make_unique<grpc::ClientContext>();
    c->AddMetadata("zelvar-session", session);
    return c;
  }
  void write(const char* name, std::int64_t value) {
    v1::WriteRegisterRequest request;
    request.set_name(name);
    request.set_value(value);
    v1::WriteRegisterReply reply;
    if (!stub->WriteRegister(context().get(), request, &reply).ok()) std::abort();
  }
  SimulatedDevice board{SimulatedSensor::Aer640, with_many_registers()};
  std::unique_ptr<BoardServer> server;
  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<v1::Board::Stub> stub;
  std::string session;
};

void BM_StreamTheBusyBoardOverLoopback(benchmark::State& state) {
  const char* seconds_text = std::getenv("STREAM_SECONDS");
  const double seconds = seconds_text ? std::atof(seconds_text) : 10.0;
  Served served;
  // The thresholds of pravel --measure --busy: about 20 M events/s.
  served.write("VTH_ON", 1750);
  served.write("VTH_OFF", 1450);
  served.write("BIAS_GAIN", 7);
  for (auto _ : state) {
    auto stream_context = served.context();
    auto reader = served.stub->StreamEvents(stream_context.get(), v1::StreamEventsRequest());
    v1::StartAcquisitionReply started;
    served.stub->StartAcquisition(served.context().get(), v1::StartAcquisitionRequest(), &started);
    const auto begin = std::chrono::steady_clock::now();
    std::uint64_t events = 0, bytes = 0, lost = 0;
    v1::EventBatch batch;
    evt2::Decoder decoder;
    std::vector<Event> decoded;
    std::vector<std::uint32_t> words;
    while (reader->Read(&batch)) {
      words.resize(batch.evt2_words().size() / 4);
      std::memcpy(words.data(), batch.evt2_words().data(), words.size() * 4);
      decoded.clear();
      decoder.decode(words.data(), words.size(), decoded);
      events += decoded.size();
      bytes += batch.ByteSizeLong();
      lost = batch.lost_by_board();
      if (std::chrono::steady_clock::now() - begin > std::chrono::duration<double>(seconds)) break;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    stream_context->TryCancel();
    reader->Finish();
    v1::StopAcquisitionReply stopped;
    served.stub->StopAcquisition(served.context().get(), v1::StopAcquisitionRequest(), &stopped);
    state.SetIterationTime(wall);
    state.counters["events_per_s"] = static_cast<double>(events) / wall;
    state.counters["bytes_per_event"] = static_cast<double>(bytes) / static_cast<double>(events);
    state.counters["lost"] = static_cast<double>(lost);
  }
}
BENCHMARK(BM_StreamTheBusyBoardOverLoopback)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void BM_WriteOneRegister(benchmark::State& state) {
  Served served;
  std::int64_t value = 2000;
  for (auto _ : state) {
    served.write("VTH_ON", value);
    value = value == 2000 ? 2001 : 2000;
  }
}
// Repeated, so that the median of the runs shows beside their mean.
BENCHMARK(BM_WriteOneRegister)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The floor under any call: a 32-byte message sent to a thread that
// answers it with as many, over a TCP connection on 127.0.0.1 without
// Nagle's delay, measured in the same run as the write above.
void BM_TcpPingPong(benchmark::State& state) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    std::abort();
  const int one = 1;
  std::thread echo([listener, one] {
    const int peer = accept(listener, nullptr, nullptr);
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char message[32];
    while (recv(peer, message, sizeof message, MSG_WAITALL) == sizeof message)
      if (send(peer, message, sizeof message, 0) != sizeof message) break;
    close(peer);
  });
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(client, reinterpret_cast<sockaddr*>(&address), length) != 0) std::abort();
  char message[32] = "VTH_ON 2000";
  for (auto _ : state) {
    if (send(client, message, sizeof message, 0) != sizeof message ||
        recv(client, message, sizeof message, MSG_WAITALL) != sizeof message)
      std::abort();
  }
  close(client);
  echo.join();
  close(listener);
}
BENCHMARK(BM_TcpPingPong)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// `range(0)` registers written in one WriteRegisters call.
void BM_WriteRegistersAtOnce(benchmark::State& state) {
  Served served;
  v1::WriteRegistersRequest request;
  for (int i = 0; i < state.range(0); ++i) {
    auto* w = request.add_writes();
    w->set_name("SPARE_" + std::to_string(i));
  }
  std::int64_t value = 0;
  for (auto _ : state) {
    value = 1 - value;
    for (auto& w : *request.mutable_writes()) w.set_value(value);
    v1::WriteRegistersReply reply;
    if (!served.stub->WriteRegisters(served.context().get(), request, &reply).ok()) std::abort();
  }
}
BENCHMARK(BM_WriteRegistersAtOnce)
    ->Arg(1)
    ->Arg(32)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The server stops, stays away for `range(0)` ms, and listens again on its
// port; timed is what follows: from listening to the remote board's
// "connected" (what the bench shows as "Board connected").
void BM_ReconnectAfterServerRestart(benchmark::State& state) {
  SimulatedDevice board;
  auto quiet =
      std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::null_sink_mt>());
  ServerOptions options;
  options.listen = "127.0.0.1:0";
  auto server = std::make_unique<BoardServer>(board, options, quiet);
  options.listen = "127.0.0.1:" + std::to_string(server->port());
  RemoteBoard remote(server->address(), "", "benchmark");
  std::mutex mutex;
  std::condition_variable changed;
  remote.connection_listener = [&] { changed.notify_all(); };
  auto wait_until = [&](bool connected) {
    std::unique_lock lock(mutex);
    while (remote.connected() != connected) changed.wait_for(lock, 1ms);
  };
  for (auto _ : state) {
    server.reset();
    wait_until(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
    server = std::make_unique<BoardServer>(board, options, quiet);
    const auto listening = std::chrono::steady_clock::now();
    wait_until(true);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - listening).count());
  }
}
BENCHMARK(BM_ReconnectAfterServerRestart)
    ->Arg(0)
    ->Arg(3000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
