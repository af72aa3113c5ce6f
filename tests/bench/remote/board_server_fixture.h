// The simulated board served in this process over a real channel to
// 127.0.0.1, and a client calling it with its token and session.
#pragma once

#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <memory>
#include <string>

#include "bench/remote/board_server.h"

namespace Zelvar_Core::bench::remote {

using namespace std::chrono_literals;

inline std::shared_ptr<spdlog::logger> quiet() {
  return std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::null_sink_mt>());
}

// One client of the server: its stub, its token and, once claimed, its session.
struct Client {
  Client(const std::string& address, std::string name_, std::string token_ = "")
      : channel(grpc::CreateChannel(address, grpc::InsecureChannelCredentials())),
        board(v1::Board::NewStub(channel)),
        simulator(v1::BoardSimulator::NewStub(channel)),
        name(std::move(name_)),
        token(std::move(token_)) {}
  std::unique_ptr<grpc::ClientContext> context() const {
    auto c = std::make_unique<grpc::ClientContext>();
    c->set_deadline(std::chrono::system_clock::now() + 5s);
    if (!token.empty()) c->AddMetadata("authorization", "Bearer " + token);
    if (!session.empty()) c->AddMetadata("zelvar-session", session);
    return c;
  }
  grpc::Status claim() {
    v1::ClaimRequest request;
    request.set_client(name);
    v1::ClaimReply reply;
    grpc::Status status = board->Claim(context().get(), request, &reply);
    if (status.ok()) session = reply.session();
    return status;
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
};

class BoardServerTest : public ::testing::Test {
 protected:
  // Serves `board` on `port` (0: any free one).
  void serve(const std::string& token = "", int port = 0) {
    ServerOptions options;
    options.listen = "127.0.0.1:" + std::to_string(port);
    options.token = token;
    server = std::make_unique<BoardServer>(board, options, quiet());
  }
  void TearDown() override {
    if (server) server->shutdown();
    board.stop_acquisition();
  }
  SimulatedDevice board;
  std::unique_ptr<BoardServer> server;
};

}  // namespace Zelvar_Core::bench::remote
