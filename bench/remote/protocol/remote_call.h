// What every client of the board protocol does around a call: the token and
// the session on it, a deadline, and the status read as the bench's own
// exceptions and sentences.
#pragma once

#include <grpcpp/grpcpp.h>

#include <memory>
#include <string>

#include "bench/board/board.h"
#include "bench/board/board_declaration.h"
#include "bench/board/registers.h"
#include "bench/board/sensor.h"
#include "zelvar/board/v1/board.grpc.pb.h"

namespace Zelvar_Core::bench::remote {

namespace v1 = ::zelvar::board::v1;

// The most writes one WriteRegisters call may hold; a client splits more.
constexpr int kMostWritesAtOnce = 4096;

// A context carrying `token` (when any) and `session` (when any), ending after `seconds`.
std::unique_ptr<grpc::ClientContext> call_context(const std::string& token,
                                                  const std::string& session, double seconds);
// A channel that tries again quickly once a server that went away is back,
// and finds a server that stopped answering by its keepalive pings: one
// every kKeepalive, each answered within kPingTimeout; over TLS when `tls_ca` holds the PEM of the
// CA that signed the server's certificate, in clear when it is empty. A message longer than
// `largest_message` bytes (0: the library's 4 MiB) is refused with
// RESOURCE_EXHAUSTED rather than read.
constexpr std::chrono::milliseconds kKeepalive{1000}, kPingTimeout{2000};
// How long one attempt to connect may take, its handshake included.
constexpr std::chrono::milliseconds kConnectAttempt{3000};
std::shared_ptr<grpc::Channel> board_channel(const std::string& address,
                                             const std::string& tls_ca = "",
                                             std::size_t largest_message = 0);
// The credentials of a channel to a board server: TLS checked against the
// CA certificate `tls_ca` (PEM), or none when it is empty.
std::shared_ptr<grpc::ChannelCredentials> board_credentials(const std::string& tls_ca);
// The sentence for a server that does not answer at `address`: its TLS
// certificate not signed by the CA given, or nothing that answers at all.
std::string no_answer_sentence(const grpc::Status& status, const std::string& address, bool tls);

// The reason code a server gave with a failed call (the trailing metadata
// "zelvar-reason": "BOARD_UNPLUGGED", ...); REASON_UNSPECIFIED when it gave
// none, or one this side does not know. Read once the call has ended.
v1::Reason reason_of(const grpc::ClientContext& context);
// A server's sentence as the bench shows it: at most `kLongestSentence`
// bytes, cut with "...", every byte that is not printable UTF-8 shown as "?".
constexpr std::size_t kLongestSentence = 1024;
std::string server_sentence(const std::string& message);

// True when the status says nobody speaking the protocol answered: nothing
// listening, a server that never answers, or one in another protocol. A
// server that answered gives its reason code.
bool no_server_answers(const grpc::Status& status, v1::Reason reason = v1::REASON_UNSPECIFIED);
// Throws what the status says, as the bench's exceptions (RangeError,
// std::out_of_range, Cancelled, std::runtime_error), by the reason code, or
// by the status code from a server that gives none; a server that went away
// is told as "The board server at ADDRESS does not answer: WHAT".
void throw_unless_ok(const grpc::Status& status, v1::Reason reason, const std::string& address,
                     const std::string& what);

// This computer's name, for a claim others read ("lab-pc-3").
std::string this_host();

// The bitstream at `path` as bytes: only a regular file of at most
// `largest` bytes, the largest design the board holds.
std::string read_bitstream_file(const std::string& path,
                                std::uint64_t largest = Board::kMaxDesignBytes);

// The ADC's channels in the order the board declared them (the AER-640's
// VDD, VDDIO, temperature and Ibias for one that declares none), found by
// the names the board gives them; NaN for one it did not give.
std::vector<double> adc_values(const v1::AdcReadingReply& reply,
                               const std::vector<AdcChannelDeclaration>& channels);

Bank bank_of(v1::Bank bank);
v1::Bank wire_bank(Bank bank);
SensorMode mode_of(v1::Mode mode);  // std::invalid_argument outside the chip's modes
v1::Mode wire_mode(SensorMode mode);
v1::ResetKind wire_reset(const std::string& name);  // "reset_device", ...

}  // namespace Zelvar_Core::bench::remote
