// pravel-board in a process of its own, as a lab runs it: started in a
// folder on 127.0.0.1 (a free port, or the one it had before a restart),
// its address read from what it prints, ended with SIGKILL as a crash
// would end it. The test target defines PRAVEL_BOARD_PATH. Another server
// of the protocol (a board team's, the Python fake board) is started the
// same way from its own command.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace Zelvar_Core::testing_support {

class BoardServerProcess {
 public:
  explicit BoardServerProcess(const std::filesystem::path& folder,
                              std::vector<std::string> options = {}, int port = 0)
      : folder_(folder), options_(std::move(options)) {
    start(port);
  }
  // `command` (its program first) in the place of pravel-board, with
  // PYTHONPATH set to `pythonpath` when it is not empty.
  BoardServerProcess(const std::filesystem::path& folder, std::vector<std::string> command,
                     std::string pythonpath)
      : folder_(folder), program_(std::move(command)), pythonpath_(std::move(pythonpath)) {
    start(0);
  }
  ~BoardServerProcess() { kill(); }
  BoardServerProcess(const BoardServerProcess&) = delete;
  BoardServerProcess& operator=(const BoardServerProcess&) = delete;

  // kill -9, and the process reaped.
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Started again where it listened before.
  void restart() {
    kill();
    start(port);
  }
  // Started again where it listened before, with other options: another sensor.
  void restart(std::vector<std::string> options) {
    options_ = std::move(options);
    restart();
  }
  pid_t pid() const { return pid_; }
  // What it printed so far: its address, then its log.
  std::string printed() const {
    std::ifstream in(folder_ / "board.out");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string address;  // "127.0.0.1:PORT"; empty when it did not start
  int port = 0;

 private:
  void start(int wanted_port) {
    std::filesystem::create_directories(folder_);
    const std::string out = (folder_ / "board.out").string();
    std::filesystem::remove(out);
    std::vector<std::string> arguments = program_;
    arguments.insert(arguments.end(), {"--listen", "127.0.0.1:" + std::to_string(wanted_port)});
    arguments.insert(arguments.end(), options_.begin(), options_.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& a : arguments) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (::chdir(folder_.c_str()) != 0) ::_exit(127);
      if (!pythonpath_.empty() && ::setenv("PYTHONPATH", pythonpath_.c_str(), 1) != 0) ::_exit(127);
      if (std::freopen(out.c_str(), "w", stdout) == nullptr) ::_exit(127);
      ::dup2(STDOUT_FILENO, STDERR_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    address.clear();
    for (int i = 0; i < 500 && address.empty(); ++i) {
      std::ifstream printed(out);
      std::string line;
      std::getline(printed, line);
      if (const auto at = line.find("127.0.0.1:"); at != std::string::npos) {
        address = line.substr(at, line.find_first_of(" \n", at) - at);
        port = std::stoi(address.substr(10));
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

  std::filesystem::path folder_;
  std::vector<std::string> options_;
  std::vector<std::string> program_ = {PRAVEL_BOARD_PATH};
  std::string pythonpath_;
  pid_t pid_ = -1;
};

}  // namespace Zelvar_Core::testing_support
