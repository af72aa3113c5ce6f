// Calls refused for a wrong or missing token, kept per host: a host that
// keeps guessing is refused for a while without its token being looked at,
// and the log tells each host's refusals once per interval with their count
// rather than a line per call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Zelvar_Core::bench::remote {

class Refusals {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // Wrong tokens a host may send at once; then one more per kRefill.
  static constexpr unsigned kBurst = 10;
  static constexpr std::chrono::milliseconds kRefill{1000};
  // How often a host's refusals are told in the log.
  static constexpr std::chrono::seconds kLogInterval{10};
  // Hosts followed at once; the quietest is forgotten beyond.
  static constexpr std::size_t kHostsFollowed = 1024;

  explicit Refusals(Clock clock = std::chrono::steady_clock::now) : clock_(std::move(clock)) {}

  // True while `peer`'s host has spent its wrong tokens: its call is refused
  // without its token being compared.
  bool barred(const std::string& peer);
  // Counts a refused call from `peer`, a wrong token spent when `guess`
  // (a barred call is not: the host's next guess comes when it is due
  // however often it calls meanwhile); the log lines it is time to write,
  // if any (the first refusal of an interval in full, then a count).
  std::vector<std::string> refused(const std::string& peer, const std::string& why,
                                   bool guess = true);
  // The counts of intervals that have ended, as log lines.
  std::vector<std::string> due();

  // gRPC's peer without its port ("ipv4:127.0.0.1"): a host reconnecting
  // from another port is the same host.
  static std::string host_of_peer(const std::string& peer);

 private:
  struct Host {
    double budget = kBurst;  // wrong tokens it may still send now
    std::chrono::steady_clock::time_point updated, interval_start;
    std::uint64_t unlogged = 0;  // refusals since the interval's line
    bool in_interval = false;
  };
  Host& host_locked(const std::string& host, std::chrono::steady_clock::time_point now);
  void refill_locked(Host& host, std::chrono::steady_clock::time_point now) const;
  void close_interval_locked(const std::string& name, Host& host,
                             std::chrono::steady_clock::time_point now,
                             std::vector<std::string>& lines);

  Clock clock_;
  std::mutex mutex_;
  std::map<std::string, Host> hosts_;
  std::chrono::steady_clock::time_point next_due_{};
};

}  // namespace Zelvar_Core::bench::remote
