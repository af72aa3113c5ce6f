// A sweep's or a sequence's worker thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "bench/host/presenter/bench_presenter.h"

namespace Zelvar_Core::bench {

// One run at a time on a worker thread: started, aborted, and joined when
// the bench closes (the presenter calls every owner's stop).
class RunThread {
 public:
  explicit RunThread(BenchPresenter& presenter);
  ~RunThread();
  // Refused while a run is under way.
  void start(std::function<void()> work);
  void abort() { aborted_ = true; }
  // Aborts and waits for the run to end.
  void stop();
  bool running() const { return running_; }
  const std::atomic<bool>& aborted() const { return aborted_; }

 private:
  std::thread thread_;
  std::atomic<bool> aborted_{false}, running_{false};
};

}  // namespace Zelvar_Core::bench
