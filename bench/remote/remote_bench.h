// What sweeps and sequences do to a board reached over the board protocol
// (pravel --board HOST:PORT --run): the board claimed for the run, its
// events streamed into a hub of this side, every call with a deadline. A
// failed call is told with the server's own sentence; a server that went
// away is a board that is not there.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "bench/board/event_hub.h"
#include "bench/remote/board_service.h"
#include "bench/sequences/bench_actions.h"

namespace Zelvar_Core::bench::remote {

// The board's events, read on a thread of their own into `hub`.
class RemoteStream {
 public:
  RemoteStream(v1::Board::Stub& stub, const std::string& token, EventHub& hub);
  ~RemoteStream();
  std::uint64_t lost_by_board() const { return lost_; }
  // Why the stream ended, "" while it runs.
  std::string failure() const;

 private:
  void run();
  v1::Board::Stub& stub_;
  std::string token_;
  EventHub& hub_;
  grpc::ClientContext context_;
  std::atomic<std::uint64_t> lost_{0};
  mutable std::mutex mutex_;
  std::string failure_;
  std::thread thread_;
};

class RemoteBench : public BenchActions {
 public:
  // Connects, reads the board's identity and claims it; throws
  // std::runtime_error with the reason when it cannot.
  RemoteBench(const std::string& address, const std::string& token, BenchFolders folders,
              const std::atomic<bool>& aborted);
  ~RemoteBench() override;

  void program(const std::string& path) override;
  void set(const std::string& name, std::int64_t value) override;
  std::int64_t get(const std::string& name) override;
  Register register_named(const std::string& name) override;
  void wait(double seconds) override;
  Measurement measure(double seconds) override;
  RecordingStats record(double seconds) override;
  std::string capture() override;
  bool connected() override;
  Settings settings() override;
  Settings in_force() override;
  void finish() override;
  void abort() override {}

  double capture_min = -16, capture_max = 16;

 private:
  std::unique_ptr<grpc::ClientContext> context(double seconds = 5) const;
  // The call's status as the run tells it; throws unless OK.
  void check(const grpc::Status& status, const std::string& what) const;
  std::vector<Register> registers();
  v1::BoardState state();
  void stream();  // makes sure the board streams, remembering whether this run started it
  std::vector<double> read_adc();

  std::string address_, token_, session_, identity_;
  BenchFolders folders_;
  const std::atomic<bool>& aborted_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<v1::Board::Stub> stub_;
  EventHub hub_;
  std::unique_ptr<RemoteStream> events_;
  bool started_stream_ = false;
};

}  // namespace Zelvar_Core::bench::remote
