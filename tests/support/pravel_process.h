// pravel in a process of its own, as a user or a script starts it: in a
// folder, with its options, everything it prints in FOLDER/pravel.out. The
// test target defines PRAVEL_PATH. With `display` false it runs as on a
// machine without one (the headless modes).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/eventually.h"

namespace Zelvar_Core::testing_support {

class PravelProcess {
 public:
  PravelProcess(const std::filesystem::path& folder, std::vector<std::string> arguments,
                bool display)
      : folder_(folder) {
    std::vector<std::string> all = {PRAVEL_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const std::string out = (folder_ / "pravel.out").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      if (std::freopen(out.c_str(), "w", stdout) == nullptr) ::_exit(127);
      ::dup2(STDOUT_FILENO, STDERR_FILENO);
      if (std::freopen("/dev/null", "r", stdin) == nullptr) ::_exit(127);
      if (!display) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  // A process the test left running is killed.
  ~PravelProcess() {
    if (pid_ <= 0 || status_) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  PravelProcess(const PravelProcess&) = delete;
  PravelProcess& operator=(const PravelProcess&) = delete;

  void signal(int number) const { ::kill(pid_, number); }
  // Its exit status once it ended (128 + N when a signal N ended it), or
  // nothing when it is still running after `limit`: it is then killed.
  std::optional<int> ended(std::chrono::milliseconds limit) {
    const bool done = eventually(
        [&] {
          if (status_) return true;
          int raw = 0;
          if (::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
          status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
          killed_by_ = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
          return true;
        },
        limit);
    if (!done) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      status_ = -1;
      return std::nullopt;
    }
    return status_;
  }
  // The signal that ended it without its say, 0 when it exited.
  int killed_by() const { return killed_by_; }
  // What it printed so far.
  std::string printed() const {
    std::ifstream in(folder_ / "pravel.out");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  int killed_by_ = 0;
};

}  // namespace Zelvar_Core::testing_support
