#include "bench/remote/server/board_access.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <ctime>
#include <random>
#include <stdexcept>

namespace Zelvar_Core::bench::remote {

namespace {

// A session no other client can guess from the ones it saw.
std::string new_session(unsigned long long n) {
  std::random_device random;
  return fmt::format("{:016x}{:08x}{:x}",
                     (static_cast<unsigned long long>(random()) << 32) ^ random(), random(), n);
}

}  // namespace

BoardAccess::BoardAccess(std::string token, Clock clock, std::chrono::milliseconds lease)
    : token_(std::move(token)), clock_(std::move(clock)), lease_(lease) {}

grpc::Status BoardAccess::authenticate(const std::optional<std::string>& authorization) const {
  if (token_.empty() || (authorization && same_secret(*authorization, "Bearer " + token_)))
    return grpc::Status::OK;
  return {grpc::StatusCode::UNAUTHENTICATED, "The board refuses the call: wrong or missing token"};
}

bool BoardAccess::held_locked() const {
  return !session_.empty() && clock_() - last_call_ < lease_;
}

grpc::Status BoardAccess::in_use_locked() const {
  if (!held_locked()) return {grpc::StatusCode::FAILED_PRECONDITION, "Claim the board first"};
  return {grpc::StatusCode::FAILED_PRECONDITION,
          fmt::format("The board is in use by {} at {} since {}", client_, peer_, since_)};
}

grpc::Status BoardAccess::claim(const std::string& client, const std::string& peer,
                                std::string& session, const std::optional<std::string>& presented) {
  std::lock_guard lock(mutex_);
  const bool holder = (presented && !presented->empty() && *presented == session_) ||
                      (client == claimed_as_ && peer == peer_);
  if (held_locked() && !holder) return in_use_locked();
  if (!held_locked()) {
    session_ = new_session(++sessions_made_);
    claimed_as_ = client;
    client_ = client.empty() ? "an unnamed client" : client;
    peer_ = peer;
    const std::time_t now = std::time(nullptr);
    since_ = fmt::format("{:%H:%M:%S}", fmt::localtime(now));
  } else {
    peer_ = peer;  // the holder back on a new connection
    ++renewals_;
  }
  last_call_ = clock_();
  session = session_;
  return grpc::Status::OK;
}

grpc::Status BoardAccess::release(const std::optional<std::string>& session) {
  std::lock_guard lock(mutex_);
  if (!session || !same_secret(*session, session_) || !held_locked()) return in_use_locked();
  session_.clear();
  client_.clear();
  claimed_as_.clear();
  peer_.clear();
  return grpc::Status::OK;
}

grpc::Status BoardAccess::check_holder(const std::optional<std::string>& session) {
  std::lock_guard lock(mutex_);
  if (!session || !same_secret(*session, session_) || !held_locked()) return in_use_locked();
  last_call_ = clock_();
  ++renewals_;
  return grpc::Status::OK;
}

bool BoardAccess::renew(const std::string& session) {
  std::lock_guard lock(mutex_);
  if (session.empty() || !same_secret(session, session_) || !held_locked()) return false;
  last_call_ = clock_();
  ++renewals_;
  return true;
}

unsigned long long BoardAccess::sessions_made() const {
  std::lock_guard lock(mutex_);
  return sessions_made_;
}

unsigned long long BoardAccess::renewals() const {
  std::lock_guard lock(mutex_);
  return renewals_;
}

std::string BoardAccess::holder() const {
  std::lock_guard lock(mutex_);
  return held_locked() ? client_ : "";
}

}  // namespace Zelvar_Core::bench::remote
