#include "bench/host/tools/run_thread.h"

#include <stdexcept>

namespace Zelvar_Core::bench {

RunThread::RunThread(BenchPresenter& presenter) {
  presenter.stop_hooks.push_back([this] { stop(); });
}

RunThread::~RunThread() { stop(); }

void RunThread::start(std::function<void()> work) {
  if (running_) throw std::runtime_error("A run is already under way: abort it first");
  if (thread_.joinable()) thread_.join();
  aborted_ = false;
  running_ = true;
  thread_ = std::thread([this, work = std::move(work)] {
    work();
    running_ = false;
  });
}

void RunThread::stop() {
  aborted_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace Zelvar_Core::bench
