// The simulated board behind the board protocol: each call of the Board and
// BoardSimulator services done on the board, its outcome turned into a gRPC
// status with the board's own sentence.
#pragma once

#include <spdlog/logger.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "bench/board/simulated_board.h"
#include "bench/remote/server/board_access.h"
#include "bench/remote/server/refusals.h"
#include "zelvar/board/v1/board.grpc.pb.h"

namespace Zelvar_Core::bench::remote {

namespace v1 = ::zelvar::board::v1;

// What the services share: the board, who may call it, and how its stream
// ended last.
struct ServedBoard {
  ServedBoard(SimulatedDevice& board, const std::string& token,
              std::shared_ptr<spdlog::logger> logger,
              BoardAccess::Clock clock = std::chrono::steady_clock::now,
              std::chrono::milliseconds lease = BoardAccess::kLease);
  // OK when the call carries the token, and the session when `changes`; a
  // call carrying the holder's session renews its lease.
  grpc::Status admit(grpc::ServerContextBase* context, bool changes);
  // A refusal of the board's holder (FAILED_PRECONDITION) with its reason:
  // nobody holds the board, or another client does. Any other status as it is.
  grpc::Status held_refusal(grpc::ServerContextBase* context, const grpc::Status& status);

  // Event streams and watches open at once beyond the holder's own.
  static constexpr unsigned kMaxStreams = 8;
  static constexpr unsigned kMaxWatches = 16;

  SimulatedDevice& board;
  BoardAccess access;
  Refusals refusals;
  std::shared_ptr<spdlog::logger> logger;
  std::atomic<unsigned> streams{0}, watches{0};
  std::mutex failure_mutex;
  std::string stream_failure;                // the last break of the stream, "" when none
  std::atomic<unsigned> stream_failures{0};  // how many breaks so far
};

// Register writes are answered on the thread that read them (gRPC's callback
// API) instead of being handed to a worker of the synchronous server: a
// write wakes fewer threads.
using BoardServiceBase = v1::Board::WithCallbackMethod_WriteRegister<
    v1::Board::WithCallbackMethod_WriteRegisters<v1::Board::Service>>;

class BoardService : public BoardServiceBase {
 public:
  explicit BoardService(ServedBoard& served) : s_(served) {}

  grpc::Status GetIdentity(grpc::ServerContext*, const v1::GetIdentityRequest*,
                           v1::Identity*) override;
  grpc::Status DescribeBoard(grpc::ServerContext*, const v1::DescribeBoardRequest*,
                             v1::BoardDescription*) override;
  grpc::Status Claim(grpc::ServerContext*, const v1::ClaimRequest*, v1::ClaimReply*) override;
  grpc::Status Release(grpc::ServerContext*, const v1::ReleaseRequest*, v1::ReleaseReply*) override;
  grpc::Status ListRegisters(grpc::ServerContext*, const v1::ListRegistersRequest*,
                             v1::ListRegistersReply*) override;
  grpc::ServerUnaryReactor* WriteRegister(grpc::CallbackServerContext*,
                                          const v1::WriteRegisterRequest*,
                                          v1::WriteRegisterReply*) override;
  grpc::ServerUnaryReactor* WriteRegisters(grpc::CallbackServerContext*,
                                           const v1::WriteRegistersRequest*,
                                           v1::WriteRegistersReply*) override;
  grpc::Status Program(
      grpc::ServerContext*,
      grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream) override;
  grpc::Status Reset(grpc::ServerContext*, const v1::ResetRequest*, v1::ResetReply*) override;
  grpc::Status SetMode(grpc::ServerContext*, const v1::SetModeRequest*, v1::SetModeReply*) override;
  grpc::Status StartAcquisition(grpc::ServerContext*, const v1::StartAcquisitionRequest*,
                                v1::StartAcquisitionReply*) override;
  grpc::Status StopAcquisition(grpc::ServerContext*, const v1::StopAcquisitionRequest*,
                               v1::StopAcquisitionReply*) override;
  grpc::Status StreamEvents(grpc::ServerContext*, const v1::StreamEventsRequest*,
                            grpc::ServerWriter<v1::EventBatch>* writer) override;
  grpc::Status ReadAdc(grpc::ServerContext*, const v1::ReadAdcRequest*,
                       v1::AdcReadingReply*) override;
  grpc::Status SerialTransact(grpc::ServerContext*, const v1::SerialRequest*,
                              v1::SerialReply*) override;
  grpc::Status WatchBoard(grpc::ServerContext*, const v1::WatchBoardRequest*,
                          grpc::ServerWriter<v1::BoardState>* writer) override;

 private:
  grpc::Status write_register(grpc::ServerContextBase*, const v1::WriteRegisterRequest*,
                              v1::WriteRegisterReply*);
  grpc::Status write_registers(grpc::ServerContextBase*, const v1::WriteRegistersRequest*,
                               v1::WriteRegistersReply*);

  ServedBoard& s_;
};

class SimulatorService final : public v1::BoardSimulator::Service {
 public:
  explicit SimulatorService(ServedBoard& served) : s_(served) {}

  grpc::Status SetConnected(grpc::ServerContext*, const v1::SetConnectedRequest*,
                            v1::SimulatorReply*) override;
  grpc::Status FailNextProgramming(grpc::ServerContext*, const v1::SimulatorRequest*,
                                   v1::SimulatorReply*) override;
  grpc::Status FailNextRegisterRead(grpc::ServerContext*, const v1::SimulatorRequest*,
                                    v1::SimulatorReply*) override;
  grpc::Status BreakStream(grpc::ServerContext*, const v1::SimulatorRequest*,
                           v1::SimulatorReply*) override;

 private:
  ServedBoard& s_;
};

}  // namespace Zelvar_Core::bench::remote
