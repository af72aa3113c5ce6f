#include "bench/host/app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace Zelvar_Core::bench {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// What the handler may touch: lock-free atomics and a descriptor.
std::atomic<int> first_signal{0};
std::atomic<int> write_end{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void on_stop_signal(int signal) {
  const int saved = errno;
  int none = 0;
  if (!first_signal.compare_exchange_strong(none, signal)) ::_exit(128 + signal);  // asked twice
  const unsigned char byte = static_cast<unsigned char>(signal);
  const int fd = write_end.load();
  if (fd >= 0 && ::write(fd, &byte, 1) != 1) {
    // Nothing more can be done here; the pipe never holds more than a byte or two.
  }
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int)> heard) : heard_(std::move(heard)) {
  // Without a pipe (no descriptor left) the signals keep their default: they end pravel.
  if (::pipe2(pipe_, O_CLOEXEC) != 0) return;
  write_end = pipe_[1];
  listener_ = std::thread([this] { listen(); });
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kSignals) {
    // One ignored by whoever started pravel (nohup, a shell's background
    // job) stays ignored.
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    if (::sigaction(signal, &action, nullptr) == 0) installed_.push_back(signal);
  }
}

StopSignals::~StopSignals() {
  if (!listener_.joinable()) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : installed_) ::sigaction(signal, &action, nullptr);
  write_end = -1;
  const unsigned char end = 0;  // not a signal: the listener's end
  while (::write(pipe_[1], &end, 1) < 0 && errno == EINTR) {
  }
  listener_.join();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

int StopSignals::heard() { return first_signal.load(); }

void StopSignals::listen() {
  for (;;) {
    unsigned char byte = 0;
    const ssize_t n = ::read(pipe_[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == 0) return;
    if (heard_) heard_(byte);
  }
}

}  // namespace Zelvar_Core::bench
