// SIGTERM, SIGINT and SIGHUP asking pravel to stop: heard on a thread of its
// own, never inside the signal handler, so that what stopping takes (closing
// the window, aborting a run) is done by ordinary code. The handler only
// notes the signal and writes a byte to a pipe; a second signal while the
// program is stopping ends it at once with 128 + that signal. A signal its
// starter ignored (nohup's SIGHUP) stays ignored.
#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace Zelvar_Core::bench {

class StopSignals {
 public:
  // `heard` is called once, on the listening thread, with the first signal.
  // Where no pipe can be made the signals keep their default action.
  explicit StopSignals(std::function<void(int)> heard);
  // The signals' default handling back, the listening thread ended.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first signal heard, 0 while none.
  static int heard();

 private:
  void listen();

  std::function<void(int)> heard_;
  int pipe_[2] = {-1, -1};
  std::vector<int> installed_;  // the signals handled here
  std::thread listener_;
};

}  // namespace Zelvar_Core::bench
