// Who may call the board: the token every call carries when the server has
// one, and the one client that holds the board for the calls that change
// it. A holder's session lapses a lease (10 s) after the last call that
// carried it, so a client that died or was stopped does not lock the board
// out: an open watch does not keep it, only calls do.
#pragma once

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "bench/remote/protocol/token_file.h"

namespace Zelvar_Core::bench::remote {

class BoardAccess {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kLease{10000};

  // `token` empty: no token is asked for.
  explicit BoardAccess(std::string token, Clock clock = std::chrono::steady_clock::now,
                       std::chrono::milliseconds lease = kLease);
  std::chrono::milliseconds lease() const { return lease_; }

  // OK, or UNAUTHENTICATED: `authorization` is the call's metadata value.
  grpc::Status authenticate(const std::optional<std::string>& authorization) const;
  // The session for `client` at `peer`, or FAILED_PRECONDITION while another
  // client holds it. The holder gets its own again, renewed: when it carries
  // it (`presented`), or names itself as it did from the same peer.
  grpc::Status claim(const std::string& client, const std::string& peer, std::string& session,
                     const std::optional<std::string>& presented = std::nullopt);
  grpc::Status release(const std::optional<std::string>& session);
  // OK when `session` holds the board now; renews the lease.
  grpc::Status check_holder(const std::optional<std::string>& session);
  // Renews the holder's lease (any call carrying its session); false when
  // `session` does not hold the board.
  bool renew(const std::string& session);
  // The client holding the board now, "" when none.
  std::string holder() const;
  // How many sessions were made, and how many times a holder's lease was
  // renewed (by a call or a claim); for the log and for tests.
  unsigned long long sessions_made() const;
  unsigned long long renewals() const;

 private:
  bool held_locked() const;
  grpc::Status in_use_locked() const;

  const std::string token_;
  Clock clock_;
  const std::chrono::milliseconds lease_;
  mutable std::mutex mutex_;
  std::string session_, client_, peer_, since_;
  std::string claimed_as_;  // the name the holder gave, "" when it gave none
  std::chrono::steady_clock::time_point last_call_{};
  unsigned long long sessions_made_ = 0, renewals_ = 0;
};

}  // namespace Zelvar_Core::bench::remote
