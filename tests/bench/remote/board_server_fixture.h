// The simulated board served in this process over a real channel to
// 127.0.0.1, and a client calling it with its token and session.
#pragma once

#include <gtest/gtest.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/remote/server/board_server.h"
#include "tests/support/eventually.h"

namespace Zelvar_Core::bench::remote {

using namespace std::chrono_literals;

// One client of the server on a connection of its own: its stub, its token
// and, once claimed, its session and lease.
struct Client {
  // In clear unless given the `credentials` of a TLS channel; a channel of
  // its own, never another client's connection.
  static std::shared_ptr<grpc::Channel> own_channel(
      const std::string& address, std::shared_ptr<grpc::ChannelCredentials> credentials) {
    grpc::ChannelArguments arguments;
    arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return grpc::CreateCustomChannel(
        address, credentials ? credentials : grpc::InsecureChannelCredentials(), arguments);
  }
  Client(const std::string& address, std::string name_, std::string token_ = "",
         std::shared_ptr<grpc::ChannelCredentials> credentials = nullptr)
      : channel(own_channel(address, credentials)),
        board(v1::Board::NewStub(channel)),
        simulator(v1::BoardSimulator::NewStub(channel)),
        name(std::move(name_)),
        token(std::move(token_)) {}
  std::unique_ptr<grpc::ClientContext> context(std::chrono::seconds deadline = 5s) const {
    auto c = std::make_unique<grpc::ClientContext>();
    c->set_deadline(std::chrono::system_clock::now() + testing_support::scaled(deadline));
    if (!token.empty()) c->AddMetadata("authorization", "Bearer " + token);
    if (!session.empty()) c->AddMetadata("zelvar-session", session);
    return c;
  }
  grpc::Status claim() {
    v1::ClaimRequest request;
    request.set_client(name);
    v1::ClaimReply reply;
    grpc::Status status = board->Claim(context().get(), request, &reply);
    if (status.ok()) {
      session = reply.session();
      lease_ms = reply.lease_ms();
    }
    return status;
  }
  grpc::Status write_all(const std::vector<std::pair<std::string, std::int64_t>>& writes,
                         v1::WriteRegistersReply* reply = nullptr) {
    v1::WriteRegistersRequest request;
    for (const auto& [name, value] : writes) {
      auto* w = request.add_writes();
      w->set_name(name);
      w->set_value(value);
    }
    v1::WriteRegistersReply ignored;
    return board->WriteRegisters(context().get(), request, reply ? reply : &ignored);
  }
  grpc::Status write(const std::string& register_name, std::int64_t value,
                     v1::WriteRegisterReply* reply = nullptr) {
    v1::WriteRegisterRequest request;
    request.set_name(register_name);
    request.set_value(value);
    v1::WriteRegisterReply ignored;
    return board->WriteRegister(context().get(), request, reply ? reply : &ignored);
  }
  grpc::Status start() {
    v1::StartAcquisitionReply started;
    return board->StartAcquisition(context().get(), v1::StartAcquisitionRequest(), &started);
  }
  grpc::Status identity(v1::Identity* out) {
    return board->GetIdentity(context().get(), v1::GetIdentityRequest(), out);
  }

  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<v1::Board::Stub> board;
  std::unique_ptr<v1::BoardSimulator::Stub> simulator;
  std::string name, token, session;
  std::uint32_t lease_ms = 0;
};

// Sends a bitstream; returns the progress messages and the call's status.
inline grpc::Status program(Client& client, const std::string& bytes,
                            std::vector<v1::ProgramProgress>& seen, bool cancel_at_first = false) {
  auto context = client.context();
  auto stream = client.board->Program(context.get());
  v1::ProgramChunk chunk;
  chunk.mutable_header()->set_file_name("sample.bit");
  chunk.mutable_header()->set_total_bytes(bytes.size());
  stream->Write(chunk);
  for (std::size_t at = 0; at < bytes.size(); at += 1 << 20) {
    chunk.set_data(bytes.substr(at, 1 << 20));
    if (!stream->Write(chunk)) break;
  }
  stream->WritesDone();
  v1::ProgramProgress progress;
  while (stream->Read(&progress)) {
    seen.push_back(progress);
    if (cancel_at_first && progress.bytes_done() > 0) context->TryCancel();
  }
  return stream->Finish();
}

// The served board as a server that says other things of it: one that does
// not describe it at all (no `describe`: UNIMPLEMENTED, as a server made
// before the call), or one whose description or register lists `describe`
// and `relist` change after the board's own are made.
class RedescribedService : public BoardService {
 public:
  using Describe = std::function<void(v1::BoardDescription&)>;
  using Relist = std::function<void(v1::ListRegistersReply&)>;
  RedescribedService(ServedBoard& served, Describe describe, Relist relist = nullptr)
      : BoardService(served), describe_(std::move(describe)), relist_(std::move(relist)) {}
  grpc::Status DescribeBoard(grpc::ServerContext* context, const v1::DescribeBoardRequest* request,
                             v1::BoardDescription* description) override {
    if (!describe_) return {grpc::StatusCode::UNIMPLEMENTED, ""};
    const grpc::Status status = BoardService::DescribeBoard(context, request, description);
    describe_(*description);
    return status;
  }
  grpc::Status ListRegisters(grpc::ServerContext* context, const v1::ListRegistersRequest* request,
                             v1::ListRegistersReply* reply) override {
    const grpc::Status status = BoardService::ListRegisters(context, request, reply);
    if (relist_) relist_(*reply);
    return status;
  }
  // Register writes, counted by call; without `batch_writes`, a server made
  // before WriteRegisters (UNIMPLEMENTED).
  grpc::ServerUnaryReactor* WriteRegister(grpc::CallbackServerContext* context,
                                          const v1::WriteRegisterRequest* request,
                                          v1::WriteRegisterReply* reply) override {
    ++single_writes;
    return BoardService::WriteRegister(context, request, reply);
  }
  grpc::ServerUnaryReactor* WriteRegisters(grpc::CallbackServerContext* context,
                                           const v1::WriteRegistersRequest* request,
                                           v1::WriteRegistersReply* reply) override {
    ++batch_calls;
    if (batch_writes) return BoardService::WriteRegisters(context, request, reply);
    grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
    reactor->Finish({grpc::StatusCode::UNIMPLEMENTED, ""});
    return reactor;
  }
  std::atomic<bool> batch_writes{true};
  std::atomic<int> single_writes{0}, batch_calls{0};

 private:
  Describe describe_;
  Relist relist_;
};

class BoardServerTest : public ::testing::Test {
 protected:
  // Serves `board` on `port` (0: any free one).
  void serve(const std::string& token = "", int port = 0) {
    ServerOptions options;
    options.listen = "127.0.0.1:" + std::to_string(port);
    options.token = token;
    options.lease = lease;
    options.clock = clock;
    serve(options);
  }
  void serve(const ServerOptions& options) {
    server = std::make_unique<BoardServer>(board, options,
                                           std::make_shared<spdlog::logger>("pravel-board", log));
  }
  // Serves `board` through a RedescribedService on `port` (0: any free one);
  // its address in `redescribed_address`.
  void serve_redescribed(RedescribedService::Describe describe,
                         RedescribedService::Relist relist = nullptr, int port = 0) {
    serve_as(
        [&](ServedBoard& served_board) {
          return std::make_unique<RedescribedService>(served_board, std::move(describe),
                                                      std::move(relist));
        },
        port);
  }
  // Serves `board` through the service `make` makes of it (one that says
  // other things than the board's own), with the simulator's switches, on
  // `port` (0: any free one); its address in `redescribed_address`.
  void serve_as(const std::function<std::unique_ptr<BoardService>(ServedBoard&)>& make,
                int port = 0) {
    stop_redescribed();
    served = std::make_unique<ServedBoard>(
        board, "", std::make_shared<spdlog::logger>("pravel-board", log), clock, lease);
    service = make(*served);
    simulator = std::make_unique<SimulatorService>(*served);
    grpc::ServerBuilder builder;
    keep_clients_alive(builder);
    int bound = 0;
    builder.AddListeningPort("127.0.0.1:" + std::to_string(port), grpc::InsecureServerCredentials(),
                             &bound);
    builder.RegisterService(service.get());
    builder.RegisterService(simulator.get());
    redescribed = builder.BuildAndStart();
    ASSERT_TRUE(redescribed && bound != 0);
    redescribed_address = "127.0.0.1:" + std::to_string(bound);
  }
  // The service serve_redescribed made.
  RedescribedService& redescribed_service() { return dynamic_cast<RedescribedService&>(*service); }
  void stop_redescribed() {
    if (redescribed) redescribed->Shutdown(std::chrono::system_clock::now());
    redescribed.reset();
  }
  // What the server logged, oldest first.
  std::vector<std::string> server_log() const {
    std::vector<std::string> lines;
    for (const auto& record : log->last_raw())
      lines.emplace_back(record.payload.data(), record.payload.size());
    return lines;
  }
  // The line the server logs when its `run`th programming run (from 1) has
  // ended, done or cancelled: once it is there, the server has stopped
  // writing to the board. "" when none came.
  std::string programming_end(std::size_t run = 1) const {
    std::vector<std::string> ends;
    testing_support::eventually([&] {
      ends.clear();
      for (const auto& line : server_log())
        if (line.rfind("Programmed ", 0) == 0 || line.rfind("Programming of ", 0) == 0)
          ends.push_back(line);
      return ends.size() >= run;
    });
    return ends.size() >= run ? ends[run - 1] : "";
  }
  void TearDown() override {
    if (server) server->shutdown();
    stop_redescribed();
    board.stop_acquisition();
  }
  // The server's sessions last `lease_`, on a clock the test moves (advance()).
  void use_lease_clock(std::chrono::milliseconds lease_ = BoardAccess::kLease) {
    lease = lease_;
    clock = [this] {
      return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(now.load()));
    };
  }
  void advance(std::chrono::steady_clock::duration by) { now += by.count(); }

  std::chrono::milliseconds lease = BoardAccess::kLease;
  BoardAccess::Clock clock = std::chrono::steady_clock::now;
  std::atomic<std::chrono::steady_clock::rep> now{
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::hours(1))
          .count()};
  SimulatedDevice board;
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> log =
      std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(1000);
  std::unique_ptr<BoardServer> server;
  std::unique_ptr<ServedBoard> served;
  std::unique_ptr<BoardService> service;
  std::unique_ptr<SimulatorService> simulator;
  std::unique_ptr<grpc::Server> redescribed;
  std::string redescribed_address;
};

}  // namespace Zelvar_Core::bench::remote
