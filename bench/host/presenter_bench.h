// The bench's actions for sweeps and sequences run from the program: the
// board's own, except a capture, which the GUI thread takes of the frame it
// shows. A run's worker thread waits for that without blocking the GUI,
// and stops waiting when the run is aborted.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "bench/host/bench_presenter.h"
#include "bench/sequences/bench_actions.h"

namespace Zelvar_Core::bench {

class PresenterBench : public BoardBench {
 public:
  PresenterBench(BenchPresenter& presenter, const std::atomic<bool>& aborted);
  std::string capture() override;

 private:
  BenchPresenter& presenter_;
  GuiPost post_;
};

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
