// One connection of a remote board to its server, from its claim to its
// loss: the stub, the session and its lease, the watch that ends it, the
// stream call and the thread that renews the lease.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "bench/remote/client/remote_board.h"

namespace Zelvar_Core::bench::remote {

struct RemoteBoard::Link {
  std::shared_ptr<grpc::Channel> channel;
  std::unique_ptr<v1::Board::Stub> stub;
  std::string session;
  std::chrono::milliseconds lease{10000};  // as the server stated it
  grpc::ClientContext watch;               // cancelled to end the link
  std::mutex mutex;                        // guards what follows
  grpc::ClientContext* events = nullptr;
  bool lost = false;
  std::condition_variable wake;
  std::thread stream, renewal;

  void end() {
    std::lock_guard lock(mutex);
    lost = true;
    if (events) events->TryCancel();
    watch.TryCancel();
    wake.notify_all();
  }
};

}  // namespace Zelvar_Core::bench::remote
