#include "bench/remote/server/refusals.h"

#include <fmt/format.h>

#include <algorithm>

#include "bench/remote/server/names.h"

namespace Zelvar_Core::bench::remote {

std::string Refusals::host_of_peer(const std::string& peer) {
  const auto colon = peer.rfind(':');
  // "ipv4:1.2.3.4:5" and "ipv6:[::1]:5" lose their port; "unix:/path" has none.
  if (colon == std::string::npos || colon + 1 == peer.size() ||
      peer.find_first_not_of("0123456789", colon + 1) != std::string::npos ||
      peer.find(':') == colon)
    return peer;
  return peer.substr(0, colon);
}

void Refusals::refill_locked(Host& host, std::chrono::steady_clock::time_point now) const {
  const double earned =
      std::chrono::duration<double>(now - host.updated) / std::chrono::duration<double>(kRefill);
  host.budget = std::min<double>(kBurst, host.budget + std::max(0.0, earned));
  host.updated = now;
}

Refusals::Host& Refusals::host_locked(const std::string& name,
                                      std::chrono::steady_clock::time_point now) {
  auto found = hosts_.find(name);
  if (found != hosts_.end()) return found->second;
  if (hosts_.size() >= kHostsFollowed) {
    // The host refused longest ago is forgotten (its count is lost from the log).
    auto quietest = std::min_element(
        hosts_.begin(), hosts_.end(),
        [](const auto& a, const auto& b) { return a.second.updated < b.second.updated; });
    hosts_.erase(quietest);
  }
  Host& host = hosts_[name];
  host.updated = now;
  return host;
}

bool Refusals::barred(const std::string& peer) {
  std::lock_guard lock(mutex_);
  const auto found = hosts_.find(host_of_peer(peer));
  if (found == hosts_.end()) return false;
  refill_locked(found->second, clock_());
  return found->second.budget < 1;
}

void Refusals::close_interval_locked(const std::string& name, Host& host,
                                     std::chrono::steady_clock::time_point now,
                                     std::vector<std::string>& lines) {
  if (!host.in_interval || now - host.interval_start < kLogInterval) return;
  if (host.unlogged > 0)
    lines.push_back(fmt::format("Refused {} more calls from {} in the last {} s", host.unlogged,
                                name, kLogInterval.count()));
  host.unlogged = 0;
  host.in_interval = false;
}

std::vector<std::string> Refusals::refused(const std::string& peer, const std::string& why,
                                           bool guess) {
  std::lock_guard lock(mutex_);
  const auto now = clock_();
  const std::string name = log_safe(host_of_peer(peer));
  Host& host = host_locked(name, now);
  refill_locked(host, now);
  if (guess) host.budget = std::max(0.0, host.budget - 1);
  std::vector<std::string> lines;
  close_interval_locked(name, host, now, lines);
  if (!host.in_interval) {
    lines.push_back(fmt::format("Refused a call from {}: {}", log_safe(peer), why));
    host.in_interval = true;
    host.interval_start = now;
    if (next_due_ == std::chrono::steady_clock::time_point{} || now + kLogInterval < next_due_)
      next_due_ = now + kLogInterval;
  } else {
    ++host.unlogged;
  }
  return lines;
}

std::vector<std::string> Refusals::due() {
  std::vector<std::string> lines;
  std::lock_guard lock(mutex_);
  const auto now = clock_();
  if (next_due_ == std::chrono::steady_clock::time_point{} || now < next_due_) return lines;
  next_due_ = {};
  for (auto& [name, host] : hosts_) {
    close_interval_locked(name, host, now, lines);
    if (host.in_interval && (next_due_ == std::chrono::steady_clock::time_point{} ||
                             host.interval_start + kLogInterval < next_due_))
      next_due_ = host.interval_start + kLogInterval;
  }
  return lines;
}

}  // namespace Zelvar_Core::bench::remote
