#include "bench/host/presenter/presenter_bench.h"

#include <chrono>
#include <future>
#include <memory>

namespace Zelvar_Core::bench {

PresenterBench::PresenterBench(BenchPresenter& presenter, const std::atomic<bool>& aborted)
    : BoardBench(presenter.board(), presenter.folders(), aborted),
      presenter_(presenter),
      post_([](const std::string&) {}) {}

std::string PresenterBench::capture() {
  if (!board_.connected()) throw NoBoard("nothing captured");
  stream_flowing();
  wait(0.1);  // a few frames of the stream on screen
  auto done = std::make_shared<std::promise<std::string>>();
  std::future<std::string> captured = done->get_future();
  post_([this, done] {
    try {
      presenter_.capture();
      done->set_value(presenter_.last_capture());
    } catch (...) {
      done->set_exception(std::current_exception());
    }
  });
  while (captured.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
    if (aborted_) throw Aborted("aborted");
  return captured.get();
}

}  // namespace Zelvar_Core::bench
