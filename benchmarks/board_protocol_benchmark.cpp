// The board protocol over loopback: the simulated board's busy stream read
// by a client for STREAM_SECONDS (10 by default) with the events decoded,
// the round trip of one register write, and how long the bench's remote
// board takes to be connected again once a lost server listens again. The server runs in this
// process on 127.0.0.1, on its own gRPC threads, as pravel-board runs it.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>

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
  SimulatedDevice board;
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
