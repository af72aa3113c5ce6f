// A throwaway PostgreSQL server for the results tests and benchmarks: made
// with initdb in a scratch folder, listening only on a Unix socket in that
// folder, stopped and removed after. PostgreSQL refuses to run as root, so
// under root it runs as the user nobody. Missing binaries fail in a
// sentence: scripts/deps.sh installs them.
#pragma once

#include <glob.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zelvar_Core::testing_support {

class PostgresServer {
 public:
  PostgresServer() {
    bin_ = find_binaries();
    // The socket's path must stay short (about 100 bytes), whatever TMPDIR is.
    std::string base = std::filesystem::temp_directory_path().string();
    if (base.size() > 60) base = "/tmp";
    std::string pattern = base + "/zelvar-pg-XXXXXX";
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("No scratch folder for the PostgreSQL server under " + base + ".");
    folder_ = pattern;
    as_nobody_ = geteuid() == 0;
    if (as_nobody_ && chown(folder_.c_str(), 65534, 65534) != 0)
      throw std::runtime_error("The scratch folder " + folder_ + " cannot be given to nobody.");
    shell(command("initdb") + " -D " + quoted(folder_ + "/data") +
              " -A trust -U bench -E UTF8 --locale=C --no-sync > " +
              quoted(folder_ + "/initdb.log") + " 2>&1",
          "initdb");
    start();
  }
  ~PostgresServer() {
    if (running_) {
      thaw();
      const int stopped = std::system((command("pg_ctl") + " -D " + quoted(folder_ + "/data") +
                                       " -m immediate -w stop > /dev/null 2>&1")
                                          .c_str());
      (void)stopped;  // nothing more to do in a destructor
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  void start() {
    shell(command("pg_ctl") + " -D " + quoted(folder_ + "/data") + " -l " +
              quoted(folder_ + "/server.log") + " -w -t 120 -o " +
              quoted("-k " + folder_ + " -c listen_addresses= -p 5432 -F") + " start > /dev/null",
          "pg_ctl start");
    running_ = true;
  }
  // As a crash or a pulled cable would: no goodbye to the clients.
  void stop() {
    shell(command("pg_ctl") + " -D " + quoted(folder_ + "/data") +
              " -m immediate -w stop > /dev/null",
          "pg_ctl stop");
    running_ = false;
  }
  // Every process of the server stopped (SIGSTOP) or let go on (SIGCONT).
  void freeze() { signal_all(SIGSTOP); }
  void thaw() { signal_all(SIGCONT); }

  // A URL of a database on this server; "postgres" is always there.
  std::string url(const std::string& database = "postgres",
                  const std::string& password = "") const {
    return "postgresql://bench" + (password.empty() ? "" : ":" + password) + "@/" + database +
           "?host=" + folder_ + "&port=5432";
  }
  const std::string& folder() const { return folder_; }

 private:
  static std::string find_binaries() {
    glob_t found{};
    std::vector<std::string> folders;
    if (glob("/usr/lib/postgresql/*/bin/pg_ctl", 0, nullptr, &found) == 0)
      for (std::size_t i = 0; i < found.gl_pathc; ++i)
        folders.push_back(std::filesystem::path(found.gl_pathv[i]).parent_path().string());
    globfree(&found);
    if (folders.empty())
      throw std::runtime_error(
          "PostgreSQL's server programs (initdb, pg_ctl in /usr/lib/postgresql/*/bin) are not "
          "installed: run scripts/deps.sh, which installs the postgresql package.");
    std::sort(folders.begin(), folders.end());
    return folders.back();
  }

  static std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }

  std::string command(const std::string& program) const {
    return (as_nobody_ ? "runuser -u nobody -- " : "") + quoted(bin_ + "/" + program);
  }

  void shell(const std::string& line, const std::string& what) const {
    if (std::system(line.c_str()) != 0) {
      std::string log;
      for (const char* name : {"/initdb.log", "/server.log"}) {
        std::ifstream in(folder_ + name);
        log += std::string(std::istreambuf_iterator<char>(in), {});
      }
      throw std::runtime_error("The test's PostgreSQL server failed at " + what + ": " + log);
    }
  }

  void signal_all(int signal) const {
    std::ifstream pid_file(folder_ + "/data/postmaster.pid");
    pid_t postmaster = 0;
    if (!(pid_file >> postmaster)) return;
    ::kill(postmaster, signal);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      char state = 0;
      long parent = 0;
      if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 &&
          parent == postmaster)
        ::kill(static_cast<pid_t>(std::stol(entry.path().filename().string())), signal);
    }
  }

  std::string bin_, folder_;
  bool as_nobody_ = false;
  bool running_ = false;
};

}  // namespace Zelvar_Core::testing_support
