// Who may call the board: the token every call carries when the server has
// one, and the one client that holds the board for the calls that change
// it. A holder's session lapses 10 s after its last call (a watch keeps it
// alive), so a client that died does not lock the board out.
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
  static constexpr std::chrono::seconds kLease{10};

  // `token` empty: no token is asked for.
  explicit BoardAccess(std::string token, Clock clock = std::chrono::steady_clock::now);

  // OK, or UNAUTHENTICATED: `authorization` is the call's metadata value.
  grpc::Status authenticate(const std::optional<std::string>& authorization) const;
  // The session for `client` at `peer` (its own again if it holds the board),
  // or FAILED_PRECONDITION while another client holds it.
  grpc::Status claim(const std::string& client, const std::string& peer, std::string& session);
  grpc::Status release(const std::optional<std::string>& session);
  // OK when `session` holds the board now; renews the lease.
  grpc::Status check_holder(const std::optional<std::string>& session);
  // Renews the holder's lease (a watch running); false when `session` does not hold it.
  bool renew(const std::string& session);
  // The client holding the board now, "" when none.
  std::string holder() const;

 private:
  bool held_locked() const;
  grpc::Status in_use_locked() const;

  const std::string token_;
  Clock clock_;
  mutable std::mutex mutex_;
  std::string session_, client_, peer_, since_;
  std::chrono::steady_clock::time_point last_call_{};
  unsigned long long sessions_made_ = 0;
};

}  // namespace Zelvar_Core::bench::remote
