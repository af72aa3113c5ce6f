// The bench's actions for sweeps and sequences started from the bench's
// windows: the board's own, except a capture, which the presenter takes on
// the GUI thread of the frame it shows. The run's worker thread waits for
// that without blocking the GUI, and stops waiting when the run is aborted.
#pragma once

#include <atomic>
#include <functional>

#include "bench/host/presenter/bench_presenter.h"
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

}  // namespace Zelvar_Core::bench
