// Starts a program and tells how long it took until its first top-level
// window was mapped on the X display, in milliseconds, then ends it.
//   first_window_probe [--timeout SECONDS] PROGRAM [ARGS...]
// The display is watched from before the program starts (the root window's
// map events), so nothing is polled and nothing is missed. Exit status 0
// with the time on stdout; 1 when no window came in time or the program
// could not be started.
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  double timeout_s = 30;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--timeout") == 0) {
    timeout_s = std::atof(argv[2]);
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: first_window_probe [--timeout SECONDS] PROGRAM [ARGS...]\n");
    return 1;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "first_window_probe: cannot open the display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[first], argv + first);
    std::fprintf(stderr, "first_window_probe: cannot start %s: %s\n", argv[first],
                 std::strerror(errno));
    _exit(127);
  }
  if (child < 0) return 1;
  const auto deadline = started + std::chrono::duration<double>(timeout_s);
  double mapped_ms = -1;
  while (mapped_ms < 0) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && mapped_ms < 0)
        mapped_ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count();
    }
    if (mapped_ms >= 0) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    int status = 0;
    if (left <= 0 || waitpid(child, &status, WNOHANG) == child) break;
    pollfd x{ConnectionNumber(display), POLLIN, 0};
    poll(&x, 1, static_cast<int>(std::min<long long>(left, 100)));
  }
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  XCloseDisplay(display);
  if (mapped_ms < 0) {
    std::fprintf(stderr, "first_window_probe: %s mapped no window in %.0f s\n", argv[first],
                 timeout_s);
    return 1;
  }
  std::printf("%.1f\n", mapped_ms);
  return 0;
}
